// Downloads in flight at once: what the installation shows, records and
// leaves behind is what one download after the other gives, and files run
// ahead of their installation only as far as the window lets them.
#include <atomic>
#include <cstring>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>

#include "tests/updater_nginx/updater_nginx_support.h"
#include "updater/download_pipeline.h"

namespace fs = std::filesystem;

namespace {

class parallel_download_test : public updater_nginx_test {};

// Many small files and a few of several read blocks, so that a file's
// progress comes in more than one event.
file_tree many_files() {
  file_tree files;
  for (int i = 0; i < 30; i++) {
    char name[32];
    std::snprintf(name, sizeof(name), "many/%02d.dat", i);
    size_t size = i % 10 == 3 ? 300 * 1024 + static_cast<size_t>(i) : static_cast<size_t>(i) * 97 + 1;
    files[name] = random_bytes(size, static_cast<uint32_t>(i), false);
  }
  return files;
}

// |text| with the installation's path as "INSTALL", and each download's
// own temporary file, which the downloader's reports name, as the one
// temporary file of one download after the other.
std::string with_common_names(std::string text, const installation &install) {
  for (size_t at; (at = text.find(install.path())) != std::string::npos;) {
    text.replace(at, install.path().size(), "INSTALL");
  }
  const std::string temporary = "tmp/update.tmp.";
  for (size_t at = 0; (at = text.find(temporary, at)) != std::string::npos;) {
    size_t digits = at + temporary.size();
    size_t end = digits;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') {
      end++;
    }
    text.erase(digits - 1, end - digits + 1);
    at = digits;
  }
  return text;
}

struct parallel_run {
  std::string shown;  // messages and diagnostics, in the order they came
  std::string manifest;
  update_outcome out;
  std::string left_in_tmp;
};

}  // namespace

TEST_F(parallel_download_test, every_number_in_flight_shows_and_records_what_one_does) {
  file_tree files = many_files();
  ASSERT_EQ(publish_release("/parallel", files), 0);
  // A file the server lacks, and one whose bytes are not the published
  // ones (the release declares SHA-256 tokens): both fail in their turn.
  std::string docroot = update_server().docroot();
  fs::remove(fs::path(docroot) / "parallel/many/07.dat");
  std::string changed = files["many/13.dat"];
  changed[changed.size() / 2] ^= 1;
  write_file((fs::path(docroot) / "parallel/many/13.dat").string(), changed);

  std::map<int, parallel_run> runs;
  for (int in_flight : {1, 2, 4, 8}) {
    installation install;
    update_settings settings;
    settings.verbose = true;
    settings.echo_messages = true;
    settings.parallel_downloads = in_flight;
    parallel_run &run = runs[in_flight];
    start_capture();
    run.out = run_update(install, "/parallel", settings);
    run.shown = with_common_names(stop_capture(), install);
    for (std::string &message : run.out.messages) {
      message = with_common_names(message, install);
    }
    run.manifest = read_file(install.manifest_path());
    run.left_in_tmp = temporary_files(install);
    file_tree expected = files;
    expected.erase("many/07.dat");
    expected.erase("many/13.dat");
    EXPECT_EQ(install.game_files(), expected) << in_flight << " in flight";
  }
  const parallel_run &one = runs[1];
  ASSERT_EQ(one.out.result, OVU_UPDATE_DONE);
  EXPECT_EQ(one.out.stats.failed_download_file_count, 2);
  EXPECT_EQ(one.out.stats.successfully_saved_file_count, 28);
  EXPECT_NE(one.shown.find("Unable to update file 'many/07.dat' - download failed."), std::string::npos) << one.shown;
  EXPECT_NE(one.shown.find("File 'many/13.dat' failed verification"), std::string::npos) << one.shown;
  for (const auto &[in_flight, run] : runs) {
    EXPECT_EQ(run.shown, one.shown) << in_flight << " in flight";
    EXPECT_EQ(run.manifest, one.manifest) << in_flight << " in flight";
    EXPECT_EQ(run.out.messages, one.out.messages) << in_flight << " in flight";
    EXPECT_EQ(0, std::memcmp(&run.out.stats, &one.out.stats, sizeof(ovu_update_stats))) << in_flight << " in flight";
    if (in_flight > 1) {
      EXPECT_EQ(run.left_in_tmp, "") << in_flight << " in flight";
    }
  }
}

TEST_F(parallel_download_test, files_run_ahead_of_a_stalled_one_only_as_far_as_the_window) {
  constexpr int kInFlight = 4;
  constexpr int kWindow = kInFlight + OVU_DOWNLOAD_LOOKAHEAD;
  // "stalled.dat" comes first in the plan and trickles for about three
  // seconds; the others are small.
  file_tree files{{"stalled.dat", std::string(20, 's')}};
  for (int i = 0; i < 3 * kWindow; i++) {
    char name[32];
    std::snprintf(name, sizeof(name), "z%02d.dat", i);
    files[name] = "file " + std::to_string(i);
  }
  ASSERT_EQ(publish_release("/stalled/rel", files), 0);
  installation install;
  update_settings settings;
  settings.parallel_downloads = kInFlight;
  std::atomic<bool> running{true};
  std::atomic<int> most_temporary{0};
  std::thread watcher([&] {
    std::string tmp = install.file("tmp");
    while (running.load()) {
      int count = 0;
      std::error_code ignored;
      for (const auto &entry : fs::directory_iterator(tmp, ignored)) {
        count += entry.path().filename().string().rfind("update.tmp.", 0) == 0 ? 1 : 0;
      }
      if (count > most_temporary.load()) {
        most_temporary.store(count);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  update_outcome out = run_update(install, "/stalled/rel", settings);
  running.store(false);
  watcher.join();
  ASSERT_EQ(out.result, OVU_UPDATE_DONE);
  EXPECT_EQ(out.stats.successfully_saved_file_count, static_cast<int>(files.size()));
  EXPECT_LE(most_temporary.load(), kWindow);
  EXPECT_GE(most_temporary.load(), kWindow - 1);
  // nginx logs a request when its answer is complete: the files answered
  // before the stalled one are those fetched ahead while it trickled.
  requests_for("/stalled/rel/stalled.dat", 1);
  std::istringstream log(update_server().access_log());
  std::string line;
  int answered_before = 0;
  bool stalled_seen = false;
  while (std::getline(log, line) && !stalled_seen) {
    stalled_seen = line.find("GET /stalled/rel/stalled.dat ") != std::string::npos;
    answered_before += !stalled_seen && line.find("GET /stalled/rel/z") != std::string::npos ? 1 : 0;
  }
  EXPECT_TRUE(stalled_seen);
  EXPECT_EQ(answered_before, kWindow - 1);
  EXPECT_EQ(temporary_files(install), "");
}
