// The updater without a server: its settings, the loading of the local
// lists with their messages and statistics, the planning decisions, the
// checks before any download, and the timed manifest saving with a clock
// the test moves.
#include "updater/updater.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/clock.h"
#include "support/text_scan.h"
#include "tests/common/diagnostic_capture.h"
#include "tests/common/file_contents.h"
#include "tests/common/local_manifest.h"
#include "tests/common/moved_clock.h"
#include "tests/common/scratch_directory.h"

namespace {

const char *const HEADER = LOCAL_MANIFEST_HEADER;
const char HASH_A[] = "0123456789abcdef0123456789abcdef";
const char HASH_B[] = "fedcba9876543210fedcba9876543210";

struct recorder {
  std::vector<std::string> messages;
  std::vector<std::pair<double, double>> overall;
  static recorder &of(void *data) { return *static_cast<recorder *>(data); }
  static void on_message(void *data, const char *text) { of(data).messages.push_back(text); }
  static void on_overall(void *data, double done, double expected) { of(data).overall.push_back({done, expected}); }
};

class updater_test : public diagnostic_capture_test {
 protected:
  void SetUp() override {
    diagnostic_capture_test::SetUp();
    updater.message_callback = recorder::on_message;
    updater.overall_progress_callback = recorder::on_overall;
    updater.callback_data = &seen;
  }
  // Writes a manifest of |count| entries of one byte each, and their files.
  std::string manifest_with_files(int count) {
    std::string content = HEADER;
    for (int i = 0; i < count; i++) {
      std::string name = "f" + std::to_string(i);
      content += std::string(HASH_A) + " 1 " + name + "\n";
      dir.write_file(name, "x");
    }
    return dir.write_file("update_manifest.lst", content);
  }
  std::string dest() const { return dir.path().string(); }

