// The manifest line syntax, shared by the local manifest and the remote one.
#include "updater/manifest_entry.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "tests/common/diagnostic_capture.h"

namespace {

enum class parsed { entry, comment, error };

struct line_case {
  const char *line;
  parsed outcome;
  const char *hash;  // entry only
  int64_t size;
  const char *name;
  const char *error;  // error only: the headline's ending
};

const line_case LINE_CASES[] = {
    {"a1b2c3d4e5 42 readme.txt", parsed::entry, "a1b2c3d4e5", 42, "readme.txt", nullptr},
    {"  \t a1b2c3d4e5\t\t42  \t readme.txt", parsed::entry, "a1b2c3d4e5", 42, "readme.txt", nullptr},
    // Only the first ten characters must be lower-case hex.
    {"0123456789ABCXYZ 7 a", parsed::entry, "0123456789ABCXYZ", 7, "a", nullptr},
    {"0123456789abcdef0123456789abcdef 1 dir/sub/file.dat", parsed::entry,
     "0123456789abcdef0123456789abcdef", 1, "dir/sub/file.dat", nullptr},
    // The name is the rest of the line, inner and trailing blanks kept.
    {"aaaaaaaaaa 5 my file.txt  ", parsed::entry, "aaaaaaaaaa", 5, "my file.txt  ", nullptr},
    {"aaaaaaaaaa 5 a\tb", parsed::entry, "aaaaaaaaaa", 5, "a\tb", nullptr},
    // A carriage return is an ordinary character.
    {"aaaaaaaaaa 5 name\r", parsed::entry, "aaaaaaaaaa", 5, "name\r", nullptr},
    // The size's first digits count.
    {"aaaaaaaaaa 12x n", parsed::entry, "aaaaaaaaaa", 12, "n", nullptr},
    {"aaaaaaaaaa 123abc n", parsed::entry, "aaaaaaaaaa", 123, "n", nullptr},
    {"aaaaaaaaaa +7 n", parsed::entry, "aaaaaaaaaa", 7, "n", nullptr},
    // Sizes are 64-bit, from 0 to the largest file (2^40 bytes).
    {"aaaaaaaaaa 0 n", parsed::entry, "aaaaaaaaaa", 0, "n", nullptr},
    {"aaaaaaaaaa -0 n", parsed::entry, "aaaaaaaaaa", 0, "n", nullptr},
    {"aaaaaaaaaa 2147483647 n", parsed::entry, "aaaaaaaaaa", 2147483647, "n", nullptr},
    {"aaaaaaaaaa 2147483648 n", parsed::entry, "aaaaaaaaaa", 2147483648, "n", nullptr},
    {"aaaaaaaaaa 2147483649 n", parsed::entry, "aaaaaaaaaa", 2147483649, "n", nullptr},
    {"aaaaaaaaaa 4294967295 n", parsed::entry, "aaaaaaaaaa", 4294967295, "n", nullptr},
    {"aaaaaaaaaa 4294967301 n", parsed::entry, "aaaaaaaaaa", 4294967301, "n", nullptr},
    {"aaaaaaaaaa 99999999999 n", parsed::entry, "aaaaaaaaaa", 99999999999, "n", nullptr},
    {"aaaaaaaaaa 1099511627776 n", parsed::entry, "aaaaaaaaaa", 1099511627776, "n", nullptr},
    {"aaaaaaaaaa +0001099511627776x n", parsed::entry, "aaaaaaaaaa", 1099511627776, "n", nullptr},
    // Leading zeros do not count; only the value does.
    {"aaaaaaaaaa 000000000000000000000000042 n", parsed::entry, "aaaaaaaaaa", 42, "n", nullptr},
    // A size that no file can have is a bad line, as a missing one is.
    {"aaaaaaaaaa -5 n", parsed::error, nullptr, 0, nullptr, " - bad or missing file size for line:"},
    {"aaaaaaaaaa -2147483648 n", parsed::error, nullptr, 0, nullptr, " - bad or missing file size for line:"},
    {"aaaaaaaaaa 1099511627777 n", parsed::error, nullptr, 0, nullptr, " - bad or missing file size for line:"},
    {"aaaaaaaaaa 9223372036854775807 n", parsed::error, nullptr, 0, nullptr, " - bad or missing file size for line:"},
    {"aaaaaaaaaa 9223372036854775808 n", parsed::error, nullptr, 0, nullptr, " - bad or missing file size for line:"},
    {"aaaaaaaaaa 18446744073709551621 n", parsed::error, nullptr, 0, nullptr,
     " - bad or missing file size for line:"},
    {"aaaaaaaaaa 1000000000000000000000000000000000000000 n", parsed::error, nullptr, 0, nullptr,
     " - bad or missing file size for line:"},
    {"", parsed::comment, nullptr, 0, nullptr, nullptr},
    {"   \t ", parsed::comment, nullptr, 0, nullptr, nullptr},
    {"# a comment", parsed::comment, nullptr, 0, nullptr, nullptr},
    {"  \t# indented comment", parsed::comment, nullptr, 0, nullptr, nullptr},
    {"Abcdef0123 1 n", parsed::error, nullptr, 0, nullptr, " - bad or missing hash field for line:"},
    {"012345678 1 n", parsed::error, nullptr, 0, nullptr, " - bad or missing hash field for line:"},
    {"0123456789", parsed::error, nullptr, 0, nullptr, " - bad or missing file size for line:"},
    {"0123456789 x12 n", parsed::error, nullptr, 0, nullptr, " - bad or missing file size for line:"},
    {"0123456789 - n", parsed::error, nullptr, 0, nullptr, " - bad or missing file size for line:"},
    {"0123456789 12", parsed::error, nullptr, 0, nullptr, " - missing file name for line:"},
    {"0123456789 12 \t ", parsed::error, nullptr, 0, nullptr, " - missing file name for line:"},
};

void PrintTo(const line_case &c, std::ostream *out) { *out << "'" << c.line << "'"; }

class manifest_line_test : public diagnostic_capture_test, public testing::WithParamInterface<line_case> {};

TEST_P(manifest_line_test, parses_as_the_syntax_says) {
  const line_case &c = GetParam();
  ovu_manifest_entry *entry = reinterpret_cast<ovu_manifest_entry *>(1);
  start_capture();
  int result = parse_manifest_line("downloaded data", c.line, &entry);
  std::string reports = stop_capture();
  switch (c.outcome) {
    case parsed::entry:
      ASSERT_EQ(result, 1);
      ASSERT_NE(entry, nullptr);
      EXPECT_STREQ(entry->hash, c.hash);
      EXPECT_EQ(entry->size, c.size);
      EXPECT_STREQ(entry->name, c.name);
      EXPECT_EQ(entry->next, nullptr);
      EXPECT_EQ(reports, "");
      break;
    case parsed::comment:
      EXPECT_EQ(result, 1);
      EXPECT_EQ(entry, nullptr);
      EXPECT_EQ(reports, "");
      break;
    case parsed::error:
      EXPECT_EQ(result, 0);
      EXPECT_EQ(entry, nullptr);
      EXPECT_EQ(reports, std::string("Syntax error in downloaded data") + c.error + "\n" + c.line + "\n");
      break;
  }
  ovu_free_manifest_entry(entry);
}

// The same line scanned in place and made into an entry in an arena: the
// same fields, the same reports.
TEST_P(manifest_line_test, scans_in_place_and_makes_the_same_entry_in_an_arena) {
  const line_case &c = GetParam();
  qarn_memory_arena arena;
  ovu_manifest_line_fields fields = {};
  start_capture();
  ovu_manifest_line_kind kind = ovu_scan_manifest_line("downloaded data", c.line, &fields);
  ovu_manifest_entry *entry = kind == OVU_MANIFEST_LINE_ENTRY ? ovu_make_arena_entry(arena, fields) : nullptr;
  std::string reports = stop_capture();
  switch (c.outcome) {
    case parsed::entry:
      ASSERT_EQ(kind, OVU_MANIFEST_LINE_ENTRY);
      EXPECT_EQ(std::string(fields.hash, fields.hash_len), c.hash);
      EXPECT_GE(fields.name, c.line) << "a view into the line";
      ASSERT_NE(entry, nullptr);
      EXPECT_STREQ(entry->hash, c.hash);
      EXPECT_EQ(entry->size, c.size);
      EXPECT_STREQ(entry->name, c.name);
      EXPECT_EQ(entry->next, nullptr);
      EXPECT_NE(entry->name, fields.name) << "a copy";
      EXPECT_EQ(reports, "");
      break;
    case parsed::comment:
      EXPECT_EQ(kind, OVU_MANIFEST_LINE_COMMENT);
      EXPECT_EQ(reports, "");
      break;
    case parsed::error:
      EXPECT_EQ(kind, OVU_MANIFEST_LINE_MALFORMED);
      EXPECT_EQ(reports, std::string("Syntax error in downloaded data") + c.error + "\n" + c.line + "\n");
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(table, manifest_line_test, testing::ValuesIn(LINE_CASES));

class manifest_line_report_test : public diagnostic_capture_test {};

// The reports are manifest-category diagnostics: hidden with that bit.
TEST_F(manifest_line_report_test, syntax_reports_are_manifest_diagnostics) {
  qarn_set_diagnostic_mask(16);
  ovu_manifest_entry *entry = nullptr;
  start_capture();
  EXPECT_EQ(parse_manifest_line("file manifest", "bad line", &entry), 0);
  EXPECT_EQ(stop_capture(), "");
}

TEST_F(manifest_line_report_test, the_context_names_the_source) {
  ovu_manifest_entry *entry = nullptr;
  start_capture();
  EXPECT_EQ(parse_manifest_line("file manifest", "zz", &entry), 0);
  EXPECT_EQ(stop_capture(), "Syntax error in file manifest - bad or missing hash field for line:\nzz\n");
}

TEST_F(manifest_line_report_test, a_hash_longer_than_a_bounded_string_is_cut) {
  std::string line = std::string(7000, 'a') + " 1 name";
  ovu_manifest_entry *entry = nullptr;
  start_capture();
  ASSERT_EQ(parse_manifest_line("downloaded data", line.c_str(), &entry), 1);
  std::string reports = stop_capture();
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(std::string(entry->hash), std::string(5999, 'a'));
  EXPECT_STREQ(entry->name, "name");
  EXPECT_NE(reports.find("String Buffer overflow"), std::string::npos) << reports;
  ovu_free_manifest_entry(entry);
}

TEST_F(manifest_line_report_test, a_hash_longer_than_a_bounded_string_is_cut_in_an_arena_too) {
  std::string line = std::string(7000, 'a') + " 1 name";
  qarn_memory_arena arena;
  ovu_manifest_line_fields fields;
  start_capture();
  ASSERT_EQ(ovu_scan_manifest_line("downloaded data", line.c_str(), &fields), OVU_MANIFEST_LINE_ENTRY);
  ovu_manifest_entry *entry = ovu_make_arena_entry(arena, fields);
  std::string reports = stop_capture();
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(std::string(entry->hash), std::string(5999, 'a'));
  EXPECT_STREQ(entry->name, "name");
  EXPECT_NE(reports.find("String Buffer overflow"), std::string::npos) << reports;
}

}  // namespace
