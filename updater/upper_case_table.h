// The simple upper-case mapping of the Basic Multilingual Plane, as sorted,
// disjoint ranges: the characters first, first + step, ... up to last each
// become themselves + delta.
#ifndef TORVANE_UPDATER_UPPER_CASE_TABLE_H
#define TORVANE_UPDATER_UPPER_CASE_TABLE_H

#include <cstddef>
#include <cstdint>

struct ovu_case_range {
  uint32_t first;
  uint32_t last;
  uint32_t step;  // 1: every character; 2: every other one
  int32_t delta;
};

extern const ovu_case_range OVU_UPPER_CASE_RANGES[];
extern const size_t OVU_UPPER_CASE_RANGE_COUNT;

#endif
