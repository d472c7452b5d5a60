// The largest file the system publishes, lists in a manifest, downloads or
// installs: one bound for every size that a manifest or a server's
// "Content-Length:" can bring.
#ifndef TORVANE_SUPPORT_FILE_SIZE_LIMIT_H
#define TORVANE_SUPPORT_FILE_SIZE_LIMIT_H

#include <cstdint>

// 1 TiB (2^40 bytes, 13 decimal digits). Hundreds of times the largest game
// data file, yet small enough that nothing computed from sizes needs care:
// received × 100 and the sum of 2^23 such sizes stay far inside 64 bits,
// and the statistics, which total bytes in doubles, hold every size and
// the sum of 2^13 of them exactly (integers up to 2^53).
constexpr int64_t QARN_LARGEST_FILE_SIZE = int64_t{1} << 40;

static_assert(QARN_LARGEST_FILE_SIZE <= INT64_MAX / 100, "a percentage of a size fits 64 bits");
static_assert(QARN_LARGEST_FILE_SIZE <= (int64_t{1} << 53) / (int64_t{1} << 13),
              "the byte totals of 8192 files of the largest size are exact in a double");

#endif
