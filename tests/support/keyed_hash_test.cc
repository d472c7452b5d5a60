// SipHash-2-4 against the published test vectors, and the process's key.
#include "support/keyed_hash.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>

namespace {

// The published vectors: key bytes 00 01 ... 0f, message bytes 00 01 ...
// of the given length.
struct vector_case {
  size_t length;
  uint64_t hash;
};

const vector_case VECTORS[] = {
    {0, 0x726fdb47dd0e0e31ull},  {1, 0x74f839c593dc67fdull},  {7, 0xab0200f58b01d137ull},
    {8, 0x93f5f5799a932462ull},  {9, 0x9e0082df0ba9e4b0ull},  {15, 0xa129ca6149be45e5ull},
    {16, 0x3f2acc7f57c29bdbull}, {63, 0x958a324ceb064572ull},
};

void PrintTo(const vector_case &c, std::ostream *out) { *out << c.length << " bytes"; }

const qarn_hash_key VECTOR_KEY = {0x0706050403020100ull, 0x0f0e0d0c0b0a0908ull};

class keyed_hash_vector_test : public testing::TestWithParam<vector_case> {};

TEST_P(keyed_hash_vector_test, matches_the_published_value) {
  unsigned char message[64];
  for (size_t i = 0; i < sizeof(message); i++) {
    message[i] = static_cast<unsigned char>(i);
  }
  EXPECT_EQ(qarn_keyed_hash(VECTOR_KEY, message, GetParam().length), GetParam().hash);
}

INSTANTIATE_TEST_SUITE_P(table, keyed_hash_vector_test, testing::ValuesIn(VECTORS));

TEST(keyed_hash_test, another_key_gives_another_hash) {
  qarn_hash_key other = VECTOR_KEY;
  other.k1 ^= 1;
  EXPECT_NE(qarn_keyed_hash(VECTOR_KEY, "data/a", 6), qarn_keyed_hash(other, "data/a", 6));
}

TEST(keyed_hash_test, the_process_key_is_drawn_once_and_is_not_empty) {
  const qarn_hash_key &first = qarn_process_hash_key();
  const qarn_hash_key &again = qarn_process_hash_key();
  EXPECT_EQ(&first, &again);
  EXPECT_TRUE(first.k0 != 0 || first.k1 != 0);
  EXPECT_NE(first.k0, first.k1);
}

}  // namespace
