// Release declarations in the remote manifest, and the release state file.
#include "updater/release_declarations.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "tests/common/diagnostic_capture.h"
#include "tests/common/file_contents.h"
#include "tests/common/scratch_directory.h"
#include "updater/release_state.h"

namespace {

struct declaration_case {
  const char *line;
  ovu_declaration_result result;
  ovu_release_declarations after;  // starting from all zero
};

const declaration_case DECLARATION_CASES[] = {
    {"#torvane-hash sha256", OVU_DECLARATION_TAKEN, {1, 0, 0, 0, 0}},
    {"#torvane-serial 1765372800", OVU_DECLARATION_TAKEN, {0, 1, 1765372800u, 0, 0}},
    {"#torvane-serial 0", OVU_DECLARATION_TAKEN, {0, 1, 0, 0, 0}},
    {"#torvane-expires 1766000000", OVU_DECLARATION_TAKEN, {0, 0, 0, 1, 1766000000}},
    {"#torvane-serial 999999999999999999", OVU_DECLARATION_TAKEN, {0, 1, 999999999999999999u, 0, 0}},
    // Malformed known declarations must not pass for absent ones.
    {"#torvane-hash sha1", OVU_DECLARATION_BAD, {}},
    {"#torvane-hash sha256 ", OVU_DECLARATION_BAD, {}},
    {"#torvane-serial", OVU_DECLARATION_BAD, {}},
    {"#torvane-serial ", OVU_DECLARATION_BAD, {}},
    {"#torvane-serial 12x", OVU_DECLARATION_BAD, {}},
    {"#torvane-serial -5", OVU_DECLARATION_BAD, {}},
    {"#torvane-serial 1234567890123456789", OVU_DECLARATION_BAD, {}},
    {"#torvane-expires soon", OVU_DECLARATION_BAD, {}},
    // Other lines: comments and entries, also other "#torvane-" words.
    {"#torvane-mirror http://example.org/", OVU_NOT_A_DECLARATION, {}},
    {"# torvane-hash sha256", OVU_NOT_A_DECLARATION, {}},
    {" #torvane-hash sha256", OVU_NOT_A_DECLARATION, {}},
    {"# release 7", OVU_NOT_A_DECLARATION, {}},
    {"0123456789abcdef 1 #torvane-hash sha256", OVU_NOT_A_DECLARATION, {}},
    {"", OVU_NOT_A_DECLARATION, {}},
};

void PrintTo(const declaration_case &c, std::ostream *out) { *out << "'" << c.line << "'"; }

class release_declaration_test : public testing::TestWithParam<declaration_case> {};

TEST_P(release_declaration_test, reads_the_line) {
  const declaration_case &c = GetParam();
  ovu_release_declarations declarations = {};
  EXPECT_EQ(parse_release_declaration(c.line, &declarations), c.result);
  if (c.result == OVU_DECLARATION_TAKEN) {
    EXPECT_EQ(declarations.sha256_tokens, c.after.sha256_tokens);
    EXPECT_EQ(declarations.has_serial, c.after.has_serial);
    EXPECT_EQ(declarations.serial, c.after.serial);
    EXPECT_EQ(declarations.has_expiry, c.after.has_expiry);
    EXPECT_EQ(declarations.expires, c.after.expires);
  }
}

INSTANTIATE_TEST_SUITE_P(table, release_declaration_test, testing::ValuesIn(DECLARATION_CASES));

TEST(release_declarations_twice_test, a_declaration_given_twice_is_bad) {
  for (const char *line : {"#torvane-hash sha256", "#torvane-serial 5", "#torvane-expires 9"}) {
    ovu_release_declarations declarations = {};
    EXPECT_EQ(parse_release_declaration(line, &declarations), OVU_DECLARATION_TAKEN) << line;
    EXPECT_EQ(parse_release_declaration(line, &declarations), OVU_DECLARATION_BAD) << line;
  }
}

class release_state_test : public diagnostic_capture_test {};

TEST_F(release_state_test, the_serial_survives_a_save_and_a_load) {
  scratch_directory dir;
  qarn_bounded_string path;
  release_state_path(dir.file("update_manifest.lst").c_str(), path);
  EXPECT_EQ(std::string(path.text()), dir.file("update_manifest.lst.release"));
  uint64_t serial = 77;
  EXPECT_EQ(load_release_serial(path.text(), &serial), 0);
  EXPECT_EQ(serial, 77u);
  ASSERT_EQ(save_release_serial(path.text(), 1765372800u), 1);
  EXPECT_EQ(read_file(path.text()), "# Torvane release state - do not modify\nserial 1765372800\n");
  ASSERT_EQ(load_release_serial(path.text(), &serial), 1);
  EXPECT_EQ(serial, 1765372800u);
  ASSERT_EQ(save_release_serial(path.text(), 999999999999999999u), 1);
  ASSERT_EQ(load_release_serial(path.text(), &serial), 1);
  EXPECT_EQ(serial, 999999999999999999u);
  EXPECT_FALSE(dir.exists("update_manifest.lst.release.tmp"));
}

TEST_F(release_state_test, a_damaged_state_file_counts_as_none_and_is_reported) {
  scratch_directory dir;
  // A valid serial line does not make a state file of anything else.
  for (const char *content : {"", "serial 5\n", "# Torvane release state - do not modify\nserial five\n",
                              "# Torvane release state - do not modify\n",
                              "# Torvane release state - do not modifY\nserial 5\n",
                              "# This is an automatically generated file - do not modify\nserial 5\n",
                              "\nserial 5\n"}) {
    std::string path = dir.write_file("state", content);
    uint64_t serial = 3;
    start_capture();
    EXPECT_EQ(load_release_serial(path.c_str(), &serial), 0) << content;
    EXPECT_EQ(stop_capture(), "Warning in load_release_serial(), '" + path + "' is not a release state file.\n")
        << content;
    EXPECT_EQ(serial, 3u);
  }
}

TEST_F(release_state_test, an_unwritable_state_keeps_the_old_one) {
  scratch_directory dir;
  std::string path = dir.file("state");
  ASSERT_EQ(save_release_serial(path.c_str(), 10), 1);
  EXPECT_EQ(save_release_serial(dir.file("no/such/dir/state").c_str(), 11), 0);
  uint64_t serial = 0;
  ASSERT_EQ(load_release_serial(path.c_str(), &serial), 1);
  EXPECT_EQ(serial, 10u);
}

}  // namespace
