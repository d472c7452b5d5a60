// Names of one list that are one file on Windows: equal when case is
// ignored and "\" read as "/" (file_name_case.h), different byte for byte.
// Installing both would leave one file on the disk and two records that
// vouch for it, one of them for bytes that are no longer there.
#ifndef TORVANE_UPDATER_CASE_COLLISIONS_H
#define TORVANE_UPDATER_CASE_COLLISIONS_H

#include <cstdint>

#include "support/growable_array.h"

// A name that is the same file on Windows as an earlier name of the list.
struct ovu_case_collision {
  int32_t index;    // the name's position in the list
  int32_t earlier;  // position of the list's first name that equals it
};

// ovu_find_case_collisions appends to |collisions| (an array of
// ovu_case_collision, init'ed by the caller) every name of |names|
// (|count| of them) that equals an earlier one when case is ignored but
// differs from the first such name in its bytes, in the order of the list.
// A name given again byte for byte is not a collision. The work grows as
// count times its logarithm, however the names are chosen. Returns 1, or
// 0 when memory ran out (|collisions| then holds those found so far).
int ovu_find_case_collisions(const char *const *names, int32_t count, qarn_growable_array &collisions);

#endif
