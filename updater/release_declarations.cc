#include "updater/release_declarations.h"

#include <cstring>

namespace {

constexpr uint64_t DECIMAL_BASE = 10;
// Digits of the largest values accepted: 19 keeps every number below 2^63.
constexpr int MAX_DIGITS = 19;

bool starts_with(const char *text, const char *prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// Reads a plain decimal number that makes up the whole rest of the line.
bool parse_decimal(const char *text, uint64_t *value) {
  uint64_t result = 0;
  int digits = 0;
  for (; *text >= '0' && *text <= '9'; text++, digits++) {
    if (digits == MAX_DIGITS) {
      return false;
    }
    result = result * DECIMAL_BASE + static_cast<uint64_t>(*text - '0');
  }
  if (digits == 0 || *text != '\0') {
    return false;
  }
  *value = result;
  return true;
}

}  // namespace

ovu_declaration_result parse_release_declaration(const char *line, ovu_release_declarations *declarations) {
  if (!starts_with(line, OVU_DECLARATION_PREFIX)) {
    return OVU_NOT_A_DECLARATION;
  }
  if (starts_with(line, OVU_HASH_KEY)) {
    if (declarations->sha256_tokens || std::strcmp(line, OVU_HASH_DECLARATION) != 0) {
      return OVU_DECLARATION_BAD;
    }
    declarations->sha256_tokens = 1;
    return OVU_DECLARATION_TAKEN;
  }
  uint64_t value = 0;
  if (starts_with(line, OVU_SERIAL_DECLARATION)) {
    if (declarations->has_serial || !parse_decimal(line + std::strlen(OVU_SERIAL_DECLARATION), &value)) {
      return OVU_DECLARATION_BAD;
    }
    declarations->has_serial = 1;
    declarations->serial = value;
    return OVU_DECLARATION_TAKEN;
  }
  if (starts_with(line, OVU_EXPIRES_DECLARATION)) {
    if (declarations->has_expiry || !parse_decimal(line + std::strlen(OVU_EXPIRES_DECLARATION), &value)) {
      return OVU_DECLARATION_BAD;
    }
    declarations->has_expiry = 1;
    declarations->expires = static_cast<int64_t>(value);
    return OVU_DECLARATION_TAKEN;
  }
  return OVU_NOT_A_DECLARATION;
}
