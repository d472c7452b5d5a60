#include "http/content_range.h"

#include "support/file_size_limit.h"
#include "support/text_scan.h"

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Reads a decimal number of at most the largest file size from |*text| on
// and moves |*text| past it. Returns false when there is no digit or the
// number is larger.
bool read_number(const char **text, int64_t *number) {
  const char *p = *text;
  if (!is_digit(*p)) {
    return false;
  }
  int64_t value = 0;
  for (; is_digit(*p); p++) {
    value = value * 10 + (*p - '0');
    if (value > QARN_LARGEST_FILE_SIZE) {
      return false;
    }
  }
  *number = value;
  *text = p;
  return true;
}

bool only_blanks(const char *text) {
  for (; *text != '\0'; text++) {
    if (*text != ' ' && *text != '\t') {
      return false;
    }
  }
  return true;
}

bool parse(const char *value, qarn_content_range *range) {
  if (value == nullptr || !word_prefix_match_nocase("bytes", value)) {
    return false;
  }
  const char *p = value + 5;
  if (*p != ' ') {
    return false;
  }
  while (*p == ' ') {
    p++;
  }
  if (*p == '*') {
    p++;
  } else if (!read_number(&p, &range->first) || *p++ != '-' || !read_number(&p, &range->last) ||
             range->last < range->first) {
    return false;
  }
  if (*p++ != '/') {
    return false;
  }
  if (*p == '*') {
    // An unknown length belongs to a known range only.
    p++;
    if (range->first == QARN_CONTENT_RANGE_ABSENT) {
      return false;
    }
  } else if (!read_number(&p, &range->complete_length) ||
             (range->last != QARN_CONTENT_RANGE_ABSENT && range->last >= range->complete_length)) {
    return false;
  }
  return only_blanks(p);
}

}  // namespace

int qarn_parse_content_range(const char *value, qarn_content_range *range) {
  qarn_content_range read;
  if (!parse(value, &read)) {
    *range = qarn_content_range();
    return 0;
  }
  *range = read;
  return 1;
}

int qarn_content_range_continues(const qarn_content_range &range, int64_t offset, int64_t complete_length) {
  return complete_length > 0 && range.first == offset && range.last == complete_length - 1 &&
                 range.complete_length == complete_length
             ? 1
             : 0;
}
