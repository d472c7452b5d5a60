#include "support/sha256.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#ifdef TORVANE_WITH_TLS
#include <openssl/sha.h>
#endif

namespace {

std::string to_hex(const unsigned char *bytes, size_t count) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (size_t i = 0; i < count; i++) {
    hex += digits[bytes[i] >> 4];
    hex += digits[bytes[i] & 0x0F];
  }
  return hex;
}

// Feeds |message| in pieces whose lengths come from |split_lengths| in turn
// (a length of 0 is an empty update), and returns the digest in hex.
std::string digest_in_pieces(const std::string &message, const std::vector<size_t> &split_lengths) {
  qarn_sha256_context context;
  qarn_sha256_init(&context);
  size_t done = 0;
  for (size_t i = 0; done < message.size(); i++) {
    size_t piece = split_lengths.empty() ? message.size() : split_lengths[i % split_lengths.size()];
    if (piece > message.size() - done) {
      piece = message.size() - done;
    }
    qarn_sha256_update(&context, message.data() + done, piece);
    done += piece;
  }
  unsigned char digest[QARN_SHA256_DIGEST_LEN];
  qarn_sha256_final(&context, digest);
  return to_hex(digest, sizeof(digest));
}

struct vector_case {
  const char *name;
  std::string message;
  const char *digest;
};

class sha256_vector_test : public testing::TestWithParam<vector_case> {};

TEST_P(sha256_vector_test, ReproducesTheStandardDigestWholeAndInPieces) {
  const vector_case &c = GetParam();
  EXPECT_EQ(digest_in_pieces(c.message, {}), c.digest);
  EXPECT_EQ(digest_in_pieces(c.message, {1}), c.digest) << "byte by byte";
  EXPECT_EQ(digest_in_pieces(c.message, {0, 63, 1, 64, 65, 7}), c.digest) << "mixed pieces";
}

INSTANTIATE_TEST_SUITE_P(
    fips_180_4, sha256_vector_test,
    testing::Values(
        vector_case{"abc", "abc",
                    "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        vector_case{"empty", "",
                    "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        vector_case{"bits448", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
                    "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        vector_case{"bits896",
                    "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmno"
                    "ijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
                    "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        vector_case{"million_a", std::string(1000000, 'a'),
                    "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"}),
    [](const testing::TestParamInfo<vector_case> &info) { return info.param.name; });

TEST(sha256_test, ContextIsReusableAfterInit) {
  qarn_sha256_context context;
  unsigned char first[QARN_SHA256_DIGEST_LEN];
  unsigned char second[QARN_SHA256_DIGEST_LEN];
  qarn_sha256_init(&context);
  qarn_sha256_update(&context, "something else entirely", 23);
  qarn_sha256_final(&context, first);
  qarn_sha256_init(&context);
  qarn_sha256_update(&context, "abc", 3);
  qarn_sha256_final(&context, second);
  EXPECT_EQ(to_hex(second, sizeof(second)),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_NE(to_hex(first, sizeof(first)), to_hex(second, sizeof(second)));
}

#ifdef TORVANE_WITH_TLS
// Every length across several block boundaries, fed in random splits,
// against the TLS library's digest.
TEST(sha256_test, AgreesWithBoringSslOnEveryLengthUpTo300) {
  std::mt19937 random(20261210u);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<size_t> piece(0, 80);
  for (size_t length = 0; length <= 300; length++) {
    std::string message;
    for (size_t i = 0; i < length; i++) {
      message += static_cast<char>(byte(random));
    }
    std::vector<size_t> splits;
    for (int i = 0; i < 8; i++) {
      splits.push_back(piece(random));
    }
    splits.push_back(1);  // never only empty pieces
    unsigned char expected[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const uint8_t *>(message.data()), message.size(), expected);
    EXPECT_EQ(digest_in_pieces(message, splits), to_hex(expected, sizeof(expected)))
        << "length " << length;
  }
}
#endif

}  // namespace
