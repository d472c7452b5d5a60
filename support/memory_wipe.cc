#include "support/memory_wipe.h"

#include <cstring>

void qarn_wipe_bytes(void *bytes, size_t length) {
  if (bytes == nullptr) {
    return;
  }
  std::memset(bytes, 0, length);
  // The compiler must assume the empty statement reads the memory, so the
  // stores survive dead-store elimination before a free().
  __asm__ __volatile__("" : : "r"(bytes) : "memory");
}
