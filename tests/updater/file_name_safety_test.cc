// Which names from a manifest may be joined to the installation directory.
#include "updater/file_name_safety.h"

#include <gtest/gtest.h>

#include <ostream>

namespace {

struct name_case {
  const char *name;
  ovu_name_problem everywhere;  // under the rules of every system
  ovu_name_problem windows;     // under Windows' rules too
};

const name_case NAME_CASES[] = {
    {"readme.txt", OVU_NAME_SAFE, OVU_NAME_SAFE},
    {"data/maps/level 1.map", OVU_NAME_SAFE, OVU_NAME_SAFE},
    {"data\\maps\\a.map", OVU_NAME_SAFE, OVU_NAME_SAFE},
    {"..a/b", OVU_NAME_SAFE, OVU_NAME_SAFE},
    {"console.txt", OVU_NAME_SAFE, OVU_NAME_SAFE},
    {"COM10", OVU_NAME_SAFE, OVU_NAME_SAFE},
    {"LPT", OVU_NAME_SAFE, OVU_NAME_SAFE},
    {"CONIN", OVU_NAME_SAFE, OVU_NAME_SAFE},
    {"COM\xC2\xB4", OVU_NAME_SAFE, OVU_NAME_SAFE},        // an acute accent, not a digit
    {"LPT\xE2\x81\xB4", OVU_NAME_SAFE, OVU_NAME_SAFE},   // superscript four: no device
    {"icon", OVU_NAME_SAFE, OVU_NAME_SAFE},
    {"100%.txt", OVU_NAME_SAFE, OVU_NAME_SAFE},
    {"a#b.txt", OVU_NAME_SAFE, OVU_NAME_SAFE},
    {"a\x7f", OVU_NAME_SAFE, OVU_NAME_SAFE},
    {" lead", OVU_NAME_SAFE, OVU_NAME_SAFE},
    {"caf\xC3\xA9/\xC3\xBC" "ber.txt", OVU_NAME_SAFE, OVU_NAME_SAFE},
    {"data/tmp/a", OVU_NAME_SAFE, OVU_NAME_SAFE},
    {"tmp2/a", OVU_NAME_SAFE, OVU_NAME_SAFE},
    {"tmp.txt", OVU_NAME_SAFE, OVU_NAME_SAFE},
    {"update_manifest.lst2", OVU_NAME_SAFE, OVU_NAME_SAFE},
    {"/etc/passwd", OVU_NAME_ABSOLUTE, OVU_NAME_ABSOLUTE},
    {"\\windows\\system32\\a.dll", OVU_NAME_ABSOLUTE, OVU_NAME_ABSOLUTE},
    {"//server/share/a", OVU_NAME_ABSOLUTE, OVU_NAME_ABSOLUTE},
    {"C:evil.exe", OVU_NAME_COLON, OVU_NAME_COLON},
    {"C:\\evil.exe", OVU_NAME_COLON, OVU_NAME_COLON},
    {"file.txt:stream", OVU_NAME_COLON, OVU_NAME_COLON},
    {"", OVU_NAME_EMPTY_COMPONENT, OVU_NAME_EMPTY_COMPONENT},
    {"a//b", OVU_NAME_EMPTY_COMPONENT, OVU_NAME_EMPTY_COMPONENT},
    {"a\\\\b", OVU_NAME_EMPTY_COMPONENT, OVU_NAME_EMPTY_COMPONENT},
    {"dir/", OVU_NAME_EMPTY_COMPONENT, OVU_NAME_EMPTY_COMPONENT},
    {"..", OVU_NAME_PARENT_COMPONENT, OVU_NAME_PARENT_COMPONENT},
    {"../outside", OVU_NAME_PARENT_COMPONENT, OVU_NAME_PARENT_COMPONENT},
    {"a/../../outside", OVU_NAME_PARENT_COMPONENT, OVU_NAME_PARENT_COMPONENT},
    {"a\\..\\..\\outside", OVU_NAME_PARENT_COMPONENT, OVU_NAME_PARENT_COMPONENT},
    {"a/..", OVU_NAME_PARENT_COMPONENT, OVU_NAME_PARENT_COMPONENT},
    {"./a", OVU_NAME_DOT_COMPONENT, OVU_NAME_DOT_COMPONENT},
    {"a/./b", OVU_NAME_DOT_COMPONENT, OVU_NAME_DOT_COMPONENT},
    {"a\\.", OVU_NAME_DOT_COMPONENT, OVU_NAME_DOT_COMPONENT},
    {"a\rb", OVU_NAME_CARRIAGE_RETURN, OVU_NAME_CARRIAGE_RETURN},
    {"a.txt\r", OVU_NAME_CARRIAGE_RETURN, OVU_NAME_CARRIAGE_RETURN},
    // The launcher's own files and folder, and names under them, in any case.
    {"update_manifest.lst", OVU_NAME_LAUNCHER_FILE, OVU_NAME_LAUNCHER_FILE},
    {"Update_Manifest.LST", OVU_NAME_LAUNCHER_FILE, OVU_NAME_LAUNCHER_FILE},
    {"update_manifest.lst.tmp", OVU_NAME_LAUNCHER_FILE, OVU_NAME_LAUNCHER_FILE},
    {"update_manifest.lst.release", OVU_NAME_LAUNCHER_FILE, OVU_NAME_LAUNCHER_FILE},
    {"UPDATE_MANIFEST.LST.RELEASE.TMP", OVU_NAME_LAUNCHER_FILE, OVU_NAME_LAUNCHER_FILE},
    {"update_exclude.lst", OVU_NAME_LAUNCHER_FILE, OVU_NAME_LAUNCHER_FILE},
    {"torvane_updater_lock.tmp", OVU_NAME_LAUNCHER_FILE, OVU_NAME_LAUNCHER_FILE},
    {"tmp", OVU_NAME_LAUNCHER_FILE, OVU_NAME_LAUNCHER_FILE},
    {"tmp/update.tmp", OVU_NAME_LAUNCHER_FILE, OVU_NAME_LAUNCHER_FILE},
    {"TMP/deep/er.dat", OVU_NAME_LAUNCHER_FILE, OVU_NAME_LAUNCHER_FILE},
    {"Tmp\\a", OVU_NAME_LAUNCHER_FILE, OVU_NAME_LAUNCHER_FILE},
    {"update_manifest.lst/a", OVU_NAME_LAUNCHER_FILE, OVU_NAME_LAUNCHER_FILE},
    {"update_exclude.lst\\a", OVU_NAME_LAUNCHER_FILE, OVU_NAME_LAUNCHER_FILE},
    {"update_manife\xC5\xBFt.lst", OVU_NAME_LAUNCHER_FILE, OVU_NAME_LAUNCHER_FILE},  // a long s: S
    // Windows: device names, with the new ones.
    {"CON", OVU_NAME_SAFE, OVU_NAME_DEVICE},
    {"con.txt", OVU_NAME_SAFE, OVU_NAME_DEVICE},
    {"data/Nul.tar.gz", OVU_NAME_SAFE, OVU_NAME_DEVICE},
    {"aux/readme", OVU_NAME_SAFE, OVU_NAME_DEVICE},
    {"prn .log", OVU_NAME_SAFE, OVU_NAME_DEVICE},
    {"a\\com1", OVU_NAME_SAFE, OVU_NAME_DEVICE},
    {"LPT9.dat", OVU_NAME_SAFE, OVU_NAME_DEVICE},
    {"nul.", OVU_NAME_SAFE, OVU_NAME_DEVICE},
    {"COM0", OVU_NAME_SAFE, OVU_NAME_DEVICE},
    {"lpt0.txt", OVU_NAME_SAFE, OVU_NAME_DEVICE},
    {"COM\xC2\xB9", OVU_NAME_SAFE, OVU_NAME_DEVICE},
    {"com\xC2\xB2.log", OVU_NAME_SAFE, OVU_NAME_DEVICE},
    {"data/COM\xC2\xB3", OVU_NAME_SAFE, OVU_NAME_DEVICE},
    {"LPT\xC2\xB9", OVU_NAME_SAFE, OVU_NAME_DEVICE},
    {"lpt\xC2\xB2", OVU_NAME_SAFE, OVU_NAME_DEVICE},
    {"LPT\xC2\xB3.dat", OVU_NAME_SAFE, OVU_NAME_DEVICE},
    {"CONIN$", OVU_NAME_SAFE, OVU_NAME_DEVICE},
    {"conin$.txt", OVU_NAME_SAFE, OVU_NAME_DEVICE},
    {"CONOUT$", OVU_NAME_SAFE, OVU_NAME_DEVICE},
    {"a/ConOut$ .log", OVU_NAME_SAFE, OVU_NAME_DEVICE},
    // Windows: characters no name holds.
    {"a<b", OVU_NAME_SAFE, OVU_NAME_RESERVED_CHARACTER},
    {"a>b", OVU_NAME_SAFE, OVU_NAME_RESERVED_CHARACTER},
    {"say \"hi\".txt", OVU_NAME_SAFE, OVU_NAME_RESERVED_CHARACTER},
    {"a|b", OVU_NAME_SAFE, OVU_NAME_RESERVED_CHARACTER},
    {"what?.txt", OVU_NAME_SAFE, OVU_NAME_RESERVED_CHARACTER},
    {"data/*.dat", OVU_NAME_SAFE, OVU_NAME_RESERVED_CHARACTER},
    {"a\x01", OVU_NAME_SAFE, OVU_NAME_CONTROL_CHARACTER},
    {"a\tb", OVU_NAME_SAFE, OVU_NAME_CONTROL_CHARACTER},
    {"a\nb", OVU_NAME_SAFE, OVU_NAME_CONTROL_CHARACTER},
    {"a\x1f/b", OVU_NAME_SAFE, OVU_NAME_CONTROL_CHARACTER},
    {"\xff.txt", OVU_NAME_SAFE, OVU_NAME_NOT_UTF8},
    {"\xC0\xAF", OVU_NAME_SAFE, OVU_NAME_NOT_UTF8},          // an overlong "/"
    {"\xED\xA0\x80.txt", OVU_NAME_SAFE, OVU_NAME_NOT_UTF8},  // a surrogate
    {"caf\xC3", OVU_NAME_SAFE, OVU_NAME_NOT_UTF8},            // cut short
    // Windows: a component that ends in a dot or a blank.
    {"a.", OVU_NAME_SAFE, OVU_NAME_TRAILING_DOT_OR_BLANK},
    {"...", OVU_NAME_SAFE, OVU_NAME_TRAILING_DOT_OR_BLANK},
    {"..a/b..", OVU_NAME_SAFE, OVU_NAME_TRAILING_DOT_OR_BLANK},
    {"a ", OVU_NAME_SAFE, OVU_NAME_TRAILING_DOT_OR_BLANK},
    {"data /a", OVU_NAME_SAFE, OVU_NAME_TRAILING_DOT_OR_BLANK},
    {"data./a", OVU_NAME_SAFE, OVU_NAME_TRAILING_DOT_OR_BLANK},
};

void PrintTo(const name_case &c, std::ostream *out) { *out << "'" << c.name << "'"; }

class file_name_safety_test : public testing::TestWithParam<name_case> {};

TEST_P(file_name_safety_test, finds_the_problem) {
  EXPECT_EQ(ovu_check_file_name(GetParam().name, OVU_NAME_RULES_EVERYWHERE), GetParam().everywhere);
  EXPECT_EQ(ovu_check_file_name(GetParam().name, OVU_NAME_RULES_WINDOWS), GetParam().windows);
}

INSTANTIATE_TEST_SUITE_P(table, file_name_safety_test, testing::ValuesIn(NAME_CASES));

TEST(file_name_safety_text_test, every_problem_has_its_own_phrase) {
  EXPECT_EQ(ovu_check_file_name(nullptr, OVU_NAME_RULES_WINDOWS), OVU_NAME_EMPTY_COMPONENT);
  EXPECT_STREQ(ovu_name_problem_text(OVU_NAME_ABSOLUTE), "absolute path");
  EXPECT_STREQ(ovu_name_problem_text(OVU_NAME_COLON), "drive or stream colon");
  EXPECT_STREQ(ovu_name_problem_text(OVU_NAME_EMPTY_COMPONENT), "empty path component");
  EXPECT_STREQ(ovu_name_problem_text(OVU_NAME_PARENT_COMPONENT), "'..' path component");
  EXPECT_STREQ(ovu_name_problem_text(OVU_NAME_DEVICE), "reserved device name");
  EXPECT_STREQ(ovu_name_problem_text(OVU_NAME_DOT_COMPONENT), "'.' path component");
  EXPECT_STREQ(ovu_name_problem_text(OVU_NAME_CARRIAGE_RETURN), "carriage return");
  EXPECT_STREQ(ovu_name_problem_text(OVU_NAME_LAUNCHER_FILE), "the launcher's own file");
  EXPECT_STREQ(ovu_name_problem_text(OVU_NAME_NOT_UTF8), "not UTF-8");
  EXPECT_STREQ(ovu_name_problem_text(OVU_NAME_CONTROL_CHARACTER), "control character");
  EXPECT_STREQ(ovu_name_problem_text(OVU_NAME_RESERVED_CHARACTER), "character reserved by Windows");
  EXPECT_STREQ(ovu_name_problem_text(OVU_NAME_TRAILING_DOT_OR_BLANK), "dot or blank at the end of a component");
}

}  // namespace
