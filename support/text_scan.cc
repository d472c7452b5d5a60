#include "support/text_scan.h"

#include <cstdlib>
#include <cstring>

#include "support/bounded_string.h"
#include "support/diagnostics.h"
#include "support/memory_wipe.h"

namespace {

constexpr int32_t INT_MAX_VALUE = 2147483647;
constexpr int64_t INT_MIN_MAGNITUDE = 2147483648LL;
constexpr int DECIMAL_BASE = 10;

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n'; }

bool is_word_end(char c) { return c == '\0' || is_blank(c); }

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Only A-Z fold: the protocol words we compare are ASCII, and bytes above
// 127 must compare as they are whatever the C runtime's locale says.
char fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Folded, with every word end mapped to NUL, so that two words compare
// equal up to their ends whatever separator follows them.
char fold_word_char(char c) { return is_word_end(c) ? '\0' : fold(c); }

const char *skip_blanks(const char *text) {
  while (is_blank(*text)) {
    text++;
  }
  return text;
}

const char *skip_word(const char *text) {
  while (!is_word_end(*text)) {
    text++;
  }
  return text;
}

void report_misuse(const char *text) {
  qarn_diagnostic(text, QARN_DIAG_MISUSE, QARN_MODULE_SUPPORT);
}

void report_copy_overflow(const char *source, int32_t destination_size) {
  qarn_bounded_string message;
  message.append("Error in safe_strcpy(), overflow of dest, size ");
  message.append_int(destination_size);
  message.append(". String was: ->").append(source).append("<-");
  report_misuse(message.text());
}

}  // namespace

int safe_strcpy(char *destination, const char *source, int32_t destination_size) {
  if (destination == nullptr) {
    report_misuse("Error in safe_strcpy(), NULL dest.");
    return 0;
  }
  if (destination_size <= 0) {
    report_misuse("Error in safe_strcpy(), dest too short.");
    return 0;
  }
  if (source == nullptr) {
    destination[0] = '\0';
    report_misuse("Error in safe_strcpy(), NULL src.");
    return 0;
  }
  for (int32_t i = 0; i < destination_size; i++) {
    destination[i] = source[i];
    if (source[i] == '\0') {
      return 1;
    }
  }
  destination[destination_size - 1] = '\0';
  report_copy_overflow(source, destination_size);
  return 0;
}

const char *next_arg(const char *text) {
  if (text == nullptr) {
    report_misuse("Error in next_arg(), NULL pointer passed in.");
    return nullptr;
  }
  text = skip_blanks(text);
  if (*text == '\0') {
    return nullptr;
  }
  text = skip_blanks(skip_word(text));
  return *text == '\0' ? nullptr : text;
}

const char *last_arg(const char *text) {
  if (text == nullptr) {
    report_misuse("Error in last_arg(), NULL pointer passed in.");
    return nullptr;
  }
  const char *last = text;
  for (const char *next = next_arg(last); next != nullptr; next = next_arg(last)) {
    last = next;
  }
  return last;
}

int word_prefix_match_nocase(const char *word, const char *text) {
  if (word == nullptr || text == nullptr || word[0] == '\0' || text[0] == '\0') {
    return 0;
  }
  if (fold(word[0]) != fold(text[0])) {
    return 0;
  }
  for (int i = 1; i < QARN_WORD_COMPARE_LIMIT; i++) {
    if (is_word_end(word[i])) {
      return i;
    }
    if (fold(word[i]) != fold(text[i])) {
      return 0;
    }
  }
  return 0;
}

int word_equal_nocase(const char *a, const char *b) {
  if (a == nullptr || b == nullptr) {
    return 0;
  }
  for (int i = 0; i < QARN_WORD_COMPARE_LIMIT; i++) {
    char ca = fold_word_char(a[i]);
    if (ca != fold_word_char(b[i])) {
      return 0;
    }
    if (ca == '\0') {
      return 1;
    }
  }
  return 0;
}

int word_in_list_nocase(const char *word, const char *list) {
  if (word == nullptr || list == nullptr) {
    return 0;
  }
  for (const char *position = list; position != nullptr; position = next_arg(position)) {
    if (word_equal_nocase(word, position)) {
      return 1;
    }
  }
  return 0;
}

int parse_int(const char *text, int32_t *result) {
  if (text == nullptr) {
    return 0;
  }
  bool negative = text[0] == '-';
  const char *digits = (text[0] == '-' || text[0] == '+') ? text + 1 : text;
  if (!is_digit(*digits)) {
    return 0;
  }
  // The magnitude stops growing once it passes the most negative value,
  // which saturates either sign without overflowing.
  int64_t magnitude = 0;
  for (; is_digit(*digits); digits++) {
    if (magnitude <= INT_MIN_MAGNITUDE) {
      magnitude = magnitude * DECIMAL_BASE + (*digits - '0');
    }
  }
  int64_t value = negative ? -magnitude : magnitude;
  if (value > INT_MAX_VALUE) {
    value = INT_MAX_VALUE;
  } else if (value < -INT_MIN_MAGNITUDE) {
    value = -INT_MIN_MAGNITUDE;
  }
  if (result != nullptr) {
    *result = static_cast<int32_t>(value);
  }
  return 1;
}

char *qarn_strdup(const char *text) {
  if (text == nullptr) {
    return nullptr;
  }
  size_t size = std::strlen(text) + 1;
  char *copy = static_cast<char *>(std::malloc(size));
  if (copy == nullptr) {
    return nullptr;
  }
  std::memcpy(copy, text, size);
  return copy;
}

void qarn_free_text(char **text) {
  if (text == nullptr || *text == nullptr) {
    return;
  }
  qarn_wipe_bytes(*text, std::strlen(*text));
  std::free(*text);
  *text = nullptr;
}
