// What the installation leaves on the disk: the bytes of every installed
// file are there before a save records it, a disk that refuses them keeps
// them from being recorded, a rename that cannot work fails the file, and a
// folder that the player moved elsewhere by a link is still followed.
#include <sys/mount.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/disk_flush.h"
#include "tests/updater_nginx/updater_nginx_support.h"
#include "updater/file_manifest.h"

namespace fs = std::filesystem;

namespace {

const file_tree RELEASE = {
    {"readme.txt", "Welcome to Torvane.\n"},
    {"data/level.map", random_bytes(5000, 7, false)},
};

// Whether the installation's manifest on the disk lists |name| now.
bool recorded(const installation &install, const std::string &name) {
  ovu_file_manifest manifest;
  manifest.load_file(install.manifest_path().c_str());
  return manifest.find(name.c_str()) != nullptr;
}

// Puts |calls| in place of the system's flushes for the life of the object.
class replaced_flushes {
 public:
  explicit replaced_flushes(const qarn_disk_flush_calls &calls) { qarn_set_disk_flush_calls(&calls); }
  ~replaced_flushes() { qarn_set_disk_flush_calls(nullptr); }
  replaced_flushes(const replaced_flushes &) = delete;
  replaced_flushes &operator=(const replaced_flushes &) = delete;
};

int refuse(const char *) { return -1; }

class durable_install_test : public updater_nginx_test {};

// What each step of the flush saw of the one file being installed.
struct flush_watch {
  const installation *install = nullptr;
  std::string name;
  std::string bytes;
  std::vector<std::string> seen;
};
flush_watch g_watch;

int watch_new_file(const char *path) {
  const installation &install = *g_watch.install;
  g_watch.seen.push_back(std::string("file: ") + (path == install.file("tmp/update.tmp") ? "temporary" : path) +
                         (read_file(path) == g_watch.bytes ? ", the new bytes" : ", other bytes") +
                         (fs::exists(install.file(g_watch.name)) ? ", in place" : ", not in place"));
  return 0;
}

int watch_new_files(const char *path) {
  const installation &install = *g_watch.install;
  g_watch.seen.push_back(std::string("files: ") + (fs::equivalent(path, install.file("tmp")) ? "tmp" : path) +
                         (read_file(install.file(g_watch.name)) == g_watch.bytes ? ", in place" : ", not in place") +
                         (recorded(install, g_watch.name) ? ", recorded" : ", not recorded"));
  return 0;
}

// On every system both steps are asked, in their order: the new file
// before its rename, its file system after the rename and before the save
// that records the file.
TEST_F(durable_install_test, each_file_is_flushed_before_its_rename_and_its_file_system_before_the_save) {
  ASSERT_EQ(publish_release("/watched", {{"readme.txt", "Welcome to Torvane.\n"}}), 0);
  installation install;
  g_watch = flush_watch();
  g_watch.install = &install;
  g_watch.name = "readme.txt";
  g_watch.bytes = "Welcome to Torvane.\n";
  update_outcome out;
  {
    replaced_flushes watched({nullptr, watch_new_file, watch_new_files});
    out = run_update(install, "/watched");
  }
  ASSERT_EQ(out.result, 0);
  EXPECT_EQ(out.stats.successfully_saved_file_count, 1);
  EXPECT_EQ(g_watch.seen, (std::vector<std::string>{"file: temporary, the new bytes, not in place",
                                                     "files: tmp, in place, not recorded"}));
  EXPECT_TRUE(recorded(install, "readme.txt"));
}

// The file system cannot take the new files' bytes: no save may record
// them, so the process ends as when the manifest cannot be saved.
TEST_F(durable_install_test, a_file_system_that_cannot_be_flushed_ends_the_process_before_the_files_are_recorded) {
  ASSERT_EQ(publish_release("/unflushed", RELEASE), 0);
  installation install;
  EXPECT_EXIT(
      {
        replaced_flushes failing({nullptr, nullptr, refuse});
        update_settings settings;
        settings.print_messages = true;
        run_update(install, "/unflushed", settings);
      },
      testing::ExitedWithCode(1), "Error - unable to flush the updated files to disk\\.  Bailing out\\.");
  EXPECT_FALSE(recorded(install, "readme.txt"));
  EXPECT_FALSE(recorded(install, "data/level.map"));
  EXPECT_EQ(read_file(install.manifest_path()), MANIFEST_HEADER);
}

// A save that fails ends the process while helpers still download ahead:
// it waits for them a bounded time only, and leaves none of their
// temporary files. Under /throttled/, "big.dat" takes about a minute, so
// the periodic save after "a.txt" comes while a helper still receives it.
TEST_F(durable_install_test, a_save_that_fails_while_files_download_ahead_ends_within_a_bounded_wait) {
  file_tree files{{"a.txt", "installed first\n"}, {"big.dat", std::string(32 << 20, 'b')}};
  for (int i = 0; i < 6; i++) {
    files["z" + std::to_string(i) + ".dat"] = "file " + std::to_string(i);
  }
  ASSERT_EQ(publish_release("/throttled/unsaved", files), 0);
  installation install;
  // The periodic save's interval, the helpers' bounded wait and slack: far
  // below the minute that "big.dat" takes.
  constexpr int64_t kMostWaitS = OVU_MANIFEST_SAVE_INTERVAL_S + 15;
  auto started = std::chrono::steady_clock::now();
  EXPECT_EXIT(
      {
        replaced_flushes failing({nullptr, nullptr, refuse});
        update_settings settings;
        settings.print_messages = true;
        settings.parallel_downloads = 4;
        run_update(install, "/throttled/unsaved", settings);
      },
      testing::ExitedWithCode(1), "Error - unable to flush the updated files to disk\\.  Bailing out\\.");
  auto waited = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started);
  EXPECT_LT(waited.count(), kMostWaitS);
  EXPECT_EQ(temporary_files(install).find("update.tmp"), std::string::npos) << temporary_files(install);
  EXPECT_FALSE(recorded(install, "a.txt"));
}

