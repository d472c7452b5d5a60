// qarn_growable_array: a small array of fixed-size elements that starts in
// 104 bytes inside its owner and doubles onto the heap when it fills.
#ifndef TORVANE_SUPPORT_GROWABLE_ARRAY_H
#define TORVANE_SUPPORT_GROWABLE_ARRAY_H

#include <cstdint>

constexpr int32_t QARN_GROWABLE_ARRAY_INLINE_BYTES = 104;

struct qarn_growable_array {
  void *storage;
  unsigned char in_object[QARN_GROWABLE_ARRAY_INLINE_BYTES];
  int32_t capacity;
  int32_t count;
  int32_t element_size;

  // init starts the array empty on the in-object area.
  void init(int32_t element_size);
  // grow doubles the capacity (0 becomes 1), moving the elements to the heap.
  void grow();
  // append copies one element of element_size bytes to the end.
  void append(const void *element);
  // at returns the address of element |index|; valid until the next grow.
  void *at(int32_t index) const;
  // release frees heap storage; the array must be init'ed again before use.
  void release();
};

#endif
