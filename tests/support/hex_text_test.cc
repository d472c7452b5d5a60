#include "support/hex_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(hex_text_test, digit_values_in_either_case) {
  const std::string digits = "0123456789abcdefABCDEF";
  const int values[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 10, 11, 12, 13, 14, 15};
  for (size_t i = 0; i < digits.size(); i++) {
    EXPECT_EQ(qarn_hex_digit_value(digits[i]), values[i]) << digits[i];
  }
  for (char c : std::string("gG/:@`x \0", 9)) {
    EXPECT_EQ(qarn_hex_digit_value(c), -1) << static_cast<int>(c);
  }
}

TEST(hex_text_test, encodes_lower_case_and_decodes_back) {
  const unsigned char bytes[] = {0x00, 0x01, 0x7f, 0x80, 0xab, 0xff};
  char hex[2 * sizeof(bytes) + 1];
  qarn_hex_encode(bytes, sizeof(bytes), hex);
  EXPECT_STREQ(hex, "00017f80abff");
  unsigned char back[sizeof(bytes)] = {};
  ASSERT_EQ(qarn_hex_decode("00017F80ABff", sizeof(back), back), 1);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(back), sizeof(back)),
            std::string(reinterpret_cast<const char *>(bytes), sizeof(bytes)));
}

TEST(hex_text_test, refuses_text_that_is_not_hex) {
  unsigned char out[3];
  EXPECT_EQ(qarn_hex_decode("0g0000", 3, out), 0);
  EXPECT_EQ(qarn_hex_decode("0000 0", 3, out), 0);
  EXPECT_EQ(qarn_hex_decode("00", 2, out), 0);  // the terminator is not a digit
  EXPECT_EQ(qarn_hex_decode("", 0, out), 1);
}

}  // namespace