// A new version that cannot be flushed never replaces the old one.
TEST_F(durable_install_test, a_new_file_that_cannot_be_flushed_fails_and_leaves_the_old_version) {
  ASSERT_EQ(publish_release("/unflushed_file", RELEASE), 0);
  installation install;
  ASSERT_EQ(run_update(install, "/unflushed_file").result, 0);
  file_tree next = RELEASE;
  next["readme.txt"] = "Welcome to Torvane, release 2.\n";
  ASSERT_EQ(publish_release("/unflushed_file", next), 0);
  update_outcome out;
  {
    replaced_flushes failing({nullptr, refuse, nullptr});
    out = run_update(install, "/unflushed_file");
  }
  ASSERT_EQ(out.result, 0);
  EXPECT_TRUE(has_message(out, "Unable to update file 'readme.txt' - cannot write new version."));
  EXPECT_EQ(out.stats.failed_save_file_count, 1);
  EXPECT_EQ(out.stats.successfully_saved_file_count, 0);
  EXPECT_EQ(read_file(install.file("readme.txt")), RELEASE.at("readme.txt"));
  EXPECT_FALSE(recorded(install, "readme.txt"));
  EXPECT_TRUE(recorded(install, "data/level.map"));
}

// The temporary file on another file system than the game: no rename can
// work (EXDEV), so every file fails to be saved and none is recorded.
TEST_F(durable_install_test, a_rename_across_file_systems_fails_each_file_and_records_none) {
  ASSERT_EQ(publish_release("/cross_device", RELEASE), 0);
  installation install;
  const std::string tmp = install.file("tmp");
  fs::create_directory(tmp);
  // The tests run in a mount namespace of their own: the mount is theirs.
  if (mount("tmpfs", tmp.c_str(), "tmpfs", 0, "size=1m") != 0) {
    GTEST_SKIP() << "cannot mount a file system of its own for tmp/: " << std::strerror(errno);
  }
  struct stat game_status = {};
  struct stat tmp_status = {};
  bool other_device = stat(install.path().c_str(), &game_status) == 0 && stat(tmp.c_str(), &tmp_status) == 0 &&
                      game_status.st_dev != tmp_status.st_dev;
  update_outcome out = run_update(install, "/cross_device");
  umount2(tmp.c_str(), MNT_DETACH);
  ASSERT_TRUE(other_device);
  ASSERT_EQ(out.result, 0);
  EXPECT_TRUE(has_message(out, "Unable to update file 'readme.txt' - cannot write new version."));
  EXPECT_TRUE(has_message(out, "Unable to update file 'data/level.map' - cannot write new version."));
  EXPECT_EQ(out.stats.failed_save_file_count, 2);
  EXPECT_EQ(out.stats.successfully_saved_file_count, 0);
  EXPECT_FALSE(recorded(install, "readme.txt"));
  EXPECT_FALSE(recorded(install, "data/level.map"));
  EXPECT_FALSE(fs::exists(install.file("readme.txt")));
}

// A player moved the data folder away and left a link in its place: the
// launcher still installs through it, and the next run finds the files.
TEST_F(durable_install_test, a_folder_the_player_linked_elsewhere_is_still_followed) {
  ASSERT_EQ(publish_release("/linked", RELEASE), 0);
  installation install;
  scratch_directory elsewhere;
  const std::string moved = elsewhere.path().string();
  fs::create_directory_symlink(moved, install.file("data"));
  update_outcome out = run_update(install, "/linked");
  ASSERT_EQ(out.result, 0);
  EXPECT_EQ(out.stats.successfully_saved_file_count, 2);
  EXPECT_TRUE(fs::is_symlink(install.file("data")));
  EXPECT_EQ(read_file(moved + "/level.map"), RELEASE.at("data/level.map"));
  update_outcome again = run_update(install, "/linked");
  EXPECT_EQ(again.stats.expected_download_file_count, 0);
}

}  // namespace
