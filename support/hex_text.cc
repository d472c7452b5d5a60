#include "support/hex_text.h"

namespace {

constexpr char LOWER_DIGITS[] = "0123456789abcdef";
constexpr int DIGIT_BITS = 4;
constexpr unsigned char LOW_DIGIT_MASK = 0x0f;

}  // namespace

int qarn_hex_digit_value(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

void qarn_hex_encode(const unsigned char *bytes, int32_t count, char *out) {
  for (int32_t i = 0; i < count; i++) {
    out[2 * i] = LOWER_DIGITS[bytes[i] >> DIGIT_BITS];
    out[2 * i + 1] = LOWER_DIGITS[bytes[i] & LOW_DIGIT_MASK];
  }
  out[2 * count] = '\0';
}

int qarn_hex_decode(const char *hex, int32_t count, unsigned char *out) {
  for (int32_t i = 0; i < count; i++) {
    int high = qarn_hex_digit_value(hex[2 * i]);
    if (high < 0) {
      return 0;
    }
    int low = qarn_hex_digit_value(hex[2 * i + 1]);
    if (low < 0) {
      return 0;
    }
    out[i] = static_cast<unsigned char>((high << DIGIT_BITS) | low);
  }
  return 1;
}
