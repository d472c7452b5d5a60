// The updater end to end: releases published with torvane-publish, served
// by nginx on 127.0.0.1:80, installed into fresh directories.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/updater_nginx/updater_nginx_support.h"
#include "updater/file_manifest.h"

namespace fs = std::filesystem;

namespace {

const file_tree RELEASE = {
    {"BRUXclient.exe", std::string(4000, 'B')},
    {"readme.txt", "Welcome to Torvane.\n"},
    {"data/maps/level 1.map", random_bytes(70000, 1, false)},
    {"data/maps/level 2.map", random_bytes(300, 2, false)},
    {"data/sounds/deep/nested/bell.wav", random_bytes(9000, 3, false)},
    {"empty.dat", ""},
};

// Loads an installation's manifest back as the next run will.
int32_t manifest_entries(const installation &install) {
  ovu_file_manifest manifest;
  return manifest.load_file(install.manifest_path().c_str());
}

class updater_end_to_end_test : public updater_nginx_test {};

TEST_F(updater_end_to_end_test, a_fresh_installation_gets_every_file_and_records_it) {
  ASSERT_EQ(publish_release("/fresh", RELEASE), 0);
  installation install;
  update_outcome out = run_update(install, "/fresh");
  ASSERT_EQ(out.result, 0) << messages_of(out);
  EXPECT_EQ(install.game_files(), RELEASE);
  EXPECT_EQ(out.stats.remote_manifest_entry_count, 6);
  EXPECT_EQ(out.stats.expected_download_file_count, 6);
  EXPECT_EQ(out.stats.successfully_saved_file_count, 6);
  EXPECT_EQ(out.stats.failed_download_file_count, 0);
  EXPECT_EQ(out.stats.failed_save_file_count, 0);
  double bytes = 0;
  for (const auto &file : RELEASE) {
    bytes += static_cast<double>(file.second.size());
  }
  EXPECT_EQ(out.stats.expected_download_byte_count, bytes);
  EXPECT_EQ(out.stats.saved_bytes, bytes);
  EXPECT_EQ(out.messages, (std::vector<std::string>{"6 files to update."}));
  EXPECT_EQ(manifest_entries(install), 6);
  EXPECT_FALSE(fs::exists(install.file("update_manifest.lst.tmp")));
}

TEST_F(updater_end_to_end_test, a_second_run_plans_nothing) {
  ASSERT_EQ(publish_release("/second", RELEASE), 0);
  installation install;
  ASSERT_EQ(run_update(install, "/second").result, 0);
  std::string manifest_before = read_file(install.manifest_path());
  int requests_before = requests_for("/second/readme.txt", 1);
  update_settings verbose;
  verbose.verbose = true;
  update_outcome out = run_update(install, "/second", verbose);
  EXPECT_EQ(out.result, 0);
  EXPECT_EQ(out.stats.expected_download_file_count, 0);
  EXPECT_EQ(out.stats.local_manifest_pruned_entry_count, 6);
  EXPECT_TRUE(has_message(out, "Everything appears to be up to date already.")) << messages_of(out);
  EXPECT_EQ(requests_for("/second/readme.txt"), requests_before);
  EXPECT_EQ(read_file(install.manifest_path()), manifest_before);
}

TEST_F(updater_end_to_end_test, only_the_changed_file_is_downloaded) {
  ASSERT_EQ(publish_release("/changed", RELEASE), 0);
  installation install;
  ASSERT_EQ(run_update(install, "/changed").result, 0);
  file_tree next = RELEASE;
  next["data/maps/level 2.map"] = random_bytes(300, 99, false);  // same size, other bytes
  ASSERT_EQ(publish_release("/changed", next), 0);
  int level1_before = requests_for("/changed/data/maps/level%201.map", 1);
  int level2_before = requests_for("/changed/data/maps/level%202.map", 1);
  update_outcome out = run_update(install, "/changed");
  ASSERT_EQ(out.result, 0);
  EXPECT_EQ(out.stats.expected_download_file_count, 1);
  EXPECT_EQ(out.messages, (std::vector<std::string>{"One file to update."}));
  EXPECT_EQ(requests_for("/changed/data/maps/level%202.map", level2_before + 1), level2_before + 1);
  EXPECT_EQ(requests_for("/changed/data/maps/level%201.map"), level1_before);
  EXPECT_EQ(install.game_files(), next);
}

TEST_F(updater_end_to_end_test, an_excluded_file_is_skipped_with_its_message_even_when_up_to_date) {
  ASSERT_EQ(publish_release("/excluded", RELEASE), 0);
  installation install;
  update_settings settings;
  settings.exclude = "readme.txt\n";
  update_outcome first = run_update(install, "/excluded", settings);
  ASSERT_EQ(first.result, 0);
  EXPECT_TRUE(has_message(first, "Skipping file 'readme.txt'.")) << messages_of(first);
  EXPECT_EQ(first.stats.exclude_manifest_file_count, 1);
  EXPECT_EQ(first.stats.expected_download_file_count, 5);
  EXPECT_FALSE(fs::exists(install.file("readme.txt")));
  // Installed by hand and up to date: still skipped, still counted.
  ASSERT_EQ(run_update(install, "/excluded").result, 0);
  update_outcome again = run_update(install, "/excluded", settings);
  EXPECT_EQ(again.messages, (std::vector<std::string>{"Skipping file 'readme.txt'."}));
  EXPECT_EQ(again.stats.exclude_manifest_file_count, 1);
  EXPECT_EQ(again.stats.expected_download_file_count, 0);
}

TEST_F(updater_end_to_end_test, a_deleted_local_file_is_planned_as_missing) {
  ASSERT_EQ(publish_release("/deleted", RELEASE), 0);
  installation install;
  ASSERT_EQ(run_update(install, "/deleted").result, 0);
  fs::remove(install.file("data/sounds/deep/nested/bell.wav"));
  update_settings verbose;
  verbose.verbose = true;
  update_outcome out = run_update(install, "/deleted", verbose);
  ASSERT_EQ(out.result, 0);
  EXPECT_EQ(out.stats.local_manifest_initial_entry_count, 6);
  EXPECT_EQ(out.stats.local_manifest_pruned_entry_count, 5);
  EXPECT_TRUE(has_message(out, "Some files were deleted.  Only 5 entries remain.")) << messages_of(out);
  EXPECT_TRUE(has_message(out, "File 'data/sounds/deep/nested/bell.wav' missing, should update."));
  EXPECT_EQ(out.stats.expected_download_file_count, 1);
  EXPECT_EQ(install.game_files(), RELEASE);
}

TEST_F(updater_end_to_end_test, verbose_runs_tell_each_step) {
  file_tree small = {{"a/b.txt", "bee"}};
  ASSERT_EQ(publish_release("/verbose", small), 0);
  installation install;
  update_settings verbose;
  verbose.verbose = true;
  update_outcome out = run_update(install, "/verbose", verbose);
  ASSERT_EQ(out.result, 0);
  EXPECT_EQ(out.messages, (std::vector<std::string>{
                              "Loaded 0 entries from current manifest file '" + install.manifest_path() + "'.",
                              "Retrieved 1 records from remote server.",
                              "File 'a/b.txt' missing, should update.",
                              "One file to update.",
                              "Updating file 'a/b.txt'.",
                              "Starting download of file '/verbose/a/b.txt'.",
                              "Received          3 /          3 bytes.",
                              "Saving file manifest due to completion.",
                          }));
}

TEST_F(updater_end_to_end_test, gzip_and_zlib_manifests_both_install) {
  for (const char *options : {"", "--gzip"}) {
    ASSERT_EQ(publish_release("/wrapped", RELEASE, options), 0);
    installation install;
    update_outcome out = run_update(install, "/wrapped");
    ASSERT_EQ(out.result, 0) << options;
    EXPECT_EQ(install.game_files(), RELEASE) << options;
  }
}

// Far more text than one 8 KiB block inflates into one output area.
TEST_F(updater_end_to_end_test, a_manifest_that_compresses_fifty_to_one_is_parsed_whole) {
  file_tree files = {{"first.txt", "1"}, {"last.txt", "22"}};
  ASSERT_EQ(publish_release("/ratio", files), 0);
  std::string text = "# " + std::string(2000000, '=') + "\n";
  text += "6b86b273ff34fce19d6b804eff5a3f5747ada4ea22f0d3e1ab9c1d3c58b18bc6 1 first.txt\n";
  for (int i = 0; i < 20000; i++) {
    text += "# padding line that repeats itself and compresses very well indeed\n";
  }
  text += "fa8e04a0b1ae8f4c6b0ca8bf3d1c6e37b5d2f1c0a0f8e7c6a3d2c1b0a9f8e7d6 2 last.txt\n";
  std::string compressed = zlib_compress(text);
  ASSERT_GT(text.size() / compressed.size(), 50u);
  serve_manifest_text("/ratio", text);
  installation install;
  update_outcome out = run_update(install, "/ratio");
  ASSERT_EQ(out.result, 0);
  EXPECT_EQ(out.stats.remote_manifest_entry_count, 2);
  EXPECT_EQ(install.game_files(), files);
}

TEST_F(updater_end_to_end_test, unsafe_names_are_skipped_and_nothing_lands_outside_the_installation) {
  // Files a careless client would fetch: nginx resolves the dot segments.
  update_server().put_file("unsafe/outside.txt", "escaped");
  update_server().put_file("outside.txt", "escaped");
  update_server().put_file("unsafe/ok/inside.txt", "inside");
  // The game lives one level down in the scratch directory, so that
  // anything that escapes it lands where the test can look.
  installation install;
  const std::string game = install.file("game");
  const std::string absolute = install.file("absolute_outside.txt");
  const std::string hash = "0123456789abcdef0123456789abcdef";
  const std::vector<std::pair<std::string, std::string>> unsafe = {
      {"../outside.txt", "'..' path component"},
      {"ok/../../outside.txt", "'..' path component"},
      {"..\\outside.txt", "'..' path component"},
      {absolute, "absolute path"},
      {"\\outside.txt", "absolute path"},
      {"C:outside.txt", "drive or stream colon"},
      {"ok//inside.txt", "empty path component"},
  };
  std::string text;
  for (const auto &u : unsafe) {
    text += hash + " 7 " + u.first + "\n";
  }
  text += hash + " 6 ok/inside.txt\n";
  serve_manifest_text("/unsafe", text);
  update_settings settings;
  settings.destination = game;
  update_outcome out = run_update(install, "/unsafe", settings);
  ASSERT_EQ(out.result, 0);
  for (const auto &u : unsafe) {
    EXPECT_TRUE(has_message(out, "Skipping file '" + u.first + "' - unsafe name (" + u.second + ").")) << u.first;
  }
  EXPECT_EQ(out.stats.expected_download_file_count, 1);
  EXPECT_EQ(out.stats.exclude_manifest_file_count, 0);
  EXPECT_EQ(out.stats.failed_download_file_count, 0);
  EXPECT_EQ(files_under(game), (file_tree{{"ok/inside.txt", "inside"}}));
  EXPECT_FALSE(fs::exists(install.file("outside.txt")));
  EXPECT_FALSE(fs::exists(absolute));
}

TEST_F(updater_end_to_end_test, a_file_the_server_lacks_fails_and_leaves_the_old_version) {
  ASSERT_EQ(publish_release("/lacking", RELEASE), 0);
  installation install;
  ASSERT_EQ(run_update(install, "/lacking").result, 0);
  file_tree next = RELEASE;
  next["readme.txt"] = "Welcome to Torvane, release 2.\n";
  next["data/maps/level 2.map"] = "new map";
  ASSERT_EQ(publish_release("/lacking", next), 0);
  fs::remove(fs::path(update_server().docroot()) / "lacking/readme.txt");
  update_outcome out = run_update(install, "/lacking");
  ASSERT_EQ(out.result, 0);
  EXPECT_EQ(out.stats.expected_download_file_count, 2);
  EXPECT_EQ(out.stats.failed_download_file_count, 1);
  EXPECT_EQ(out.stats.successfully_saved_file_count, 1);
  EXPECT_TRUE(has_message(out, "Unable to update file 'readme.txt' - download failed.")) << messages_of(out);
  EXPECT_EQ(read_file(install.file("readme.txt")), RELEASE.at("readme.txt"));
  EXPECT_EQ(read_file(install.file("data/maps/level 2.map")), "new map");
  EXPECT_FALSE(fs::exists(install.file("tmp/update.tmp")));
  // The next run asks for the missing file again.
  EXPECT_EQ(run_update(install, "/lacking").stats.expected_download_file_count, 1);
}

TEST_F(updater_end_to_end_test, an_unwritable_destination_gives_result_5_before_any_download) {
  ASSERT_EQ(publish_release("/unwritable", RELEASE), 0);
  installation install;
  install.dir().write_file("plain_file", "x");
  update_settings settings;
  settings.destination = install.file("plain_file/game");
  int before = requests_for("/unwritable/readme.txt");
  update_outcome out = run_update(install, "/unwritable", settings);
  EXPECT_EQ(out.result, 5);
  EXPECT_TRUE(has_message(out, "Download base path appears to be unwriteable.")) << messages_of(out);
  EXPECT_EQ(requests_for("/unwritable/readme.txt"), before);
  EXPECT_EQ(out.stats.successfully_saved_file_count, 0);
}

TEST_F(updater_end_to_end_test, a_server_that_is_down_gives_result_4_and_leaves_the_manifest_alone) {
  ASSERT_EQ(publish_release("/down", RELEASE), 0);
  installation install;
  ASSERT_EQ(run_update(install, "/down").result, 0);
  std::string manifest_before = read_file(install.manifest_path());
  auto written_before = fs::last_write_time(install.manifest_path());
  update_server().stop();
  update_outcome out = run_update(install, "/down");
  std::string why;
  ASSERT_TRUE(update_server().start(&why, UPDATE_PORT)) << why;
  EXPECT_EQ(out.result, 4);
  EXPECT_EQ(out.messages, (std::vector<std::string>{"Error fetching update file '/down/manifest.lst.z' from remote "
                                                    "server, aborting update."}));
  EXPECT_EQ(read_file(install.manifest_path()), manifest_before);
  EXPECT_EQ(fs::last_write_time(install.manifest_path()), written_before);
  EXPECT_EQ(out.stats.remote_manifest_entry_count, 0);
  EXPECT_EQ(out.stats.expected_download_file_count, 0);
}

TEST_F(updater_end_to_end_test, a_missing_manifest_or_a_bad_line_gives_result_4) {
  installation install;
  update_outcome missing = run_update(install, "/no_such_release");
  EXPECT_EQ(missing.result, 4);
  serve_manifest_text("/bad_line", "0123456789abcdef0123456789abcdef 1 fine.txt\nNOT-A-HASH 1 broken\n");
  update_server().put_file("bad_line/fine.txt", "f");
  start_capture();
  update_outcome bad = run_update(install, "/bad_line");
  std::string reports = stop_capture();
  EXPECT_EQ(bad.result, 4);
  EXPECT_NE(reports.find("Syntax error in downloaded data - bad or missing hash field for line:"), std::string::npos);
  EXPECT_FALSE(fs::exists(install.file("fine.txt")));
  EXPECT_EQ(read_file(install.manifest_path()), MANIFEST_HEADER);
}

// A name the server lists again is planned once, with its first entry.
TEST_F(updater_end_to_end_test, a_name_listed_twice_is_downloaded_once) {
  const std::string hash = "0123456789abcdef0123456789abcdef";
  std::string text;
  for (int i = 0; i < 50; i++) {
    text += hash + " 2 twice.txt\n" + hash + " 1 once.txt\n";
  }
  serve_manifest_text("/twice", hash + " 3 first.txt\n" + text);
  update_server().put_file("twice/twice.txt", "tw");
  update_server().put_file("twice/once.txt", "o");
  update_server().put_file("twice/first.txt", "fir");
  installation install;
  update_outcome out = run_update(install, "/twice");
  ASSERT_EQ(out.result, 0);
  EXPECT_EQ(out.stats.remote_manifest_entry_count, 3);
  EXPECT_EQ(out.stats.expected_download_file_count, 3);
  EXPECT_EQ(out.messages, (std::vector<std::string>{"3 files to update."}));
  EXPECT_EQ(requests_for("/twice/twice.txt", 1), 1);
  EXPECT_EQ(install.game_files(), (file_tree{{"first.txt", "fir"}, {"once.txt", "o"}, {"twice.txt", "tw"}}));
  EXPECT_EQ(manifest_entries(install), 3);
}

// The manifest that cannot be saved at the end ends the process.
TEST_F(updater_end_to_end_test, a_failed_final_save_ends_the_process_with_exit_code_1) {
  ASSERT_EQ(publish_release("/unsaved", {{"one.txt", "1"}}), 0);
  installation install;
  EXPECT_EXIT(
      {
        ovu_updater updater;
        updater.set_destination_path(install.path().c_str());
        updater.set_temporary_file(install.file("tmp/update.tmp").c_str());
        updater.load_manifest(install.manifest_path().c_str());
        // The manifest's name now belongs to a directory: no save can
        // replace it.
        fs::remove(install.manifest_path());
        fs::create_directory(install.manifest_path());
        updater.run(UPDATE_HOST, "/unsaved", MANIFEST_NAME);
      },
      testing::ExitedWithCode(1), "");
}

}  // namespace