  scratch_directory dir;
  ovu_updater updater;
  recorder seen;
};

TEST_F(updater_test, run_names_the_first_missing_setting) {
  EXPECT_EQ(updater.run("127.0.0.1", "/r", "m"), 3);
  updater.load_manifest(dir.file("absent.lst").c_str());  // keeps the name even though it fails
  EXPECT_EQ(updater.run("127.0.0.1", "/r", "m"), 1);
  updater.set_temporary_file(dir.file("tmp/update.tmp").c_str());
  EXPECT_EQ(updater.run("127.0.0.1", "/r", "m"), 2);
  EXPECT_EQ(seen.messages, (std::vector<std::string>{"No manifest filename set.", "No temporary download filename set.",
                                                     "No destination path set to store downloaded files."}));
}

TEST_F(updater_test, settings_create_the_temporary_file_and_prove_the_destination) {
  EXPECT_EQ(updater.set_destination_path((dest() + "/game/dir").c_str()), 1);
  EXPECT_TRUE(std::filesystem::is_directory(dir.file("game/dir")));
  dir.write_file("tmp_existing", "old bytes");
  EXPECT_EQ(updater.set_temporary_file(dir.file("deep/tmp/update.tmp").c_str()), 1);
  EXPECT_EQ(read_file(dir.file("deep/tmp/update.tmp")), "");
  EXPECT_EQ(updater.set_temporary_file(dir.file("tmp_existing").c_str()), 1);
  EXPECT_EQ(read_file(dir.file("tmp_existing")), "");
  // A regular file where a directory must be: both fail, the names stay.
  dir.write_file("plain", "x");
  EXPECT_EQ(updater.set_temporary_file(dir.file("plain/tmp/update.tmp").c_str()), 0);
  EXPECT_EQ(updater.set_destination_path(dir.file("plain/dest").c_str()), 0);
  EXPECT_EQ(std::string(updater.temporary_file_name), dir.file("plain/tmp/update.tmp"));
  EXPECT_EQ(std::string(updater.destination_path), dir.file("plain/dest"));
}

TEST_F(updater_test, load_manifest_counts_and_prunes_with_verbose_messages) {
  std::string path = manifest_with_files(3);
  std::filesystem::remove(dir.file("f1"));
  updater.verbose = 1;
  updater.set_destination_path(dest().c_str());
  ASSERT_EQ(updater.load_manifest(path.c_str()), 1);
  EXPECT_EQ(seen.messages, (std::vector<std::string>{"Loaded 3 entries from current manifest file '" + path + "'.",
                                                     "Some files were deleted.  Only 2 entries remain."}));
  EXPECT_EQ(updater.stats.local_manifest_initial_entry_count, 3);
  EXPECT_EQ(updater.stats.local_manifest_pruned_entry_count, 2);
  EXPECT_EQ(updater.manifest.find("f1"), nullptr);
}

TEST_F(updater_test, quiet_loading_says_nothing_and_a_missing_manifest_fails) {
  std::string path = manifest_with_files(2);
  updater.set_destination_path(dest().c_str());
  ASSERT_EQ(updater.load_manifest(path.c_str()), 1);
  EXPECT_TRUE(seen.messages.empty());
  ovu_updater other;
  EXPECT_EQ(other.load_manifest(dir.file("absent.lst").c_str()), 0);
}

struct many_case {
  int entries;
  bool checking_message;
};

class updater_many_test : public updater_test, public testing::WithParamInterface<many_case> {};

TEST_P(updater_many_test, more_than_a_hundred_entries_announce_the_check_always) {
  std::string path = manifest_with_files(GetParam().entries);
  updater.set_destination_path(dest().c_str());
  ASSERT_EQ(updater.load_manifest(path.c_str()), 1);
  std::vector<std::string> expected;
  if (GetParam().checking_message) {
    expected.push_back("Checking " + std::to_string(GetParam().entries) + " files for updates...");
  }
  EXPECT_EQ(seen.messages, expected);
}

INSTANTIATE_TEST_SUITE_P(table, updater_many_test, testing::Values(many_case{100, false}, many_case{101, true}));

TEST_F(updater_test, the_exclude_list_loads_with_its_message_and_matches_exact_names) {
  std::string path = dir.write_file("update_exclude.lst", "config.ini\n# comment\nsaves/a b\n");
  updater.verbose = 1;
  ASSERT_EQ(updater.load_exclude_manifest(path.c_str()), 1);
  EXPECT_EQ(seen.messages, (std::vector<std::string>{"Loaded 2 entries from current exclude manifest file '" + path + "'."}));
  const std::pair<const char *, int> cases[] = {{"config.ini", 1}, {"saves/a b", 1}, {"Config.ini", 0},
                                                {"config.ini ", 0}, {"saves/a", 0}, {"other", 0}};
  for (const auto &c : cases) {
    ovu_manifest_entry remote = {const_cast<char *>(c.first), const_cast<char *>(HASH_A), 1, nullptr};
    EXPECT_EQ(updater.is_excluded(&remote), c.second) << c.first;
  }
  EXPECT_EQ(updater.load_exclude_manifest(dir.file("absent.lst").c_str()), 0);
}

TEST_F(updater_test, an_empty_exclude_list_excludes_nothing) {
  ovu_manifest_entry remote = {const_cast<char *>("a"), const_cast<char *>(HASH_A), 1, nullptr};
  EXPECT_EQ(updater.is_excluded(&remote), 0);
}

TEST_F(updater_test, file_needs_update_compares_size_and_hash_and_explains_in_verbose_mode) {
  std::string path = dir.write_file("update_manifest.lst", std::string(HASH_A) + " 5 same\n" + HASH_A + " 5 hash\n" +
                                                               HASH_A + " 5 size\n" + HASH_A + " 2147483649 big\n" +
                                                               HASH_A + " 5 wrapped\n");
  ASSERT_EQ(updater.manifest.load_file(path.c_str()), 5);
  updater.verbose = 1;
  std::string one_off = std::string(HASH_A).substr(0, 31) + "0";
  struct {
    const char *name;
    std::string hash;
    int64_t size;
    int needed;
    std::vector<std::string> messages;
  } cases[] = {
      {"same", HASH_A, 5, 0, {}},
      {"hash", one_off, 5, 1, {"Expected        5, " + one_off, "Previous        5, " + std::string(HASH_A) + " - file 'hash'"}},
      {"size", HASH_A, 123456, 1,
       {"Expected   123456, " + std::string(HASH_A), "Previous        5, " + std::string(HASH_A) + " - file 'size'"}},
      {"new", HASH_A, 5, 1, {"File 'new' missing, should update."}},
      // Sizes compare and print whole beyond 32 bits.
      {"big", HASH_A, 2147483649, 0, {}},
      {"wrapped", HASH_A, 4294967301, 1,
       {"Expected 4294967301, " + std::string(HASH_A), "Previous        5, " + std::string(HASH_A) + " - file 'wrapped'"}},
  };
  for (auto &c : cases) {
    seen.messages.clear();
    ovu_manifest_entry remote = {const_cast<char *>(c.name), &c.hash[0], c.size, nullptr};
    EXPECT_EQ(updater.file_needs_update(&remote), c.needed) << c.name;
    EXPECT_EQ(seen.messages, c.messages) << c.name;
  }
  updater.verbose = 0;
  seen.messages.clear();
  ovu_manifest_entry remote = {const_cast<char *>("new"), const_cast<char *>(HASH_A), 5, nullptr};
  EXPECT_EQ(updater.file_needs_update(&remote), 1);
  EXPECT_TRUE(seen.messages.empty());
}

// The checks that come before any download, so they need no server.
TEST_F(updater_test, install_files_proves_the_temporary_file_and_the_destination_first) {
  qarn_growable_array plan;
  plan.init(sizeof(ovu_manifest_entry *));
  EXPECT_EQ(updater.install_files("127.0.0.1", "/r", plan), 1);
  dir.write_file("plain", "x");
  updater.set_temporary_file(dir.file("plain/update.tmp").c_str());
  EXPECT_EQ(updater.install_files("127.0.0.1", "/r", plan), 5);
  updater.set_temporary_file(dir.file("tmp/update.tmp").c_str());
  EXPECT_EQ(updater.install_files("127.0.0.1", "/r", plan), 2);
  updater.set_destination_path(dir.file("plain/dest").c_str());
  EXPECT_EQ(updater.install_files("127.0.0.1", "/r", plan), 5);
  EXPECT_EQ(seen.messages, (std::vector<std::string>{"No temporary download filename set.", "Temporary file unwriteable.",
                                                     "No destination path set to store downloaded files.",
                                                     "Download base path appears to be unwriteable."}));
  updater.set_destination_path(dest().c_str());
  EXPECT_EQ(updater.install_files("127.0.0.1", "/r", plan), 0);
  plan.release();
}

class progress_tick_test : public updater_test {
 protected:
  void SetUp() override {
    updater_test::SetUp();
    manifest_path = dir.write_file("update_manifest.lst", HEADER);
    ASSERT_EQ(updater.load_manifest(manifest_path.c_str()), 1);
    updater.verbose = 1;
    seen.messages.clear();
    updater.last_save_time = qarn_clock_seconds();
  }
  // Records one installed file the way the installation does.
  void install(const char *name) {
    ovu_manifest_entry entry = {const_cast<char *>(name), const_cast<char *>(HASH_B), 3, nullptr};
    updater.manifest.set_entry(&entry);
    updater.manifest_dirty = 1;
  }
  bool saved_with(const char *name) const {
    return read_file(manifest_path).find(std::string(" ") + name + "\n") != std::string::npos;
  }

