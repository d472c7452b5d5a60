#include "support/memory_arena.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "support/memory_wipe.h"

// A block's bookkeeping, followed by its |room| usable bytes. The heap's
// alignment of the block does not matter: every request is aligned by its
// address.
struct qarn_memory_arena::block {
  block *next;  // in others_
  size_t room;
  size_t used;

  unsigned char *bytes() { return reinterpret_cast<unsigned char *>(this + 1); }

  // The next |length| bytes at |alignment|, or null when they do not fit.
  void *carve(size_t length, size_t alignment) {
    uintptr_t free_start = reinterpret_cast<uintptr_t>(bytes() + used);
    size_t padding = static_cast<size_t>((alignment - free_start % alignment) % alignment);
    size_t free_len = room - used;
    if (padding > free_len || length > free_len - padding) {
      return nullptr;
    }
    used += padding + length;
    return reinterpret_cast<void *>(free_start + padding);
  }
};

qarn_memory_arena::~qarn_memory_arena() { release(); }

qarn_memory_arena::block *qarn_memory_arena::add_block(size_t length, size_t alignment) {
  size_t room = QARN_ARENA_BLOCK_LEN;
  if (length > QARN_ARENA_LARGE_REQUEST_LEN) {
    // Room for the worst padding too; no object may be larger than
    // PTRDIFF_MAX bytes, so a block of more is never asked for.
    if (length > static_cast<size_t>(PTRDIFF_MAX) - sizeof(block) - alignment) {
      return nullptr;
    }
    room = length + alignment - 1;
  }
  block *added = static_cast<block *>(std::malloc(sizeof(block) + room));
  if (added == nullptr) {
    return nullptr;
  }
  added->next = nullptr;
  added->room = room;
  added->used = 0;
  block_count_++;
  held_len_ += sizeof(block) + room;
  return added;
}

void *qarn_memory_arena::allocate(size_t length, size_t alignment) {
  if (alignment == 0 || (alignment & (alignment - 1)) != 0 || alignment > QARN_ARENA_MAX_ALIGNMENT) {
    return nullptr;
  }
  if (current_ != nullptr) {
    void *carved = current_->carve(length, alignment);
    if (carved != nullptr) {
      return carved;
    }
  }
  block *added = add_block(length, alignment);
  if (added == nullptr) {
    return nullptr;
  }
  if (length > QARN_ARENA_LARGE_REQUEST_LEN) {
    // The current block keeps serving the small requests.
    added->next = others_;
    others_ = added;
  } else {
    if (current_ != nullptr) {
      current_->next = others_;
      others_ = current_;
    }
    current_ = added;
  }
  return added->carve(length, alignment);
}

char *qarn_memory_arena::copy_text(const char *text, size_t length) {
  if (length == SIZE_MAX) {
    return nullptr;
  }
  char *copy = static_cast<char *>(allocate(length + 1, 1));
  if (copy == nullptr) {
    return nullptr;
  }
  std::memcpy(copy, text, length);
  copy[length] = '\0';
  return copy;
}

void qarn_memory_arena::release() {
  block *chains[] = {current_, others_};
  for (block *chain : chains) {
    while (chain != nullptr) {
      block *next = chain->next;
      qarn_wipe_bytes(chain->bytes(), chain->used);
      std::free(chain);
      chain = next;
    }
  }
  current_ = nullptr;
  others_ = nullptr;
  block_count_ = 0;
  held_len_ = 0;
}
