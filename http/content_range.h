// The "Content-Range:" of a partial answer: which bytes of the resource the
// body holds, and the resource's whole length. A client that asked for the
// rest of a file from some offset on continues only when the range is
// exactly the one it asked for.
#ifndef TORVANE_HTTP_CONTENT_RANGE_H
#define TORVANE_HTTP_CONTENT_RANGE_H

#include <cstdint>

// A field of qarn_content_range that the answer did not give.
constexpr int64_t QARN_CONTENT_RANGE_ABSENT = -1;

struct qarn_content_range {
  int64_t first = QARN_CONTENT_RANGE_ABSENT;            // first byte of the body in the resource
  int64_t last = QARN_CONTENT_RANGE_ABSENT;             // last byte, inclusive
  int64_t complete_length = QARN_CONTENT_RANGE_ABSENT;  // the whole resource; absent for "*"
};

// qarn_parse_content_range reads |value|, the text after the header name:
// "bytes FIRST-LAST/LENGTH", "bytes FIRST-LAST/*" or "bytes */LENGTH",
// decimal numbers of at most the largest file size, the unit in any letter
// case, trailing blanks allowed. Returns 1 with |range| filled, or 0 with
// |range| all absent when the value is anything else (null included) or
// its last byte comes before its first or not before the whole length.
int qarn_parse_content_range(const char *value, qarn_content_range *range);

// qarn_content_range_continues returns 1 when |range| is exactly the rest
// of a resource of |complete_length| bytes from |offset| on: bytes
// |offset| to |complete_length| - 1 of |complete_length|. Else 0.
int qarn_content_range_continues(const qarn_content_range &range, int64_t offset, int64_t complete_length);

#endif