  moved_clock clock;
  std::string manifest_path;
};

TEST_F(progress_tick_test, saves_only_when_more_than_ten_seconds_passed_since_the_last_clean_tick) {
  updater.progress_tick();  // clean: moves the save time along
  moved_clock::advance(60);
  updater.progress_tick();
  install("first");
  moved_clock::advance(10);
  updater.progress_tick();  // exactly 10 s: not yet
  EXPECT_FALSE(saved_with("first"));
  EXPECT_TRUE(seen.messages.empty());
  moved_clock::advance(1);
  updater.progress_tick();
  EXPECT_TRUE(saved_with("first"));
  EXPECT_EQ(seen.messages, (std::vector<std::string>{"Saving file manifest."}));
  EXPECT_EQ(updater.manifest_dirty, 0);

  // Saved just now: the next change waits another interval.
  install("second");
  moved_clock::advance(5);
  updater.progress_tick();
  EXPECT_FALSE(saved_with("second"));
  moved_clock::advance(6);
  updater.progress_tick();
  EXPECT_TRUE(saved_with("second"));
  EXPECT_EQ(seen.messages.size(), 2u);
}

TEST_F(progress_tick_test, reports_the_overall_progress_on_every_tick) {
  updater.stats.expected_download_byte_count = 1000;
  updater.stats.current_download_byte_count = 300;
  updater.current_file_bytes = 50;
  updater.progress_tick();
  updater.current_file_bytes = 150;
  updater.progress_tick();
  EXPECT_EQ(seen.overall, (std::vector<std::pair<double, double>>{{350, 1000}, {450, 1000}}));
  EXPECT_EQ(updater.stats.downloaded_bytes, 450);
}

TEST_F(progress_tick_test, file_progress_ticks_until_the_file_is_complete) {
  updater.stats.expected_download_byte_count = 100;
  ovu_updater::on_file_progress(&updater, 0, 100);
  ovu_updater::on_file_progress(&updater, 40, 100);
  ovu_updater::on_file_progress(&updater, 100, 100);
  EXPECT_EQ(seen.overall, (std::vector<std::pair<double, double>>{{0, 100}, {40, 100}}));
  EXPECT_EQ(updater.current_file_bytes, 0);
}

// Files of 2 GiB and more: the file's count reaches the overall progress
// whole, and only the count that equals the file's length completes it.
TEST_F(progress_tick_test, file_progress_beyond_32_bits_reaches_the_overall_progress_whole) {
  constexpr int64_t kFile = (int64_t{1} << 32) + 5;
  updater.stats.expected_download_byte_count = 100.0 + static_cast<double>(kFile);
  updater.stats.current_download_byte_count = 100;
  ovu_updater::on_file_progress(&updater, 0, kFile);
  ovu_updater::on_file_progress(&updater, int64_t{1} << 31, kFile);
  ovu_updater::on_file_progress(&updater, 5, kFile);
  ovu_updater::on_file_progress(&updater, kFile - 1, kFile);
  ovu_updater::on_file_progress(&updater, kFile, kFile);
  const double total = 4294967401.0;
  EXPECT_EQ(seen.overall, (std::vector<std::pair<double, double>>{
                              {100, total}, {2147483748.0, total}, {105, total}, {4294967400.0, total}}));
  EXPECT_EQ(updater.current_file_bytes, 0);
}

// A manifest that cannot be saved ends the process with exit code 1.
TEST_F(progress_tick_test, a_failed_timed_save_ends_the_process) {
  std::filesystem::create_directory(dir.file("manifest_is_a_directory"));
  qarn_free_text(&updater.manifest_file_name);
  updater.manifest_file_name = qarn_strdup(dir.file("manifest_is_a_directory").c_str());
  install("first");
  moved_clock::advance(11);
  EXPECT_EXIT(updater.progress_tick(), testing::ExitedWithCode(1), "");
}

}  // namespace
