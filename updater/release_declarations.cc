#include "updater/release_declarations.h"

#include <cstring>

namespace {

constexpr uint64_t DECIMAL_BASE = 10;
// Digits of the largest values accepted: 18 keep every number below 2^63,
// so that a time fits a signed 64-bit count.
constexpr int MAX_DIGITS = 18;

bool starts_with(const char *text, const char *prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// Whether |line| names the declaration |key| ("#torvane-serial " and the
// like): the key's word, then a blank or the end of the line. A known word
// with a missing or malformed value is a bad declaration, not a comment.
bool names(const char *line, const char *key) {
  size_t word = std::strlen(key) - 1;  // without its blank
  return std::strncmp(line, key, word) == 0 && (line[word] == ' ' || line[word] == '\0');
}

// The value after the key's word and its blank; empty when there is none.
const char *value_of(const char *line, const char *key) {
  size_t word = std::strlen(key) - 1;
  return line[word] == ' ' ? line + word + 1 : line + word;
}

}  // namespace

int parse_release_number(const char *text, uint64_t *value) {
  uint64_t result = 0;
  int digits = 0;
  for (; *text >= '0' && *text <= '9'; text++, digits++) {
    if (digits == MAX_DIGITS) {
      return 0;
    }
    result = result * DECIMAL_BASE + static_cast<uint64_t>(*text - '0');
  }
  if (digits == 0 || *text != '\0') {
    return 0;
  }
  *value = result;
  return 1;
}

ovu_declaration_result parse_release_declaration(const char *line, ovu_release_declarations *declarations) {
  if (!starts_with(line, OVU_DECLARATION_PREFIX)) {
    return OVU_NOT_A_DECLARATION;
  }
  if (names(line, OVU_HASH_KEY)) {
    if (declarations->sha256_tokens || std::strcmp(line, OVU_HASH_DECLARATION) != 0) {
      return OVU_DECLARATION_BAD;
    }
    declarations->sha256_tokens = 1;
    return OVU_DECLARATION_TAKEN;
  }
  uint64_t value = 0;
  if (names(line, OVU_SERIAL_DECLARATION)) {
    if (declarations->has_serial || !parse_release_number(value_of(line, OVU_SERIAL_DECLARATION), &value)) {
      return OVU_DECLARATION_BAD;
    }
    declarations->has_serial = 1;
    declarations->serial = value;
    return OVU_DECLARATION_TAKEN;
  }
  if (names(line, OVU_EXPIRES_DECLARATION)) {
    if (declarations->has_expiry || !parse_release_number(value_of(line, OVU_EXPIRES_DECLARATION), &value)) {
      return OVU_DECLARATION_BAD;
    }
    declarations->has_expiry = 1;
    declarations->expires = static_cast<int64_t>(value);
    return OVU_DECLARATION_TAKEN;
  }
  return OVU_NOT_A_DECLARATION;
}
