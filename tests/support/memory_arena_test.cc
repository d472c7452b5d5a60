#include "support/memory_arena.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool is_aligned(const void *address, size_t alignment) {
  return reinterpret_cast<uintptr_t>(address) % alignment == 0;
}

TEST(memory_arena_test, every_alignment_is_met_after_requests_of_odd_lengths) {
  const size_t alignments[] = {1, 2, 4, 8, 16, 32, 64};
  qarn_memory_arena arena;
  for (size_t alignment : alignments) {
    for (size_t odd : {size_t{1}, size_t{3}, size_t{7}, size_t{13}}) {
      ASSERT_NE(arena.allocate(odd, 1), nullptr);
      void *aligned = arena.allocate(24, alignment);
      ASSERT_NE(aligned, nullptr);
      EXPECT_TRUE(is_aligned(aligned, alignment)) << "alignment " << alignment << " after " << odd << " bytes";
    }
  }
}

TEST(memory_arena_test, refuses_alignments_that_are_not_powers_of_two_or_too_large) {
  const size_t refused[] = {0, 3, 12, 2 * QARN_ARENA_MAX_ALIGNMENT};
  qarn_memory_arena arena;
  for (size_t alignment : refused) {
    EXPECT_EQ(arena.allocate(8, alignment), nullptr) << "alignment " << alignment;
  }
  EXPECT_EQ(arena.block_count(), 0u);
}

TEST(memory_arena_test, records_are_zero_filled_and_aligned) {
  struct record {
    char *name;
    int64_t size;
    record *next;
  };
  qarn_memory_arena arena;
  ASSERT_NE(arena.allocate(1, 1), nullptr);  // the next record starts off alignment
  record *made = arena.make<record>();
  ASSERT_NE(made, nullptr);
  EXPECT_TRUE(is_aligned(made, alignof(record)));
  EXPECT_EQ(made->name, nullptr);
  EXPECT_EQ(made->size, 0);
  EXPECT_EQ(made->next, nullptr);
}

// Many small texts fill block after block; each keeps its bytes, however
// many blocks follow it.
TEST(memory_arena_test, grows_by_blocks_and_keeps_what_it_handed_out) {
  qarn_memory_arena arena;
  std::vector<char *> copies;
  std::vector<std::string> texts;
  const int text_count = 20000;  // about 400 KiB: several blocks
  for (int i = 0; i < text_count; i++) {
    texts.push_back("d" + std::to_string(i % 100) + "/f" + std::to_string(i) + ".dat");
    copies.push_back(arena.copy_text(texts.back().data(), texts.back().size()));
    ASSERT_NE(copies.back(), nullptr);
  }
  EXPECT_GT(arena.block_count(), 4u);
  EXPECT_LT(arena.block_count(), 10u) << "a block holds thousands of short texts";
  for (int i = 0; i < text_count; i++) {
    ASSERT_STREQ(copies[i], texts[i].c_str()) << "text " << i;
  }
}

// Names as long as a block and longer come whole, each in a block of its
// own; the block that serves small requests goes on serving them.
TEST(memory_arena_test, large_names_get_blocks_of_their_own) {
  const size_t lengths[] = {QARN_ARENA_BLOCK_LEN, 3 * QARN_ARENA_BLOCK_LEN + 5};
  qarn_memory_arena arena;
  char *small_before = arena.copy_text("before", 6);
  ASSERT_NE(small_before, nullptr);
  size_t blocks = arena.block_count();
  for (size_t length : lengths) {
    std::string name(length, 'n');
    name[length / 2] = '\xc3';  // bytes of every value are copied as they are
    char *copy = arena.copy_text(name.data(), name.size());
    ASSERT_NE(copy, nullptr) << length;
    EXPECT_EQ(std::strlen(copy), length);
    EXPECT_EQ(std::memcmp(copy, name.data(), length), 0);
    EXPECT_EQ(arena.block_count(), ++blocks);
    EXPECT_GE(arena.held_len(), length);
  }
  char *small_after = arena.copy_text("after", 5);
  ASSERT_NE(small_after, nullptr);
  EXPECT_EQ(arena.block_count(), blocks) << "small requests go on in the first block";
  EXPECT_EQ(small_after, small_before + 7);
  EXPECT_STREQ(small_before, "before");
}

TEST(memory_arena_test, an_impossible_length_is_refused_and_changes_nothing) {
  qarn_memory_arena arena;
  ASSERT_NE(arena.allocate(16, 8), nullptr);
  size_t held = arena.held_len();
  EXPECT_EQ(arena.allocate(SIZE_MAX - 8, 8), nullptr);
  EXPECT_EQ(arena.allocate(SIZE_MAX / 2, 1), nullptr);
  EXPECT_EQ(arena.copy_text("x", SIZE_MAX), nullptr);
  EXPECT_EQ(arena.held_len(), held);
  EXPECT_EQ(arena.block_count(), 1u);
}

TEST(memory_arena_test, release_frees_every_block_and_the_arena_serves_again) {
  qarn_memory_arena arena;
  for (int i = 0; i < 5000; i++) {
    ASSERT_NE(arena.allocate(40, 8), nullptr);
  }
  ASSERT_NE(arena.allocate(QARN_ARENA_BLOCK_LEN * 2, 16), nullptr);
  EXPECT_GT(arena.block_count(), 3u);
  arena.release();
  EXPECT_EQ(arena.block_count(), 0u);
  EXPECT_EQ(arena.held_len(), 0u);
  char *copy = arena.copy_text("again", 5);
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy, "again");
  EXPECT_EQ(arena.block_count(), 1u);
}

TEST(memory_arena_test, zero_lengths_are_valid_addresses) {
  qarn_memory_arena arena;
  void *first = arena.allocate(0, 16);
  void *second = arena.allocate(0, 16);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(is_aligned(first, 16));
  char *empty = arena.copy_text("", 0);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty[0], '\0');
}

}  // namespace
