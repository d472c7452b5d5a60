// Crash safety: an update killed at any moment leaves an installation that
// the next run brings back in line by itself, whichever release the server
// offers then. Two versions of a game alternate, so every run has files to
// replace.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <cstdio>
#include <random>
#include <string>
#include <thread>

#include "tests/common/scratch_directory.h"
#include "tests/updater_nginx/updater_nginx_support.h"
#include "updater/file_manifest.h"

namespace {

constexpr int REQUIRED_KILLS = 60;
constexpr int MAX_ATTEMPTS = 150;                  // kills that miss a running update do not count
constexpr int FILE_COUNT = 300;
constexpr auto TIME_BOUND = std::chrono::seconds(240);

// Two releases of the same game: a third of the files equal, a third with
// other bytes of the same size, a third with another size, and files that
// only one of them has.
void make_releases(file_tree *first, file_tree *second) {
  std::mt19937 random(20261210);
  for (int i = 0; i < FILE_COUNT; i++) {
    std::string name = "data/d" + std::to_string(i % 7) + "/file " + std::to_string(i) + ".dat";
    size_t size = 1 + random() % 24000;
    std::string bytes = random_bytes(size, random(), false);
    (*first)[name] = bytes;
    switch (i % 3) {
      case 0:
        (*second)[name] = bytes;
        break;
      case 1:
        (*second)[name] = random_bytes(size, random(), false);
        break;
      default:
        (*second)[name] = random_bytes(1 + random() % 24000, random(), false);
        break;
    }
  }
  for (int i = 0; i < 20; i++) {
    (*first)["only/first " + std::to_string(i)] = random_bytes(100 + i, random(), false);
    (*second)["only/second " + std::to_string(i)] = random_bytes(200 + i, random(), false);
  }
}

// Starts update_child in |directory| for |root|; returns its process id.
pid_t start_update(const std::string &directory, const std::string &root) {
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(directory.c_str()) != 0) {
      _exit(127);
    }
    execl(UPDATE_CHILD_PATH, UPDATE_CHILD_PATH, root.c_str(), MANIFEST_NAME, static_cast<char *>(nullptr));
    _exit(127);
  }
  return pid;
}

// Runs update_child to its end; returns its exit code.
int run_to_end(const std::string &directory, const std::string &root) {
  int status = 0;
  waitpid(start_update(directory, root), &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Every file of |release| is in the installation with exactly its bytes.
void expect_installed(const installation &install, const file_tree &release, const char *when) {
  file_tree installed = install.game_files();
  int wrong = 0;
  for (const auto &file : release) {
    auto it = installed.find(file.first);
    if (it == installed.end() || it->second != file.second) {
      wrong++;
    }
  }
  EXPECT_EQ(wrong, 0) << when;
}

class crash_safety_test : public updater_nginx_test {};

TEST_F(crash_safety_test, updates_killed_at_random_moments_are_repaired_by_the_next_run) {
  file_tree first;
  file_tree second;
  make_releases(&first, &second);
  ASSERT_EQ(publish_release("/crash_first", first), 0);
  ASSERT_EQ(publish_release("/crash_second", second), 0);
  const std::string roots[] = {"/crash_first", "/crash_second"};

  // How long an update from one release to the other takes here sets the
  // range of kill moments.
  int64_t update_us = 0;
  {
    installation timing;
    ASSERT_EQ(run_to_end(timing.path(), roots[0]), 0);
    for (int toward : {1, 0}) {
      auto start = std::chrono::steady_clock::now();
      ASSERT_EQ(run_to_end(timing.path(), roots[toward]), 0);
      int64_t took =
          std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
      update_us = update_us == 0 ? took : std::min(update_us, took);
    }
    std::printf("an update from one release to the other takes %lld ms\n", static_cast<long long>(update_us / 1000));
  }

  // Each attempt kills an update toward the other release, then lets a
  // whole update run: every other time back to the release that was
  // installed before (the killed update may have replaced files the
  // manifest still records as that release), every other time on to the
  // new one.
  installation install;
  int installed = 0;
  ASSERT_EQ(run_to_end(install.path(), roots[installed]), 0);
  std::mt19937 random(4242);
  const auto deadline = std::chrono::steady_clock::now() + TIME_BOUND;
  int kills = 0;
  int attempts = 0;
  for (; kills < REQUIRED_KILLS && attempts < MAX_ATTEMPTS && std::chrono::steady_clock::now() < deadline;
       attempts++) {
    int target = 1 - installed;
    pid_t pid = start_update(install.path(), roots[target]);
    const int64_t wait_us = static_cast<int64_t>(random() % static_cast<uint64_t>(update_us));
    std::this_thread::sleep_for(std::chrono::microseconds(wait_us));
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) {
      kills++;
    } else {
      ASSERT_TRUE(WIFEXITED(status)) << "attempt " << attempts;
      ASSERT_EQ(WEXITSTATUS(status), 0) << "attempt " << attempts;
      // The timing runs may have met a busy machine: an update that ended
      // before its kill bounds how long updates take now.
      update_us = std::max<int64_t>(wait_us, 1000);
    }
    ovu_file_manifest manifest;
    ASSERT_GE(manifest.load_file(install.manifest_path().c_str()), 0) << "after attempt " << attempts;

    int repair = attempts % 2 == 0 ? installed : target;
    ASSERT_EQ(run_to_end(install.path(), roots[repair]), 0) << "attempt " << attempts;
    std::string when = "attempt " + std::to_string(attempts) + ", " + (repair == installed ? "back" : "on");
    expect_installed(install, repair == 0 ? first : second, when.c_str());
    if (HasFailure()) {
      break;
    }
    installed = repair;
  }
  std::printf("%d updates killed in %d attempts\n", kills, attempts);
  EXPECT_GE(kills, REQUIRED_KILLS);
}

// The save itself, killed at any moment, leaves either the old or the new
// manifest, whole.
TEST(manifest_save_kill_test, a_killed_save_leaves_a_whole_manifest) {
  constexpr int ENTRIES = 20000;
  constexpr int SAVE_KILLS = 30;
  scratch_directory dir;
  std::mt19937 random(77);
  int whole = 0;
  for (int round = 0; round < SAVE_KILLS; round++) {
    pid_t pid = fork();
    if (pid == 0) {
      if (chdir(dir.path().string().c_str()) != 0) {
        _exit(127);
      }
      execl(MANIFEST_SAVER_PATH, MANIFEST_SAVER_PATH, std::to_string(ENTRIES).c_str(), static_cast<char *>(nullptr));
      _exit(127);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(20000 + random() % 200000));
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the saver stopped by itself in round " << round;
    if (!std::filesystem::exists(dir.file("update_manifest.lst"))) {
      continue;  // killed before its first save was complete
    }
    ovu_file_manifest manifest;
    ASSERT_EQ(manifest.load_file(dir.file("update_manifest.lst").c_str()), ENTRIES) << "round " << round;
    whole++;
  }
  EXPECT_GT(whole, SAVE_KILLS / 2);
}

}  // namespace
