#include "support/growable_array.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace {

// An array of 4-byte elements, as the update planner keeps its pointers on
// the 32-bit target.
class growable_array_test : public testing::Test {
 protected:
  static constexpr int32_t ELEMENT_SIZE = 4;
  void SetUp() override { array.init(ELEMENT_SIZE); }
  void TearDown() override { array.release(); }

  void append_values(int32_t first, int32_t count) {
    for (int32_t v = first; v < first + count; v++) {
      ASSERT_EQ(array.append(&v), 1);
    }
  }
  int32_t value_at(int32_t index) const {
    int32_t value = 0;
    std::memcpy(&value, array.at(index), sizeof(value));
    return value;
  }

  qarn_growable_array array;
};

TEST_F(growable_array_test, starts_in_the_object) {
  EXPECT_EQ(array.storage, static_cast<void *>(array.in_object));
  EXPECT_EQ(array.capacity, 26);
  EXPECT_EQ(array.count, 0);
  EXPECT_EQ(array.element_size, ELEMENT_SIZE);
}

TEST_F(growable_array_test, twenty_six_elements_stay_in_the_object) {
  append_values(100, 26);
  EXPECT_EQ(array.storage, static_cast<void *>(array.in_object));
  EXPECT_EQ(array.capacity, 26);
  EXPECT_EQ(array.count, 26);
}

TEST_F(growable_array_test, twenty_seventh_element_moves_all_to_the_heap) {
  append_values(100, 27);
  EXPECT_NE(array.storage, static_cast<void *>(array.in_object));
  EXPECT_EQ(array.capacity, 52);
  EXPECT_EQ(array.count, 27);
  for (int32_t i = 0; i < 27; i++) {
    EXPECT_EQ(value_at(i), 100 + i) << "element " << i;
  }
  // The heap block has room for 52 elements: fill it to the last byte.
  append_values(127, 25);
  EXPECT_EQ(array.capacity, 52);
  EXPECT_EQ(value_at(51), 151);
}

TEST_F(growable_array_test, keeps_doubling) {
  append_values(0, 1000);
  EXPECT_EQ(array.capacity, 1664);  // 26 doubled six times
  for (int32_t i = 0; i < 1000; i++) {
    ASSERT_EQ(value_at(i), i);
  }
}

TEST_F(growable_array_test, at_refuses_indexes_outside_the_elements) {
  append_values(1, 3);
  EXPECT_EQ(array.at(-1), nullptr);
  EXPECT_EQ(array.at(3), nullptr);
  EXPECT_NE(array.at(2), nullptr);
}

TEST_F(growable_array_test, release_frees_heap_block_and_forgets_storage) {
  append_values(0, 27);
  array.release();
  EXPECT_EQ(array.storage, nullptr);
  EXPECT_EQ(array.append(&array.count), 0) << "a released array takes nothing";
  array.init(ELEMENT_SIZE);  // TearDown releases again
}

TEST_F(growable_array_test, release_of_array_that_never_grew_frees_nothing) {
  // A free() of the in-object area would crash or trip the sanitizer here.
  append_values(0, 5);
  array.release();
  EXPECT_EQ(array.storage, nullptr);
  array.init(ELEMENT_SIZE);
}

TEST(growable_array, zero_capacity_grows_to_one) {
  // Elements bigger than the in-object area start with no room at all.
  struct big {
    unsigned char bytes[200];
  };
  qarn_growable_array array;
  array.init(static_cast<int32_t>(sizeof(big)));
  EXPECT_EQ(array.capacity, 0);
  big element;
  std::memset(element.bytes, 0xAB, sizeof(element.bytes));
  ASSERT_EQ(array.append(&element), 1);
  EXPECT_EQ(array.capacity, 1);
  ASSERT_EQ(array.append(&element), 1);
  EXPECT_EQ(array.capacity, 2);
  EXPECT_EQ(std::memcmp(array.at(1), element.bytes, sizeof(element.bytes)), 0);
  array.release();
}

TEST(growable_array, invalid_element_size_takes_nothing) {
  qarn_growable_array array;
  array.init(0);
  int32_t v = 1;
  EXPECT_EQ(array.append(&v), 0);
  EXPECT_EQ(array.count, 0);
  array.init(-4);
  EXPECT_EQ(array.append(&v), 0);
  array.release();
}

}  // namespace
