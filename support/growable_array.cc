#include "support/growable_array.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// The larger block may not reach this size: byte offsets into it are
// computed in 32 bits.
constexpr size_t MAX_BLOCK_BYTES = INT32_MAX;

size_t block_bytes(int32_t element_count, int32_t element_size) {
  return static_cast<size_t>(element_count) * static_cast<size_t>(element_size);
}

}  // namespace

void qarn_growable_array::init(int32_t size) {
  storage = in_object;
  count = 0;
  element_size = size > 0 ? size : 0;
  capacity = element_size > 0 ? QARN_GROWABLE_ARRAY_INLINE_BYTES / element_size : 0;
}

int qarn_growable_array::grow() {
  if (element_size <= 0 || capacity > INT32_MAX / 2) {
    return 0;
  }
  int32_t new_capacity = capacity == 0 ? 1 : capacity * 2;
  if (static_cast<uint64_t>(new_capacity) * static_cast<uint64_t>(element_size) > MAX_BLOCK_BYTES) {
    return 0;
  }
  void *block = std::malloc(block_bytes(new_capacity, element_size));
  if (block == nullptr) {
    return 0;
  }
  if (count > 0) {
    std::memcpy(block, storage, block_bytes(count, element_size));
  }
  if (storage != in_object) {
    std::free(storage);
  }
  storage = block;
  capacity = new_capacity;
  return 1;
}

int qarn_growable_array::append(const void *element) {
  if (storage == nullptr || element == nullptr) {
    return 0;
  }
  if (count >= capacity && !grow()) {
    return 0;
  }
  std::memcpy(static_cast<unsigned char *>(storage) + block_bytes(count, element_size), element,
              static_cast<size_t>(element_size));
  count++;
  return 1;
}

void *qarn_growable_array::at(int32_t index) const {
  if (storage == nullptr || index < 0 || index >= count) {
    return nullptr;
  }
  return static_cast<unsigned char *>(storage) + block_bytes(index, element_size);
}

void qarn_growable_array::release() {
  if (storage != in_object) {
    std::free(storage);
  }
  storage = nullptr;
}
