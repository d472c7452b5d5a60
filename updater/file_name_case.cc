#include "updater/file_name_case.h"

#include "updater/upper_case_table.h"

namespace {

constexpr uint32_t ASCII_END = 0x80;
constexpr uint32_t SURROGATE_FIRST = 0xD800;
constexpr uint32_t SURROGATE_LAST = 0xDFFF;
constexpr uint32_t LAST_CHARACTER = 0x10FFFF;
constexpr uint32_t FNV_OFFSET = 2166136261u;
constexpr uint32_t FNV_PRIME = 16777619u;

bool is_continuation(unsigned char byte) { return (byte & 0xC0u) == 0x80u; }

// The character that starts at |bytes|, and its length in |*length|; 0
// length when the bytes there are not a whole, shortest, valid character.
uint32_t decode_utf8(const unsigned char *bytes, size_t *length) {
  *length = 0;
  unsigned char lead = bytes[0];
  uint32_t code;
  size_t count;
  uint32_t smallest;
  if (lead < 0x80u) {
    *length = 1;
    return lead;
  } else if ((lead & 0xE0u) == 0xC0u) {
    code = lead & 0x1Fu, count = 2, smallest = 0x80;
  } else if ((lead & 0xF0u) == 0xE0u) {
    code = lead & 0x0Fu, count = 3, smallest = 0x800;
  } else if ((lead & 0xF8u) == 0xF0u) {
    code = lead & 0x07u, count = 4, smallest = 0x10000;
  } else {
    return 0;
  }
  for (size_t i = 1; i < count; i++) {
    if (!is_continuation(bytes[i])) {
      return 0;
    }
    code = (code << 6) | (bytes[i] & 0x3Fu);
  }
  if (code < smallest || code > LAST_CHARACTER || (code >= SURROGATE_FIRST && code <= SURROGATE_LAST)) {
    return 0;
  }
  *length = count;
  return code;
}

uint32_t upper_case(uint32_t code) {
  if (code < ASCII_END) {
    return (code >= 'a' && code <= 'z') ? code - ('a' - 'A') : code;
  }
  // The last range that starts at or before |code|.
  size_t low = 0;
  size_t high = OVU_UPPER_CASE_RANGE_COUNT;
  while (low < high) {
    size_t middle = low + (high - low) / 2;
    if (OVU_UPPER_CASE_RANGES[middle].first <= code) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  if (low == 0) {
    return code;
  }
  const ovu_case_range &range = OVU_UPPER_CASE_RANGES[low - 1];
  if (code > range.last || (code - range.first) % range.step != 0) {
    return code;
  }
  return static_cast<uint32_t>(static_cast<int32_t>(code) + range.delta);
}

// Appends |code| as UTF-8, or the byte it stands for when it is beyond
// every character.
void append_utf8(qarn_bounded_string_base &out, uint32_t code) {
  if (code >= OVU_NOT_A_CHARACTER) {
    out.append_char(static_cast<char>(code - OVU_NOT_A_CHARACTER));
  } else if (code < 0x80) {
    out.append_char(static_cast<char>(code));
  } else if (code < 0x800) {
    out.append_char(static_cast<char>(0xC0 | (code >> 6)));
    out.append_char(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out.append_char(static_cast<char>(0xE0 | (code >> 12)));
    out.append_char(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.append_char(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.append_char(static_cast<char>(0xF0 | (code >> 18)));
    out.append_char(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out.append_char(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.append_char(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

}  // namespace

uint32_t ovu_next_name_char(const char **cursor) {
  const unsigned char *bytes = reinterpret_cast<const unsigned char *>(*cursor);
  if (bytes[0] == 0) {
    return 0;
  }
  size_t length = 0;
  uint32_t code = decode_utf8(bytes, &length);
  if (length == 0) {
    *cursor += 1;
    return OVU_NOT_A_CHARACTER + bytes[0];
  }
  *cursor += length;
  return code == '\\' ? '/' : upper_case(code);
}

int ovu_compare_names_ignoring_case(const char *a, const char *b) {
  for (;;) {
    uint32_t from_a = ovu_next_name_char(&a);
    uint32_t from_b = ovu_next_name_char(&b);
    if (from_a != from_b) {
      return from_a < from_b ? -1 : 1;
    }
    if (from_a == 0) {
      return 0;
    }
  }
}

bool ovu_equal_ignoring_case(const char *text, size_t length, const char *word) {
  const char *end = text + length;
  while (text < end) {
    // A character cut by the end of the span reads as its bytes.
    uint32_t from_text = ovu_next_name_char(&text);
    if (text > end || from_text != ovu_next_name_char(&word)) {
      return false;
    }
  }
  return *word == '\0';
}

void ovu_append_comparison_key(qarn_bounded_string_base &out, const char *name) {
  for (uint32_t code = ovu_next_name_char(&name); code != 0; code = ovu_next_name_char(&name)) {
    append_utf8(out, code);
  }
}

uint32_t ovu_name_case_hash(const char *name) {
  uint32_t hash = FNV_OFFSET;
  for (uint32_t code = ovu_next_name_char(&name); code != 0; code = ovu_next_name_char(&name)) {
    for (int shift = 0; shift < 32; shift += 8) {
      hash = (hash ^ ((code >> shift) & 0xFFu)) * FNV_PRIME;
    }
  }
  return hash;
}

bool ovu_is_utf8(const char *text) {
  const unsigned char *bytes = reinterpret_cast<const unsigned char *>(text);
  while (*bytes != 0) {
    size_t length = 0;
    decode_utf8(bytes, &length);
    if (length == 0) {
      return false;
    }
    bytes += length;
  }
  return true;
}
