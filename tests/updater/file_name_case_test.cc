// Names as Windows compares them: upper-cased character by character,
// "\" read as "/", bytes that are no character compared as they are.
#include "updater/file_name_case.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <cstring>
#include <cwctype>
#include <ostream>
#include <string>

#include "support/bounded_string.h"

namespace {

struct pair_case {
  const char *a;
  const char *b;
  bool one_file;
};

const pair_case PAIR_CASES[] = {
    {"Data/a", "data/a", true},
    {"data\\a", "DATA/A", true},
    {"readme.txt", "readme.txt", true},
    {"\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", true},        // été, ÉTÉ
    {"\xC3\xBF", "\xC5\xB8", true},                          // ÿ, Ÿ
    {"\xC4\xB1", "I", true},                                 // dotless ı, I
    {"\xC5\xBF", "s", true},                                 // long ſ, s
    {"\xCF\x83", "\xCF\x82", true},                          // σ, final ς: both Σ
    {"\xC7\x86", "\xC7\x85", true},                          // ǆ, ǅ: both Ǆ
    {"\xD0\xB6\xD1\x91", "\xD0\x96\xD0\x81", true},          // жё, ЖЁ
    {"\xCE\xAC", "\xCE\x86", true},                          // ά, Ά
    {"\xEF\xBD\x81", "\xEF\xBC\xA1", true},                  // fullwidth a, A
    {"\xE1\xBA\xA1", "\xE1\xBA\xA0", true},                  // ạ, Ạ
    {"\xC9\x90", "\xE2\xB1\xAF", true},                      // ɐ, Ɐ: the capital is longer
    {"\xff", "\xff", true},
    {"a", "b", false},
    {"data/a", "data/a2", false},
    {"stra\xC3\x9F" "e", "STRASSE", false},                  // ß has no single capital
    {"\xE2\x84\xAA", "k", false},                            // the Kelvin sign is its own capital
    {"\xF0\x90\x90\xA8", "\xF0\x90\x90\x80", false},         // beyond the BMP Windows folds nothing
    {"\xff", "\xfe", false},
    {"\xC3", "\xC3\x83", false},                             // a cut character is not Ã
    {"a/b", "a\xC0\xAF" "b", false},                         // an overlong "/" is no separator
};

void PrintTo(const pair_case &c, std::ostream *out) { *out << "'" << c.a << "' and '" << c.b << "'"; }

// The key of |name| in a string one character longer than its room: full
// only if the room was too small.
std::string key_of(const char *name) {
  qarn_heap_bounded_string key(static_cast<int32_t>(ovu_comparison_key_room(std::strlen(name)) + 1));
  ovu_append_comparison_key(key, name);
  EXPECT_FALSE(key.is_full()) << name;
  return key.text();
}

class file_name_case_test : public testing::TestWithParam<pair_case> {};

TEST_P(file_name_case_test, compares_keys_and_hashes_alike) {
  const pair_case &c = GetParam();
  EXPECT_EQ(ovu_compare_names_ignoring_case(c.a, c.b) == 0, c.one_file);
  EXPECT_EQ(ovu_compare_names_ignoring_case(c.b, c.a) == 0, c.one_file);
  EXPECT_EQ(key_of(c.a) == key_of(c.b), c.one_file);
  if (c.one_file) {
    EXPECT_EQ(ovu_name_case_hash(c.a), ovu_name_case_hash(c.b));
  } else {
    EXPECT_EQ(ovu_compare_names_ignoring_case(c.a, c.b), -ovu_compare_names_ignoring_case(c.b, c.a));
  }
}

INSTANTIATE_TEST_SUITE_P(table, file_name_case_test, testing::ValuesIn(PAIR_CASES));

TEST(file_name_case_key_test, a_name_of_letters_with_longer_capitals_fits_its_room) {
  std::string name;
  for (int i = 0; i < 100; i++) {
    name += "\xC9\x90";  // ɐ, whose capital takes three bytes
  }
  std::string key = key_of(name.c_str());
  EXPECT_EQ(key.size(), 300u);
  EXPECT_EQ(ovu_comparison_key_room(name.size()), 300u);
}

TEST(file_name_case_span_test, compares_a_part_of_a_name_with_a_word) {
  const char name[] = "TMP/update.tmp";
  EXPECT_TRUE(ovu_equal_ignoring_case(name, 3, "tmp"));
  EXPECT_FALSE(ovu_equal_ignoring_case(name, 2, "tmp"));
  EXPECT_FALSE(ovu_equal_ignoring_case(name, 4, "tmp"));
  // A character cut by the end of the part does not match it.
  const char accented[] = "\xC3\xA9x";
  EXPECT_FALSE(ovu_equal_ignoring_case(accented, 1, "\xC3"));
  EXPECT_TRUE(ovu_equal_ignoring_case(accented, 2, "\xC3\x89"));
}

struct utf8_case {
  const char *text;
  bool valid;
};

TEST(file_name_case_utf8_test, tells_valid_utf8_from_the_rest) {
  const utf8_case cases[] = {
      {"", true},
      {"plain.txt", true},
      {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xAE", true},  // é, €, a game controller
      {"\xEF\xBF\xBF", true},
      {"\xF4\x8F\xBF\xBF", true},                      // U+10FFFF
      {"\x80", false},
      {"\xC3", false},
      {"\xC3(", false},
      {"\xC0\x80", false},
      {"\xE0\x80\xAF", false},
      {"\xED\xA0\x80", false},
      {"\xED\xBF\xBF", false},
      {"\xF4\x90\x80\x80", false},                     // beyond U+10FFFF
      {"\xF8\x88\x80\x80\x80", false},
      {"\xFF", false},
  };
  for (const utf8_case &c : cases) {
    EXPECT_EQ(ovu_is_utf8(c.text), c.valid) << c.text;
  }
}

std::string utf8_of(uint32_t code) {
  qarn_bounded_string text;
  if (code < 0x80) {
    text.append_char(static_cast<char>(code));
  } else if (code < 0x800) {
    text.append_char(static_cast<char>(0xC0 | (code >> 6)));
    text.append_char(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    text.append_char(static_cast<char>(0xE0 | (code >> 12)));
    text.append_char(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    text.append_char(static_cast<char>(0x80 | (code & 0x3F)));
  }
  return text.text();
}

// The C library's own upper-case mapping is an independent judge: every
// pair of characters it maps together must be one file here too, or a
// release could hold both and a Windows disk only one.
TEST(file_name_case_table_test, folds_every_pair_that_the_c_library_upper_cases_together) {
  if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) {
    GTEST_SKIP() << "no C.UTF-8 locale here";
  }
  int compared = 0;
  for (uint32_t code = 0x80; code < 0x10000; code++) {
    if (code >= 0xD800 && code <= 0xDFFF) {
      continue;
    }
    uint32_t upper = static_cast<uint32_t>(std::towupper(static_cast<wint_t>(code)));
    if (upper == code || upper >= 0x10000) {
      continue;
    }
    compared++;
    EXPECT_EQ(ovu_compare_names_ignoring_case(utf8_of(code).c_str(), utf8_of(upper).c_str()), 0)
        << std::hex << "U+" << code << " and U+" << upper;
  }
  std::setlocale(LC_CTYPE, "C");
  EXPECT_GT(compared, 1000);
}

}  // namespace
