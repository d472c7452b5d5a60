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

// Upper case of a character beyond ASCII, through the table.
uint32_t upper_case(uint32_t code) {
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

// ASCII as Windows compares it, one entry per byte below 0x80: most names
// are ASCII, and this keeps them off the decoding and the table.
struct ascii_table {
  unsigned char compared[ASCII_END];
  constexpr ascii_table() : compared() {
    for (uint32_t c = 0; c < ASCII_END; c++) {
      compared[c] = static_cast<unsigned char>(c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c == '\\' ? '/' : c);
    }
  }
};
constexpr ascii_table ASCII_COMPARED;

// What ovu_next_name_char reads at |bytes|, and how many bytes it takes in
// |*length| (1 at the terminating NUL, which reads as 0).
inline uint32_t read_name_char(const unsigned char *bytes, size_t *length) {
  if (bytes[0] < ASCII_END) {
    *length = 1;
    return ASCII_COMPARED.compared[bytes[0]];
  }
  uint32_t code = decode_utf8(bytes, length);
  if (*length == 0) {
    *length = 1;
    return OVU_NOT_A_CHARACTER + bytes[0];
  }
  return upper_case(code);
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
  size_t length = 0;
  uint32_t code = read_name_char(reinterpret_cast<const unsigned char *>(*cursor), &length);
  if (code != 0) {
    *cursor += length;
  }
  return code;
}

int ovu_compare_names_ignoring_case(const char *a, const char *b) {
  const unsigned char *from_a = reinterpret_cast<const unsigned char *>(a);
  const unsigned char *from_b = reinterpret_cast<const unsigned char *>(b);
  for (;;) {
    size_t length_a = 0;
    size_t length_b = 0;
    uint32_t code_a = read_name_char(from_a, &length_a);
    uint32_t code_b = read_name_char(from_b, &length_b);
    if (code_a != code_b) {
      return code_a < code_b ? -1 : 1;
    }
    if (code_a == 0) {
      return 0;
    }
    from_a += length_a;
    from_b += length_b;
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
  const unsigned char *bytes = reinterpret_cast<const unsigned char *>(name);
  uint32_t hash = FNV_OFFSET;
  for (;;) {
    size_t length = 0;
    uint32_t code = read_name_char(bytes, &length);
    if (code == 0) {
      return hash;
    }
    hash = (hash ^ code) * FNV_PRIME;
    bytes += length;
  }
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
