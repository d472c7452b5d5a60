// Bytes written as hexadecimal in tests: fixed keys, digests and
// signatures, and readable failure messages.
#ifndef TORVANE_TESTS_COMMON_HEX_BYTES_H
#define TORVANE_TESTS_COMMON_HEX_BYTES_H

#include <cstdio>
#include <string>
#include <vector>

using bytes = std::vector<unsigned char>;

// from_hex reads pairs of hex digits; a test's own constants are trusted.
inline bytes from_hex(const std::string &hex) {
  bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    unsigned int value = 0;
    std::sscanf(hex.c_str() + i, "%2x", &value);
    out.push_back(static_cast<unsigned char>(value));
  }
  return out;
}

// to_hex writes lower-case hex digits.
inline std::string to_hex(const unsigned char *data, size_t length) {
  std::string hex;
  char pair[3];
  for (size_t i = 0; i < length; i++) {
    std::snprintf(pair, sizeof(pair), "%02x", data[i]);
    hex += pair;
  }
  return hex;
}

inline std::string to_hex(const bytes &data) { return to_hex(data.data(), data.size()); }

#endif
