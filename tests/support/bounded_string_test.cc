#include "support/bounded_string.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#include "support/memory_wipe.h"
#include "tests/common/diagnostic_capture.h"

namespace {

const char OVERFLOW_HEAD[] = "String Buffer overflow, first few chars were ->";

// The report a full string with |content| gives: its first 100 characters,
// each unprintable one shown as '.'.
std::string expected_report(const std::string &content) {
  std::string shown;
  for (size_t i = 0; i < content.size() && i < 100 && content[i] != '\0'; i++) {
    unsigned char c = static_cast<unsigned char>(content[i]);
    shown += (c < 32 || c > 126) ? '.' : content[i];
  }
  return std::string(OVERFLOW_HEAD) + shown + "<-\n";
}

// A text of |count| characters that differs along its length, so that a
// wrong cut shows.
std::string numbered_text(size_t count) {
  std::string text;
  for (size_t i = 0; i < count; i++) {
    text += static_cast<char>('a' + i % 26);
  }
  return text;
}

class bounded_string_test : public diagnostic_capture_test {};

TEST_F(bounded_string_test, new_string_is_empty_with_fixed_capacity) {
  qarn_bounded_string s;
  EXPECT_STREQ(s.text(), "");
  EXPECT_EQ(s.length(), 0);
  EXPECT_EQ(s.capacity(), QARN_BOUNDED_STRING_CAPACITY);
  EXPECT_EQ(s.capacity(), 5999);
  EXPECT_FALSE(s.is_full());
}

TEST_F(bounded_string_test, appends_chain_and_null_appends_marker) {
  qarn_bounded_string s;
  s.append("ab").append(nullptr).append("").append("cd");
  EXPECT_STREQ(s.text(), "ab(null)cd");
  EXPECT_EQ(s.length(), 10);
}

struct fill_case {
  size_t appended;
  size_t kept;
};

class bounded_string_fill_test : public diagnostic_capture_test,
                                 public testing::WithParamInterface<fill_case> {};

// 5999 characters fit exactly but still count as an overflow; 6000 lose one.
TEST_P(bounded_string_fill_test, keeps_capacity_and_reports_on_clear) {
  const std::string text = numbered_text(GetParam().appended);
  qarn_bounded_string s;
  start_capture();
  s.append(text.c_str());
  EXPECT_EQ(stop_capture(), "") << "appending never reports by itself";
  EXPECT_EQ(s.length(), static_cast<int32_t>(GetParam().kept));
  EXPECT_EQ(std::string(s.text()), text.substr(0, GetParam().kept));
  EXPECT_TRUE(s.is_full());

  start_capture();
  s.clear();
  EXPECT_EQ(stop_capture(), expected_report(text));
  EXPECT_EQ(s.length(), 0);
  EXPECT_STREQ(s.text(), "");
}

INSTANTIATE_TEST_SUITE_P(sizes, bounded_string_fill_test,
                         testing::Values(fill_case{5999, 5999}, fill_case{6000, 5999},
                                         fill_case{12000, 5999}));

TEST_F(bounded_string_test, full_string_ignores_further_appends) {
  qarn_heap_bounded_string s(3);
  s.append("abc");
  s.append("d");
  s.append_char('e');
  s.append_word("f");
  s.append_int(7);
  EXPECT_STREQ(s.text(), "abc");
  EXPECT_EQ(s.length(), 3);
  start_capture();
  s.clear();
  EXPECT_EQ(stop_capture(), expected_report("abc"));
}

TEST_F(bounded_string_test, append_bytes_takes_nul_bytes_and_stops_at_the_capacity) {
  qarn_heap_bounded_string s(6);
  s.append_bytes("ab\0c", 4);
  EXPECT_EQ(s.length(), 4);
  EXPECT_EQ(std::string(s.text(), 4), std::string("ab\0c", 4));
  s.append_bytes("defgh", 5);
  EXPECT_EQ(s.length(), 6);
  EXPECT_EQ(std::string(s.text(), 6), std::string("ab\0cde", 6));
  EXPECT_EQ(s.text()[6], '\0');
  s.append_bytes("x", 1);
  s.append_bytes("y", 0);
  s.append_bytes("y", -3);
  EXPECT_EQ(s.length(), 6);
  start_capture();
  s.clear();
  EXPECT_NE(stop_capture().find("String Buffer overflow"), std::string::npos);
}

TEST_F(bounded_string_test, overflow_is_reported_once_per_filling) {
  const std::string text = numbered_text(6000);
  qarn_bounded_string s;
  start_capture();
  s.append(text.c_str());
  s.clear();
  s.clear();
  s.append("short");
  s.clear();
  s.append(text.c_str());
  s.append(text.c_str());
  s.clear();
  EXPECT_EQ(stop_capture(), expected_report(text) + expected_report(text));
}

TEST_F(bounded_string_test, report_shows_unprintable_bytes_as_dots) {
  std::string content = "A\tB\rC";
  content += static_cast<char>(127);
  content += static_cast<char>(200);
  content += static_cast<char>(31);
  content += "~ Z";
  qarn_heap_bounded_string s(static_cast<int32_t>(content.size()));
  s.append(content.c_str());
  ASSERT_TRUE(s.is_full());
  start_capture();
  s.clear();
  EXPECT_EQ(stop_capture(), std::string(OVERFLOW_HEAD) + "A.B.C...~ Z<-\n");
}

TEST_F(bounded_string_test, report_shows_first_hundred_characters_only) {
  const std::string text = numbered_text(150);
  const std::string expected = std::string(OVERFLOW_HEAD) + text.substr(0, 100) + "<-\n";
  start_capture();
  {
    qarn_heap_bounded_string s(150);
    s.append(text.c_str());
    s.report_overflow();
    std::string out = stop_capture();
    EXPECT_EQ(out, expected);
    EXPECT_EQ(out.size(), std::strlen(OVERFLOW_HEAD) + 100 + 3);
    start_capture();
  }
  // Reporting by hand does not end the filling: the destruction reports it
  // once more.
  EXPECT_EQ(stop_capture(), expected);
}

TEST_F(bounded_string_test, report_stops_at_an_embedded_nul) {
  qarn_heap_bounded_string s(4);
  s.append("ab");
  s.append_char('\0');
  s.append_char('c');
  ASSERT_TRUE(s.is_full());
  start_capture();
  s.clear();
  EXPECT_EQ(stop_capture(), std::string(OVERFLOW_HEAD) + "ab<-\n");
}

TEST_F(bounded_string_test, report_is_category_two_of_the_support_library) {
  qarn_heap_bounded_string s(1);
  s.append("x");
  qarn_set_diagnostic_mask(QARN_DIAG_OPERATION);
  start_capture();
  s.clear();
  EXPECT_EQ(stop_capture(), "");
}

TEST_F(bounded_string_test, destruction_reports_only_when_full) {
  const std::string text = numbered_text(6000);
  start_capture();
  {
    qarn_bounded_string empty;
    qarn_bounded_string partly;
    partly.append("partly filled");
    qarn_heap_bounded_string heap_partly("abc", 10);
  }
  EXPECT_EQ(stop_capture(), "");

  start_capture();
  { qarn_bounded_string full(text.c_str()); }
  { qarn_heap_bounded_string heap_full("hello world", 5); }
  EXPECT_EQ(stop_capture(), expected_report(text) + expected_report("hello"));
}

TEST_F(bounded_string_test, destroyed_fixed_string_is_marked_dead) {
  alignas(qarn_bounded_string) unsigned char raw[sizeof(qarn_bounded_string)];
  qarn_bounded_string *s = new (raw) qarn_bounded_string();
  s->append("secret-path");
  s->~qarn_bounded_string();
  const unsigned char *end = raw + sizeof(raw);
  const unsigned char marker[] = {'(', 'd', 'e', 'a', 'd', ')', '\0'};
  const unsigned char *found = std::search(static_cast<const unsigned char *>(raw), end, marker, marker + sizeof(marker));
  ASSERT_NE(found, end) << "\"(dead)\" and its terminator replace the content";
  EXPECT_EQ(std::memcmp(found + sizeof(marker), "path", 5), 0)
      << "only the first seven bytes are overwritten";
}

TEST_F(bounded_string_test, heap_form_takes_chosen_capacity) {
  qarn_heap_bounded_string s("hello world", 5);
  EXPECT_EQ(s.capacity(), 5);
  EXPECT_STREQ(s.text(), "hello");
  EXPECT_TRUE(s.is_full());
  start_capture();
  s.clear();
  EXPECT_EQ(stop_capture(), expected_report("hello"));
  s.append("hi");
  EXPECT_STREQ(s.text(), "hi");
  EXPECT_FALSE(s.is_full());

  qarn_heap_bounded_string from_null(nullptr, 10);
  EXPECT_STREQ(from_null.text(), "");
  EXPECT_EQ(from_null.length(), 0);

  qarn_heap_bounded_string big(QARN_BOUNDED_STRING_CAPACITY);
  big.append(numbered_text(5999).c_str());
  EXPECT_EQ(big.length(), 5999);
  start_capture();
  big.clear();
  EXPECT_EQ(stop_capture(), expected_report(numbered_text(5999)));
}

TEST_F(bounded_string_test, heap_form_with_negative_capacity_stays_empty) {
  start_capture();
  {
    qarn_heap_bounded_string s("abc", -5);
    EXPECT_EQ(s.capacity(), 0);
    EXPECT_STREQ(s.text(), "");
    EXPECT_TRUE(s.is_full());
  }
  // Text was lost, so destruction says so.
  EXPECT_EQ(stop_capture(), expected_report(""));
}

TEST_F(bounded_string_test, wipe_clears_every_byte_it_is_given) {
  // The heap form wipes its storage through qarn_wipe_bytes before free().
  char block[16];
  std::memcpy(block, "key-material-123", sizeof(block));
  qarn_wipe_bytes(block, 12);
  for (int i = 0; i < 12; i++) {
    EXPECT_EQ(block[i], '\0') << "byte " << i;
  }
  EXPECT_EQ(std::memcmp(block + 12, "-123", 4), 0);
  qarn_wipe_bytes(nullptr, 12);
}

struct int_case {
  int32_t value;
  const char *text;
};

const int_case INT_CASES[] = {
    {0, "0"},
    {7, "7"},
    {-7, "-7"},
    {10, "10"},
    {-100, "-100"},
    {2147483647, "2147483647"},
    {INT32_MIN, "-2147483648"},
    {1000000000, "1000000000"},
};

class bounded_string_int_test : public testing::TestWithParam<int_case> {};

TEST_P(bounded_string_int_test, formats_decimal) {
  char out[12];
  std::memset(out, 'x', sizeof(out));
  format_int(out, GetParam().value);
  EXPECT_STREQ(out, GetParam().text);

  qarn_bounded_string s("n=");
  s.append_int(GetParam().value);
  EXPECT_EQ(std::string(s.text()), std::string("n=") + GetParam().text);
  EXPECT_EQ(s.length(), static_cast<int32_t>(2 + std::strlen(GetParam().text)));
}

INSTANTIATE_TEST_SUITE_P(table, bounded_string_int_test, testing::ValuesIn(INT_CASES));

TEST(bounded_string_int, lengths_of_extremes) {
  qarn_bounded_string minimum;
  minimum.append_int(INT32_MIN);
  EXPECT_EQ(minimum.length(), 11);
  qarn_bounded_string zero;
  zero.append_int(0);
  EXPECT_EQ(zero.length(), 1);
}

struct base64_case {
  const char *input;
  const char *encoded;
};

const base64_case BASE64_CASES[] = {
    // RFC 4648 section 10.
    {"", ""},
    {"f", "Zg=="},
    {"fo", "Zm8="},
    {"foo", "Zm9v"},
    {"foob", "Zm9vYg=="},
    {"fooba", "Zm9vYmE="},
    {"foobar", "Zm9vYmFy"},
    // Credentials as an authorisation header carries them.
    {"Aladdin:open sesame", "QWxhZGRpbjpvcGVuIHNlc2FtZQ=="},
    // Both characters past 'z' and '9'.
    {"\xfb\xff\xbf", "+/+/"},
    {"\xff\xfe", "//4="},
};

class bounded_string_base64_test : public testing::TestWithParam<base64_case> {};

TEST_P(bounded_string_base64_test, encodes_with_padding) {
  qarn_bounded_string bytes_form;
  EXPECT_EQ(bytes_form.append_base64(GetParam().input,
                                     static_cast<int32_t>(std::strlen(GetParam().input))),
            1);
  EXPECT_STREQ(bytes_form.text(), GetParam().encoded);

  qarn_bounded_string text_form;
  EXPECT_EQ(text_form.append_base64_text(GetParam().input), 1);
  EXPECT_STREQ(text_form.text(), GetParam().encoded);
}

INSTANTIATE_TEST_SUITE_P(table, bounded_string_base64_test, testing::ValuesIn(BASE64_CASES));

TEST(bounded_string_base64, encodes_zero_bytes) {
  const unsigned char zeros[4] = {0, 0, 0, 0};
  qarn_bounded_string s;
  EXPECT_EQ(s.append_base64(zeros, 4), 1);
  EXPECT_STREQ(s.text(), "AAAAAA==");
}

TEST(bounded_string_base64, refuses_null_and_empty_input) {
  qarn_bounded_string s("x");
  EXPECT_EQ(s.append_base64(nullptr, 3), 0);
  EXPECT_EQ(s.append_base64("abc", 0), 1);
  EXPECT_EQ(s.append_base64("abc", -1), 1);
  EXPECT_STREQ(s.text(), "x");
}

TEST_F(bounded_string_test, base64_reports_a_full_string_and_cuts_silently) {
  qarn_heap_bounded_string exact(4);
  EXPECT_EQ(exact.append_base64_text("foo"), 0);
  EXPECT_STREQ(exact.text(), "Zm9v");

  qarn_heap_bounded_string short_one(5);
  EXPECT_EQ(short_one.append_base64_text("foob"), 0);
  EXPECT_STREQ(short_one.text(), "Zm9vY");

  qarn_heap_bounded_string roomy(9);
  EXPECT_EQ(roomy.append_base64_text("foob"), 1);
  EXPECT_STREQ(roomy.text(), "Zm9vYg==");
  start_capture();
  exact.clear();
  short_one.clear();
  EXPECT_EQ(stop_capture(), expected_report("Zm9v") + expected_report("Zm9vY"));
}

struct word_case {
  const char *input;
  const char *appended;
};

const word_case WORD_CASES[] = {
    {"word rest", "word"},     {"word\trest", "word"}, {"word\nrest", "word"},
    {"word\r\nrest", "word\r"}, {"word", "word"},       {" leading", ""},
    {"", ""},
};

class bounded_string_word_test : public testing::TestWithParam<word_case> {};

TEST_P(bounded_string_word_test, appends_up_to_space_tab_or_line_feed) {
  qarn_bounded_string s("<");
  s.append_word(GetParam().input);
  EXPECT_EQ(std::string(s.text()), std::string("<") + GetParam().appended);
}

INSTANTIATE_TEST_SUITE_P(table, bounded_string_word_test, testing::ValuesIn(WORD_CASES));

TEST(bounded_string_edit, assign_replaces_and_append_char_adds) {
  qarn_bounded_string s("old text");
  s.assign("new").append_format("-%d-%s", 42, "x");
  s.append_char('!');
  EXPECT_STREQ(s.text(), "new-42-x!");
  EXPECT_EQ(s.length(), 9);
}

TEST_F(bounded_string_test, assign_reports_the_previous_filling) {
  qarn_heap_bounded_string s("abcdef", 3);
  start_capture();
  s.assign("xy");
  EXPECT_EQ(stop_capture(), expected_report("abc"));
  EXPECT_STREQ(s.text(), "xy");
}

TEST_F(bounded_string_test, append_format_cuts_like_append) {
  qarn_heap_bounded_string s(4);
  s.append_format("%s", "abcdefgh");
  EXPECT_STREQ(s.text(), "abcd");
  start_capture();
  s.clear();
  EXPECT_EQ(stop_capture(), expected_report("abcd"));
}

}  // namespace
