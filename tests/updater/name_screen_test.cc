// Which remote entries are never installed because of their names, and the
// line that names each one.
#include "updater/name_screen.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string SHA = std::string(64, 'a');

struct remote {
  std::string name;
  std::string hash = SHA;
  int64_t size = 10;
};

// Runs the screen over |list| as the updater does; the line for each
// refused entry, "" for each accepted one.
std::vector<std::string> screen_lines(std::vector<remote> list, ovu_name_rules rules) {
  std::vector<ovu_manifest_entry> entries(list.size());
  for (size_t i = 0; i < list.size(); i++) {
    entries[i] = {&list[i].name[0], &list[i].hash[0], list[i].size, i + 1 < list.size() ? &entries[i + 1] : nullptr};
  }
  ovu_name_screen screen(rules);
  EXPECT_EQ(screen.examine(entries.empty() ? nullptr : &entries[0]), 1);
  std::vector<std::string> lines;
  for (const ovu_manifest_entry &entry : entries) {
    qarn_bounded_string line;
    lines.push_back(screen.refuses(&entry, line) ? line.text() : "");
  }
  return lines;
}

std::string unsafe(const std::string &shown, const std::string &why) {
  return "Skipping file '" + shown + "' - unsafe name (" + why + ").";
}

std::string too_long(const std::string &shown) {
  return "Skipping file '" + shown + "' - its line in the local manifest would be longer than 1023 characters.";
}

std::string same_file(const std::string &shown, const std::string &earlier) {
  return "Skipping file '" + shown + "' - the same file on Windows as '" + earlier + "'.";
}

TEST(name_screen_test, refuses_what_the_launcher_cannot_keep_everywhere) {
  const std::vector<remote> list = {
      {"readme.txt"},
      {"update_manifest.lst"},
      {"Update_Manifest.LST.release"},
      {"TMP/update.tmp"},
      {"update_exclude.lst/a"},
      {"torvane_updater_lock.tmp"},
      {"a\rb.txt"},
      {"./readme.txt"},
      {"../outside"},
      {"Data/a"},
      {"data/a"},
      {"Data/a"},
      {"con.txt"},
      {"what?.txt"},
      {"a."},
  };
  const std::vector<std::string> expected = {
      "",
      unsafe("update_manifest.lst", "the launcher's own file"),
      unsafe("Update_Manifest.LST.release", "the launcher's own file"),
      unsafe("TMP/update.tmp", "the launcher's own file"),
      unsafe("update_exclude.lst/a", "the launcher's own file"),
      unsafe("torvane_updater_lock.tmp", "the launcher's own file"),
      unsafe("a\\rb.txt", "carriage return"),
      unsafe("./readme.txt", "'.' path component"),
      unsafe("../outside", "'..' path component"),
      "",
      same_file("data/a", "Data/a"),
      "",  // the same name again is not another spelling
      "",
      "",
      "",
  };
  EXPECT_EQ(screen_lines(list, OVU_NAME_RULES_EVERYWHERE), expected);
}

TEST(name_screen_test, refuses_windows_names_under_windows_rules) {
  const std::vector<remote> list = {
      {"con.txt"},        {"COM\xC2\xB9"},  {"lpt0.dat"}, {"CONIN$"},     {"data/conout$.log"},
      {"what?.txt"},      {"a<b"},          {"a|b"},      {"a*b"},        {"a\x01z"},
      {"a."},             {"dir /a"},       {"\xff.txt"}, {"100%.txt"},   {"a#b.txt"},
      {"caf\xC3\xA9.txt"},
  };
  const std::vector<std::string> expected = {
      unsafe("con.txt", "reserved device name"),
      unsafe("COM\xC2\xB9", "reserved device name"),
      unsafe("lpt0.dat", "reserved device name"),
      unsafe("CONIN$", "reserved device name"),
      unsafe("data/conout$.log", "reserved device name"),
      unsafe("what?.txt", "character reserved by Windows"),
      unsafe("a<b", "character reserved by Windows"),
      unsafe("a|b", "character reserved by Windows"),
      unsafe("a*b", "character reserved by Windows"),
      unsafe("a\\x01z", "control character"),
      unsafe("a.", "dot or blank at the end of a component"),
      unsafe("dir /a", "dot or blank at the end of a component"),
      unsafe("\xff.txt", "not UTF-8"),
      "",
      "",
      "",
  };
  EXPECT_EQ(screen_lines(list, OVU_NAME_RULES_WINDOWS), expected);
}

// A SHA-256 token and a ten-column size leave 1023 - 64 - 10 - 2 = 947
// bytes for the name; a longer token or size leaves fewer.
TEST(name_screen_test, refuses_an_entry_whose_local_manifest_line_would_be_cut) {
  const std::string longest(947, 'n');
  const std::string one_more(948, 'n');
  const std::vector<remote> list = {
      {longest},
      {one_more},
      {longest, SHA + "0"},
      {longest.substr(1), SHA, -2147483647 - 1},  // eleven columns
      {longest, SHA, -2147483647 - 1},
      {longest, SHA, 9999999999},                  // ten digits: ten columns
      {longest.substr(1), SHA, 10000000000},       // eleven digits
      {longest, SHA, 10000000000},
      {longest.substr(3), SHA, 1099511627776},     // the largest file: thirteen digits
      {longest.substr(2), SHA, 1099511627776},
  };
  const std::vector<std::string> expected = {
      "", too_long(one_more), too_long(longest), "", too_long(longest), "", "", too_long(longest), "",
      too_long(longest.substr(2))};
  EXPECT_EQ(screen_lines(list, OVU_NAME_RULES_EVERYWHERE), expected);
}

TEST(name_screen_test, an_empty_list_refuses_nothing) { EXPECT_TRUE(screen_lines({}, OVU_NAME_RULES_WINDOWS).empty()); }

}  // namespace
