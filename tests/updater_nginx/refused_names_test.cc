// Names the updater can never keep, served by nginx: each is refused with a
// line that names it, the rest is installed, and the next run downloads
// nothing. And a file that a release spells in another case: the record of
// the old spelling goes before the file is replaced.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/updater_nginx/updater_nginx_support.h"

namespace fs = std::filesystem;

namespace {

struct served_file {
  std::string name;
  std::string bytes;
  std::string refusal;  // the line that refuses it, or "" when it is installed
};

std::string skipping(const std::string &shown, const std::string &why) {
  return "Skipping file '" + shown + "' - " + why + ".";
}

// A name of 1004 bytes, in components that the file system takes: with a
// token of 20 characters its line in the local manifest would be 1036.
std::string overlong_name() {
  std::string name = std::string(200, 'd');
  for (char c : {'e', 'f', 'g', 'h'}) {
    name += "/" + std::string(200, c);
  }
  return name;
}

// The manifest text for |files|, in their order, each with a token of its own.
std::string manifest_of(const std::vector<served_file> &files) {
  std::string text;
  for (size_t i = 0; i < files.size(); i++) {
    text += "0123456789abcdef" + std::to_string(1000 + i) + " " + std::to_string(files[i].bytes.size()) + " " +
            files[i].name + "\n";
  }
  return text;
}

std::vector<std::string> refusals_of(const std::vector<served_file> &files) {
  std::vector<std::string> lines;
  for (const served_file &file : files) {
    if (!file.refusal.empty()) {
      lines.push_back(file.refusal);
    }
  }
  return lines;
}

class refused_names_test : public updater_nginx_test {};

TEST_F(refused_names_test, names_the_launcher_cannot_keep_are_refused_at_every_run_and_never_fetched) {
  const std::string own = "unsafe name (the launcher's own file)";
  const std::vector<served_file> files = {
      {"readme.txt", "Welcome.\n", ""},
      {"update_manifest.lst", "not a manifest\n", skipping("update_manifest.lst", own)},
      {"Update_Manifest.lst.release", "#torvane-serial 1\n", skipping("Update_Manifest.lst.release", own)},
      {"update_exclude.lst", "readme.txt\n", skipping("update_exclude.lst", own)},
      {"torvane_updater_lock.tmp", "lock", skipping("torvane_updater_lock.tmp", own)},
      {"TMP/update.tmp", "partial", skipping("TMP/update.tmp", own)},
      {"tmp/x.dat", "x", skipping("tmp/x.dat", own)},
      {"a\rb.txt", "carriage", skipping("a\\rb.txt", "unsafe name (carriage return)")},
      {overlong_name(), "long", skipping(overlong_name(), "its line in the local manifest would be longer than 1023 characters")},
      {"Data/a.txt", "first spelling", ""},
      {"data/A.txt", "second spelling", skipping("data/A.txt", "the same file on Windows as 'Data/a.txt'")},
      {"data/b.txt", "b", ""},
  };
  for (const served_file &file : files) {
    update_server().put_file("names/" + file.name, file.bytes);
  }
  serve_manifest_text("/names", manifest_of(files));
  installation install;
  update_outcome first = run_update(install, "/names");
  ASSERT_EQ(first.result, 0);
  std::vector<std::string> expected = refusals_of(files);
  expected.push_back("3 files to update.");
  EXPECT_EQ(first.messages, expected);
  EXPECT_EQ(first.stats.successfully_saved_file_count, 3);
  EXPECT_EQ(install.game_files(),
            (file_tree{{"readme.txt", "Welcome.\n"}, {"Data/a.txt", "first spelling"}, {"data/b.txt", "b"}}));
  EXPECT_EQ(read_file(install.manifest_path()).rfind(MANIFEST_HEADER, 0), 0u);
  EXPECT_FALSE(fs::exists(install.file("update_exclude.lst")));
  EXPECT_FALSE(fs::exists(install.file("update_manifest.lst.release")));
  for (const served_file &file : files) {
    if (!file.refusal.empty() && file.name.find('\r') == std::string::npos) {
      EXPECT_EQ(requests_for("/names/" + file.name), 0) << file.name;
    }
  }
  int readme_requests = requests_for("/names/readme.txt", 1);
  update_outcome second = run_update(install, "/names");
  ASSERT_EQ(second.result, 0);
  EXPECT_EQ(second.messages, refusals_of(files));
  EXPECT_EQ(second.stats.expected_download_file_count, 0);
  EXPECT_EQ(requests_for("/names/readme.txt"), readme_requests);
}

// On Windows "data/a.txt" and "Data/a.txt" are one file: after a release
// that spells it the other way, the first spelling's record must not vouch
// for the bytes that replaced it when a later release goes back to it.
TEST_F(refused_names_test, a_file_spelled_in_another_case_is_fetched_again_when_the_first_spelling_returns) {
  const std::string original = "release one bytes";
  const std::string respelled = "release two bytes";  // the same size
  installation install;
  update_server().put_file("respelled/data/a.txt", original);
  serve_manifest_text("/respelled", "0123456789abcdef0001 17 data/a.txt\n");
  ASSERT_EQ(run_update(install, "/respelled").result, 0);
  update_server().put_file("respelled/Data/A.txt", respelled);
  serve_manifest_text("/respelled", "0123456789abcdef0002 17 Data/A.txt\n");
  ASSERT_EQ(run_update(install, "/respelled").result, 0);
  int before = requests_for("/respelled/data/a.txt", 1);
  serve_manifest_text("/respelled", "0123456789abcdef0001 17 data/a.txt\n");
  update_outcome third = run_update(install, "/respelled");
  ASSERT_EQ(third.result, 0);
  EXPECT_EQ(third.stats.expected_download_file_count, 1);
  EXPECT_EQ(requests_for("/respelled/data/a.txt", before + 1), before + 1);
  EXPECT_EQ(read_file(install.file("data/a.txt")), original);
}

// A local manifest that an earlier launcher wrote with one file under two
// spellings vouches for neither: both are fetched again.
TEST_F(refused_names_test, a_file_recorded_under_two_spellings_is_fetched_again) {
  installation install;
  fs::create_directories(install.file("Data"));
  fs::create_directories(install.file("data"));
  install.dir().write_file("Data/a.txt", "12345");
  install.dir().write_file("data/a.txt", "12345");
  install.dir().write_file("update_manifest.lst", std::string(MANIFEST_HEADER) +
                                                      "0123456789abcdef0001          5 Data/a.txt\n"
                                                      "0123456789abcdef0002          5 data/a.txt\n");
  update_server().put_file("twice/data/a.txt", "abcde");
  serve_manifest_text("/twice", "0123456789abcdef0002 5 data/a.txt\n");
  update_outcome out = run_update(install, "/twice");
  ASSERT_EQ(out.result, 0);
  EXPECT_EQ(out.stats.local_manifest_pruned_entry_count, 0);
  EXPECT_EQ(out.stats.expected_download_file_count, 1);
  EXPECT_EQ(read_file(install.file("data/a.txt")), "abcde");
}

}  // namespace
