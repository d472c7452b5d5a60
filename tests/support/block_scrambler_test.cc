#include "support/block_scrambler.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "support/sha256.h"
#include "tests/common/diagnostic_capture.h"
#include "tests/common/hex_bytes.h"

namespace {

constexpr int32_t CONFIG_BLOCK_LEN = 1008;
constexpr unsigned char GUARD = 0xA5;

bytes sha256(const std::string &text) {
  qarn_sha256_context context;
  qarn_sha256_init(&context);
  qarn_sha256_update(&context, text.data(), text.size());
  bytes digest(QARN_SHA256_DIGEST_LEN);
  qarn_sha256_final(&context, digest.data());
  return digest;
}

// The keystream written out the long way: block b is SHA-256 of the key's
// digest in hex, ":", b in decimal, ":".
bytes expected_keystream(const std::string &key, size_t length, int *blocks_used) {
  std::string key_text = to_hex(sha256(key));
  bytes stream;
  int block = 0;
  while (stream.size() < length) {
    bytes digest = sha256(key_text + ":" + std::to_string(block) + ":");
    stream.insert(stream.end(), digest.begin(), digest.end());
    block++;
  }
  stream.resize(length);
  *blocks_used = block;
  return stream;
}

bytes pattern(size_t length) {
  bytes data(length);
  for (size_t i = 0; i < length; i++) {
    data[i] = static_cast<unsigned char>(i * 7 + 3);
  }
  return data;
}

class block_scrambler_test : public diagnostic_capture_test {
 protected:
  int32_t crypt(bytes &destination, const bytes &source, const char *key) {
    return qarn_trivial_crypt_block(destination.data(), static_cast<int32_t>(destination.size()),
                                    source.data(), static_cast<int32_t>(source.size()), key);
  }
};

struct stream_case {
  const char *key;
  size_t length;
  int blocks;
};

class block_scrambler_stream_test : public block_scrambler_test,
                                    public testing::WithParamInterface<stream_case> {};

TEST_P(block_scrambler_stream_test, MatchesTheKeystreamAndTurnsBack) {
  const stream_case &c = GetParam();
  bytes source = pattern(c.length);
  int blocks_used = 0;
  bytes stream = expected_keystream(c.key, c.length, &blocks_used);
  EXPECT_EQ(blocks_used, c.blocks);
  bytes expected(c.length);
  for (size_t i = 0; i < c.length; i++) {
    expected[i] = source[i] ^ stream[i];
  }
  bytes scrambled(c.length, GUARD);
  start_capture();
  EXPECT_EQ(crypt(scrambled, source, c.key), static_cast<int32_t>(c.length));
  EXPECT_EQ(scrambled, expected);
  bytes restored(c.length, GUARD);
  EXPECT_EQ(crypt(restored, scrambled, c.key), static_cast<int32_t>(c.length));
  EXPECT_EQ(restored, source);
  EXPECT_EQ(stop_capture(), "");
}

INSTANTIATE_TEST_SUITE_P(
    keys_and_lengths, block_scrambler_stream_test,
    testing::Values(stream_case{"key", 1, 1}, stream_case{"key", 32, 1},
                    stream_case{"key", 33, 2}, stream_case{"", 64, 2},
                    stream_case{"0123456789abcdef0123456789abcdef", 100, 4},
                    // The built-in configuration block: 31 full blocks and
                    // 16 bytes of a 32nd.
                    stream_case{"configuration key", CONFIG_BLOCK_LEN, 32}));

TEST_F(block_scrambler_test, ScramblesInPlace) {
  bytes data = pattern(77);
  bytes copy = data;
  start_capture();
  ASSERT_EQ(qarn_trivial_crypt_block(data.data(), 77, data.data(), 77, "k"), 77);
  EXPECT_NE(data, copy);
  ASSERT_EQ(qarn_trivial_crypt_block(data.data(), 77, data.data(), 77, "k"), 77);
  EXPECT_EQ(data, copy);
  EXPECT_EQ(stop_capture(), "");
}

TEST_F(block_scrambler_test, DifferentKeysGiveDifferentOutput) {
  bytes source = pattern(40);
  bytes a(40), b(40);
  start_capture();
  crypt(a, source, "key one");
  crypt(b, source, "key two");
  stop_capture();
  EXPECT_NE(a, b);
}

TEST_F(block_scrambler_test, SourcesThatAgreeOnAPrefixGiveOutputsThatAgreeOnIt) {
  bytes long_source = pattern(500);
  bytes short_source(long_source.begin(), long_source.begin() + 70);
  bytes long_out(500), short_out(70);
  start_capture();
  EXPECT_EQ(crypt(long_out, long_source, "prefix"), 500);
  EXPECT_EQ(crypt(short_out, short_source, "prefix"), 70);
  stop_capture();
  EXPECT_EQ(bytes(long_out.begin(), long_out.begin() + 70), short_out);
}

TEST_F(block_scrambler_test, ShortDestinationIsFilledReportedAndRefused) {
  bytes source = pattern(40);
  bytes full(40);
  start_capture();
  ASSERT_EQ(crypt(full, source, "key"), 40);
  for (int32_t size : {1, 10, 32, 39}) {
    bytes destination(64, GUARD);
    EXPECT_EQ(qarn_trivial_crypt_block(destination.data(), size, source.data(), 40, "key"), 0);
    EXPECT_EQ(bytes(destination.begin(), destination.begin() + size),
              bytes(full.begin(), full.begin() + size));
    EXPECT_EQ(bytes(destination.begin() + size, destination.end()), bytes(64 - size, GUARD))
        << "wrote past a destination of " << size;
  }
  EXPECT_EQ(stop_capture(),
            "Error in qarn_trivial_crypt_block(), out of space in dest, dest size was only 1.\n"
            "Error in qarn_trivial_crypt_block(), out of space in dest, dest size was only 10.\n"
            "Error in qarn_trivial_crypt_block(), out of space in dest, dest size was only 32.\n"
            "Error in qarn_trivial_crypt_block(), out of space in dest, dest size was only 39.\n");
}

TEST_F(block_scrambler_test, LargerDestinationTakesTheSourceLength) {
  bytes source = pattern(20);
  bytes destination(50, GUARD);
  start_capture();
  EXPECT_EQ(crypt(destination, source, "key"), 20);
  EXPECT_EQ(stop_capture(), "");
  EXPECT_EQ(bytes(destination.begin() + 20, destination.end()), bytes(30, GUARD));
}

struct empty_case {
  int32_t destination_size;
  int32_t source_len;
  const char *printed;
};

class block_scrambler_empty_test : public block_scrambler_test,
                                   public testing::WithParamInterface<empty_case> {};

TEST_P(block_scrambler_empty_test, EmptyOrNegativeSourceWritesNothing) {
  const empty_case &c = GetParam();
  unsigned char destination[4] = {GUARD, GUARD, GUARD, GUARD};
  const unsigned char source[4] = {1, 2, 3, 4};
  start_capture();
  EXPECT_EQ(qarn_trivial_crypt_block(destination, c.destination_size, source, c.source_len, "k"),
            0);
  EXPECT_EQ(stop_capture(), c.printed);
  for (unsigned char b : destination) {
    EXPECT_EQ(b, GUARD);
  }
}

INSTANTIATE_TEST_SUITE_P(
    lengths, block_scrambler_empty_test,
    testing::Values(empty_case{4, 0, ""}, empty_case{0, 0, ""}, empty_case{4, -1, ""},
                    empty_case{0, -1,
                               "Error in qarn_trivial_crypt_block(), out of space in dest, dest "
                               "size was only 0.\n"},
                    empty_case{-3, -5,
                               "Error in qarn_trivial_crypt_block(), out of space in dest, dest "
                               "size was only -3.\n"}));

TEST_F(block_scrambler_test, NullArgumentsAreReportedKeyFirst) {
  unsigned char destination[4] = {};
  const unsigned char source[4] = {1, 2, 3, 4};
  start_capture();
  EXPECT_EQ(qarn_trivial_crypt_block(destination, 4, nullptr, 4, nullptr), 0);
  EXPECT_EQ(qarn_trivial_crypt_block(destination, 4, nullptr, 4, "k"), 0);
  EXPECT_EQ(qarn_trivial_crypt_block(destination, 4, source, 4, nullptr), 0);
  EXPECT_EQ(qarn_trivial_crypt_block(nullptr, 4, source, 4, "k"), 0);
  EXPECT_EQ(stop_capture(),
            "Error in qarn_trivial_crypt_block(), NULL key.\n"
            "Error in qarn_trivial_crypt_block(), NULL src.\n"
            "Error in qarn_trivial_crypt_block(), NULL key.\n"
            "Error in qarn_trivial_crypt_block(), NULL dest.\n");
}

}  // namespace
