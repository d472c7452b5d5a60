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

  qarn_growable_array() = default;
  // A copy would point into the original's in-object area.
  qarn_growable_array(const qarn_growable_array &) = delete;
  qarn_growable_array &operator=(const qarn_growable_array &) = delete;

  // init starts the array empty on the in-object area.
  void init(int32_t element_size);
  // grow doubles the capacity (0 becomes 1), moving the elements to the heap.
  // Returns 1, or 0 when the larger block cannot be had; the array is then
  // unchanged.
  int grow();
  // append copies one element of element_size bytes to the end. Returns 1,
  // or 0 when the array is full and cannot grow; the element is then not
  // stored.
  int append(const void *element);
  // at returns the address of element |index|, or null when |index| is not
  // below count; valid until the next grow.
  void *at(int32_t index) const;
  // release frees heap storage; the array must be init'ed again before use.
  void release();
};

#endif
