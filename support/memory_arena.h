// qarn_memory_arena: records and texts that are made one after another and
// all freed together, such as the entries of a manifest of 100000 files.
// They are carved from blocks of QARN_ARENA_BLOCK_LEN bytes, so that the
// heap sees one request per few hundred of them instead of three per entry.
// Nothing is freed on its own: what the arena hands out stays valid until
// release or the arena's destruction, which wipe and free every block.
#ifndef TORVANE_SUPPORT_MEMORY_ARENA_H
#define TORVANE_SUPPORT_MEMORY_ARENA_H

#include <cstddef>
#include <cstdint>
#include <new>

// Usable bytes of an ordinary block.
constexpr size_t QARN_ARENA_BLOCK_LEN = 64 * 1024;
// A request of more than this that does not fit the current block gets a
// block of its own: the current block, with its room left, goes on serving
// the small requests.
constexpr size_t QARN_ARENA_LARGE_REQUEST_LEN = QARN_ARENA_BLOCK_LEN / 4;
// The largest alignment that allocate grants.
constexpr size_t QARN_ARENA_MAX_ALIGNMENT = 64;

class qarn_memory_arena {
 public:
  qarn_memory_arena() = default;
  // Wipes and frees every block (release).
  ~qarn_memory_arena();
  qarn_memory_arena(const qarn_memory_arena &) = delete;
  qarn_memory_arena &operator=(const qarn_memory_arena &) = delete;

  // allocate returns |length| bytes (any number, 0 too) at an address that
  // is a multiple of |alignment|, which must be a power of two up to
  // QARN_ARENA_MAX_ALIGNMENT. The bytes are not cleared; they belong to the
  // arena and stay valid until release. Returns null when the alignment is
  // not one of those, or memory is exhausted (the arena is then unchanged).
  void *allocate(size_t length, size_t alignment);

  // make returns a zero-filled T (a plain record) carved from the arena, or
  // null when memory is exhausted.
  template <typename T>
  T *make();

  // copy_text returns a NUL-terminated copy of the |length| bytes at |text|
  // in the arena, or null when memory is exhausted.
  char *copy_text(const char *text, size_t length);

  // release wipes and frees every block. Everything the arena handed out
  // is gone; the arena can be used again.
  void release();

  // block_count returns the number of blocks held; held_len the bytes that
  // they hold, their bookkeeping included.
  size_t block_count() const { return block_count_; }
  size_t held_len() const { return held_len_; }

 private:
  struct block;
  // Adds a block with room for at least |length| bytes at |alignment|.
  // Returns it, or null when memory is exhausted.
  block *add_block(size_t length, size_t alignment);

  block *current_ = nullptr;  // the block that small requests are carved from
  block *others_ = nullptr;   // the filled blocks and the large requests' blocks
  size_t block_count_ = 0;
  size_t held_len_ = 0;
};

template <typename T>
T *qarn_memory_arena::make() {
  void *bytes = allocate(sizeof(T), alignof(T));
  if (bytes == nullptr) {
    return nullptr;
  }
  return new (bytes) T();
}

#endif
