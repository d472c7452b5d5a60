// Which names from a manifest may be joined to the installation directory.
#include "updater/file_name_safety.h"

#include <gtest/gtest.h>

#include <ostream>

namespace {

struct name_case {
  const char *name;
  ovu_name_problem everywhere;     // without reserved device names
  ovu_name_problem with_devices;   // where the system reserves them
};

const name_case NAME_CASES[] = {
    {"readme.txt", OVU_NAME_SAFE, OVU_NAME_SAFE},
    {"data/maps/level 1.map", OVU_NAME_SAFE, OVU_NAME_SAFE},
    {"data\\maps\\a.map", OVU_NAME_SAFE, OVU_NAME_SAFE},
    {"...", OVU_NAME_SAFE, OVU_NAME_SAFE},
    {"..a/b..", OVU_NAME_SAFE, OVU_NAME_SAFE},
    {"./a", OVU_NAME_SAFE, OVU_NAME_SAFE},
    {"console.txt", OVU_NAME_SAFE, OVU_NAME_SAFE},
    {"COM0", OVU_NAME_SAFE, OVU_NAME_SAFE},
    {"COM10", OVU_NAME_SAFE, OVU_NAME_SAFE},
    {"LPT", OVU_NAME_SAFE, OVU_NAME_SAFE},
    {"icon", OVU_NAME_SAFE, OVU_NAME_SAFE},
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
    {"CON", OVU_NAME_SAFE, OVU_NAME_DEVICE},
    {"con.txt", OVU_NAME_SAFE, OVU_NAME_DEVICE},
    {"data/Nul.tar.gz", OVU_NAME_SAFE, OVU_NAME_DEVICE},
    {"aux/readme", OVU_NAME_SAFE, OVU_NAME_DEVICE},
    {"prn .log", OVU_NAME_SAFE, OVU_NAME_DEVICE},
    {"a\\com1", OVU_NAME_SAFE, OVU_NAME_DEVICE},
    {"LPT9.dat", OVU_NAME_SAFE, OVU_NAME_DEVICE},
    {"nul.", OVU_NAME_SAFE, OVU_NAME_DEVICE},
};

void PrintTo(const name_case &c, std::ostream *out) { *out << "'" << c.name << "'"; }

class file_name_safety_test : public testing::TestWithParam<name_case> {};

TEST_P(file_name_safety_test, finds_the_problem) {
  EXPECT_EQ(ovu_check_file_name(GetParam().name, 0), GetParam().everywhere);
  EXPECT_EQ(ovu_check_file_name(GetParam().name, 1), GetParam().with_devices);
}

INSTANTIATE_TEST_SUITE_P(table, file_name_safety_test, testing::ValuesIn(NAME_CASES));

TEST(file_name_safety_text_test, every_problem_has_its_own_phrase) {
  EXPECT_EQ(ovu_check_file_name(nullptr, 1), OVU_NAME_EMPTY_COMPONENT);
  EXPECT_STREQ(ovu_name_problem_text(OVU_NAME_ABSOLUTE), "absolute path");
  EXPECT_STREQ(ovu_name_problem_text(OVU_NAME_COLON), "drive or stream colon");
  EXPECT_STREQ(ovu_name_problem_text(OVU_NAME_EMPTY_COMPONENT), "empty path component");
  EXPECT_STREQ(ovu_name_problem_text(OVU_NAME_PARENT_COMPONENT), "'..' path component");
  EXPECT_STREQ(ovu_name_problem_text(OVU_NAME_DEVICE), "reserved device name");
}

}  // namespace
