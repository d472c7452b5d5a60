#include "support/text_scan.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>

#include "tests/common/diagnostic_capture.h"

namespace {

constexpr int NO_WORD = -1;

// Offset of |position| in |text|, or NO_WORD for null.
int offset_in(const char *text, const char *position) {
  return position == nullptr ? NO_WORD : static_cast<int>(position - text);
}

struct scan_case {
  const char *text;
  int expected;  // offset of the returned position, or NO_WORD
};

const scan_case NEXT_ARG_CASES[] = {
    {"one two", 4},
    {"one  \t\t two", 8},
    {"one\ntwo", 4},
    {"\t one two three", 6},
    {"a\rb c", 4},        // carriage return does not end a word
    {"one\r two", 5},
    {"   word", NO_WORD},  // blanks and one word
    {"   word \t\n", NO_WORD},
    {"word", NO_WORD},
    {"", NO_WORD},
    {" \t\n", NO_WORD},
};

void PrintTo(const scan_case &c, std::ostream *out) { *out << "'" << c.text << "'"; }

class next_arg_test : public testing::TestWithParam<scan_case> {};

TEST_P(next_arg_test, finds_the_second_word) {
  const char *text = GetParam().text;
  EXPECT_EQ(offset_in(text, next_arg(text)), GetParam().expected) << "text '" << text << "'";
}

INSTANTIATE_TEST_SUITE_P(table, next_arg_test, testing::ValuesIn(NEXT_ARG_CASES));

const scan_case LAST_ARG_CASES[] = {
    {"one two three", 8},
    {"a b\tc\nd", 6},
    {"one two  ", 4},
    {"one two\r", 4},
    {"  word", 0},  // one word: the text's own start, blanks included
    {"word", 0},
    {"", 0},
    {"   ", 0},
};

class last_arg_test : public testing::TestWithParam<scan_case> {};

TEST_P(last_arg_test, finds_the_last_word) {
  const char *text = GetParam().text;
  EXPECT_EQ(offset_in(text, last_arg(text)), GetParam().expected) << "text '" << text << "'";
}

INSTANTIATE_TEST_SUITE_P(table, last_arg_test, testing::ValuesIn(LAST_ARG_CASES));

struct compare_case {
  std::string a;
  std::string b;
  int expected;
};

// A word of |length| letters that uses the whole alphabet, in |upper| case.
std::string long_word(size_t length, bool upper) {
  std::string word;
  for (size_t i = 0; i < length; i++) {
    word += static_cast<char>((upper ? 'A' : 'a') + i % 26);
  }
  return word;
}

const compare_case WORD_EQUAL_CASES[] = {
    {"-h", "-H", 1},
    {"-V", "-v", 1},
    {"word\r", "word", 0},  // carriage return belongs to the word
    {"word", "word\r", 0},
    {"Word rest", "wORD\tother", 1},
    {"word\n", "WORD ", 1},
    {"abc", "abcd", 0},
    {"abcd", "abc", 0},
    {"", "", 1},
    {"", " x", 1},
    {"x", "", 0},
    {"[", "{", 0},  // only A-Z fold
    {"@", "`", 0},
    {"\xc9", "\xe9", 0},
    {"-", "-", 1},
    {long_word(399, false), long_word(399, true), 1},
    {long_word(399, false) + " tail", long_word(399, true), 1},
    {long_word(400, false), long_word(400, true), 0},  // the limit gives up
    {long_word(401, false), long_word(401, false), 0},
};

void PrintTo(const compare_case &c, std::ostream *out) {
  *out << "'" << c.a.substr(0, 24) << "', '" << c.b.substr(0, 24) << "'";
}

class word_equal_test : public testing::TestWithParam<compare_case> {};

TEST_P(word_equal_test, compares_first_words_ignoring_case) {
  const compare_case &c = GetParam();
  EXPECT_EQ(word_equal_nocase(c.a.c_str(), c.b.c_str()), c.expected)
      << "'" << c.a.substr(0, 20) << "' vs '" << c.b.substr(0, 20) << "'";
  EXPECT_EQ(word_equal_nocase(c.b.c_str(), c.a.c_str()), c.expected) << "symmetric";
}

INSTANTIATE_TEST_SUITE_P(table, word_equal_test, testing::ValuesIn(WORD_EQUAL_CASES));

const compare_case PREFIX_CASES[] = {
    {"HTTP/", "http/1.1 200 OK", 5},
    {"H", "x", 0},
    {"Content-Length:", "content-length: 42", 15},
    {"Content-Length:", "Content-Length:42", 15},
    {"abc def", "ABCXYZ", 3},  // the word ends at its blank, the text need not
    {"abc\tdef", "abc", 3},
    {"abc\ndef", "abc", 3},
    {"abc", "ab", 0},
    {"abc", "abd", 0},
    {"", "abc", 0},
    {"abc", "", 0},
    {" ", " x", 1},  // the first character is compared even when blank
    {" a", " b", 0},
    {"a\rb", "A\rB", 3},
    {"a\r", "a", 0},
    {"[", "{", 0},
    {long_word(399, true), long_word(399, false) + "more", 399},
    {long_word(399, true) + " x", long_word(399, false), 399},
    {long_word(400, true), long_word(400, false), 0},
};

class prefix_match_test : public testing::TestWithParam<compare_case> {};

TEST_P(prefix_match_test, returns_word_length_when_text_starts_with_it) {
  const compare_case &c = GetParam();
  EXPECT_EQ(word_prefix_match_nocase(c.a.c_str(), c.b.c_str()), c.expected)
      << "'" << c.a.substr(0, 20) << "' in '" << c.b.substr(0, 20) << "'";
}

INSTANTIATE_TEST_SUITE_P(table, prefix_match_test, testing::ValuesIn(PREFIX_CASES));

const compare_case LIST_CASES[] = {
    {"gzip", "deflate gzip br", 1},
    {"GZIP", "deflate\tgzip", 1},
    {"br", "deflate gzip\nbr", 1},
    {"deflate", "deflate gzip", 1},
    {"gz", "gzip", 0},
    {"zip", "gzip zip", 1},
    {"deflate", " deflate gzip", 0},  // a leading blank hides the first word
    {"gzip", " deflate gzip", 1},
    {"gzip rest", "a gzip", 1},  // only the first word of the word is looked at
    {"x", "", 0},
    {"x", "   ", 0},
    {"chunked\r", "chunked", 0},
    {"chunked", "identity chunked\r", 0},
};

class word_in_list_test : public testing::TestWithParam<compare_case> {};

TEST_P(word_in_list_test, finds_word_among_list_words) {
  const compare_case &c = GetParam();
  EXPECT_EQ(word_in_list_nocase(c.a.c_str(), c.b.c_str()), c.expected)
      << "'" << c.a << "' in '" << c.b << "'";
}

INSTANTIATE_TEST_SUITE_P(table, word_in_list_test, testing::ValuesIn(LIST_CASES));

struct parse_case {
  std::string text;
  int accepted;
  int32_t value;
};

const parse_case PARSE_CASES[] = {
    {"123", 1, 123},
    {"0", 1, 0},
    {"-0", 1, 0},
    {"007", 1, 7},
    {"+5", 1, 5},
    {"-5", 1, -5},
    {"12abc", 1, 12},
    {"42 17", 1, 42},
    {"2147483647", 1, 2147483647},
    {"2147483648", 1, 2147483647},
    {"99999999999", 1, 2147483647},  // eleven digits saturate
    {"-2147483648", 1, INT32_MIN},
    {"-2147483649", 1, INT32_MIN},
    {"-99999999999", 1, INT32_MIN},
    {"4294967296", 1, 2147483647},
    {"1" + std::string(400, '0'), 1, 2147483647},
    {"-" + std::string(50, '9'), 1, INT32_MIN},
    {" 5", 0, 0},  // no leading blank
    {"\t5", 0, 0},
    {"- 5", 0, 0},
    {"+-5", 0, 0},
    {"--5", 0, 0},
    {"-", 0, 0},
    {"+", 0, 0},
    {"", 0, 0},
    {"abc", 0, 0},
    {"0x10", 1, 0},
};

void PrintTo(const parse_case &c, std::ostream *out) { *out << "'" << c.text.substr(0, 24) << "'"; }

class parse_int_test : public testing::TestWithParam<parse_case> {};

TEST_P(parse_int_test, parses_leading_number) {
  const parse_case &c = GetParam();
  const int32_t untouched = -777;
  int32_t value = untouched;
  EXPECT_EQ(parse_int(c.text.c_str(), &value), c.accepted) << "'" << c.text.substr(0, 20) << "'";
  EXPECT_EQ(value, c.accepted ? c.value : untouched) << "'" << c.text.substr(0, 20) << "'";
  EXPECT_EQ(parse_int(c.text.c_str(), nullptr), c.accepted) << "result pointer is optional";
}

INSTANTIATE_TEST_SUITE_P(table, parse_int_test, testing::ValuesIn(PARSE_CASES));

class safe_strcpy_test : public diagnostic_capture_test {
 protected:
  static constexpr char UNTOUCHED = '#';
  void SetUp() override {
    diagnostic_capture_test::SetUp();
    std::memset(destination, UNTOUCHED, sizeof(destination));
  }
  char destination[32];
};

struct copy_case {
  const char *source;
  int32_t size;
  int result;
  const char *copied;
  const char *report;  // printed line without its newline, or ""
};

const copy_case COPY_CASES[] = {
    {"", 1, 1, "", ""},
    {"a", 1, 0, "", "Error in safe_strcpy(), overflow of dest, size 1. String was: ->a<-"},
    {"abc", 4, 1, "abc", ""},
    {"abcd", 4, 0, "abc", "Error in safe_strcpy(), overflow of dest, size 4. String was: ->abcd<-"},
    {"abc", 31, 1, "abc", ""},
    {"a\tb c", 3, 0, "a\t", "Error in safe_strcpy(), overflow of dest, size 3. String was: ->a\tb c<-"},
};

void PrintTo(const copy_case &c, std::ostream *out) {
  *out << "'" << c.source << "' size " << c.size;
}

class safe_strcpy_table_test : public safe_strcpy_test,
                               public testing::WithParamInterface<copy_case> {};

TEST_P(safe_strcpy_table_test, copies_within_size) {
  const copy_case &c = GetParam();
  start_capture();
  EXPECT_EQ(safe_strcpy(destination, c.source, c.size), c.result);
  std::string out = stop_capture();
  EXPECT_STREQ(destination, c.copied);
  EXPECT_EQ(destination[c.size], UNTOUCHED) << "nothing written past the size";
  EXPECT_EQ(out, *c.report ? std::string(c.report) + "\n" : std::string());
}

INSTANTIATE_TEST_SUITE_P(table, safe_strcpy_table_test, testing::ValuesIn(COPY_CASES));

TEST_F(safe_strcpy_test, null_destination_is_reported) {
  start_capture();
  EXPECT_EQ(safe_strcpy(nullptr, "abc", 4), 0);
  EXPECT_EQ(safe_strcpy(nullptr, nullptr, 0), 0);
  EXPECT_EQ(stop_capture(),
            "Error in safe_strcpy(), NULL dest.\nError in safe_strcpy(), NULL dest.\n");
}

TEST_F(safe_strcpy_test, size_below_one_is_reported_and_leaves_destination) {
  start_capture();
  EXPECT_EQ(safe_strcpy(destination, "abc", 0), 0);
  EXPECT_EQ(safe_strcpy(destination, "abc", -3), 0);
  EXPECT_EQ(safe_strcpy(destination, nullptr, 0), 0);
  EXPECT_EQ(stop_capture(), "Error in safe_strcpy(), dest too short.\n"
                            "Error in safe_strcpy(), dest too short.\n"
                            "Error in safe_strcpy(), dest too short.\n");
  EXPECT_EQ(destination[0], UNTOUCHED);
}

TEST_F(safe_strcpy_test, null_source_empties_destination) {
  start_capture();
  EXPECT_EQ(safe_strcpy(destination, nullptr, 8), 0);
  EXPECT_EQ(stop_capture(), "Error in safe_strcpy(), NULL src.\n");
  EXPECT_STREQ(destination, "");
}

TEST_F(safe_strcpy_test, every_report_is_category_four) {
  qarn_set_diagnostic_mask(QARN_DIAG_MISUSE);
  start_capture();
  safe_strcpy(nullptr, "a", 2);
  safe_strcpy(destination, "a", 0);
  safe_strcpy(destination, nullptr, 2);
  safe_strcpy(destination, "abc", 2);
  EXPECT_EQ(stop_capture(), "");
  EXPECT_STREQ(destination, "a");
}

TEST_F(safe_strcpy_test, overflow_report_of_a_huge_source_is_cut_and_flagged) {
  // The report is built in a bounded string: a source longer than it cuts
  // the report, which then reports its own overflow.
  std::string source(7000, 'x');
  start_capture();
  EXPECT_EQ(safe_strcpy(destination, source.c_str(), 16), 0);
  std::string out = stop_capture();
  std::string head = "Error in safe_strcpy(), overflow of dest, size 16. String was: ->";
  std::string report = head + source.substr(0, 5999 - head.size());
  std::string overflow =
      "String Buffer overflow, first few chars were ->" + report.substr(0, 100) + "<-";
  EXPECT_EQ(out, report + "\n" + overflow + "\n");
  EXPECT_EQ(std::string(destination), source.substr(0, 15));
}

class null_argument_test : public diagnostic_capture_test {};

TEST_F(null_argument_test, scanners_report_null_text_as_misuse) {
  start_capture();
  EXPECT_EQ(next_arg(nullptr), nullptr);
  EXPECT_EQ(last_arg(nullptr), nullptr);
  EXPECT_EQ(stop_capture(), "Error in next_arg(), NULL pointer passed in.\n"
                            "Error in last_arg(), NULL pointer passed in.\n");

  qarn_set_diagnostic_mask(QARN_DIAG_MISUSE);
  start_capture();
  next_arg(nullptr);
  last_arg(nullptr);
  EXPECT_EQ(stop_capture(), "") << "both are category 4";
}

TEST_F(null_argument_test, comparisons_and_parsing_refuse_null_quietly) {
  int32_t value = 5;
  start_capture();
  EXPECT_EQ(word_equal_nocase(nullptr, "a"), 0);
  EXPECT_EQ(word_equal_nocase("a", nullptr), 0);
  EXPECT_EQ(word_equal_nocase(nullptr, nullptr), 0);
  EXPECT_EQ(word_prefix_match_nocase(nullptr, "a"), 0);
  EXPECT_EQ(word_prefix_match_nocase("a", nullptr), 0);
  EXPECT_EQ(word_in_list_nocase(nullptr, "a"), 0);
  EXPECT_EQ(word_in_list_nocase("a", nullptr), 0);
  EXPECT_EQ(parse_int(nullptr, &value), 0);
  EXPECT_EQ(qarn_strdup(nullptr), nullptr);
  qarn_free_text(nullptr);
  char *none = nullptr;
  qarn_free_text(&none);
  EXPECT_EQ(stop_capture(), "");
  EXPECT_EQ(value, 5);
  EXPECT_EQ(none, nullptr);
}

TEST(text_copy_test, strdup_copies_and_free_text_forgets) {
  const char original[] = "manifest entry";
  char *copy = qarn_strdup(original);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy, original);
  EXPECT_STREQ(copy, original);
  qarn_free_text(&copy);
  EXPECT_EQ(copy, nullptr);

  char *empty = qarn_strdup("");
  ASSERT_NE(empty, nullptr);
  EXPECT_STREQ(empty, "");
  qarn_free_text(&empty);
  EXPECT_EQ(empty, nullptr);
}

}  // namespace
