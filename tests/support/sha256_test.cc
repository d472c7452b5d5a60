#include "support/sha256.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <ostream>
#include <random>
#include <string>
#include <tuple>
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

std::string random_message(std::mt19937 &random, size_t length) {
  std::uniform_int_distribution<int> byte(0, 255);
  std::string message;
  for (size_t i = 0; i < length; i++) {
    message += static_cast<char>(byte(random));
  }
  return message;
}

// Piece lengths from 0 to |largest|, never only empty pieces.
std::vector<size_t> random_splits(std::mt19937 &random, size_t largest) {
  std::uniform_int_distribution<size_t> piece(0, largest);
  std::vector<size_t> splits;
  for (int i = 0; i < 8; i++) {
    splits.push_back(piece(random));
  }
  splits.push_back(1);
  return splits;
}

// The reference digest: the portable implementation, the message whole.
// Leaves the implementation in use as it was.
std::string portable_digest(const std::string &message) {
  qarn_sha256_implementation before = qarn_sha256_implementation_in_use();
  qarn_sha256_use_implementation(QARN_SHA256_PORTABLE);
  std::string digest = digest_in_pieces(message, {});
  qarn_sha256_use_implementation(before);
  return digest;
}

struct implementation_case {
  const char *name;
  qarn_sha256_implementation implementation;
};

// Test names and failure messages show the case by its name.
void PrintTo(const implementation_case &c, std::ostream *out) { *out << c.name; }

const implementation_case IMPLEMENTATIONS[] = {
    {"portable", QARN_SHA256_PORTABLE},
    {"sha_extensions", QARN_SHA256_SHA_EXTENSIONS},
};

// Runs the test body with one implementation in use, and puts back the one
// that was in use before. An implementation that the CPU cannot run skips
// the test, so that a missing fast path shows instead of passing.
class implementation_scope {
 public:
  explicit implementation_scope(qarn_sha256_implementation implementation)
      : before_(qarn_sha256_implementation_in_use()),
        chosen_(qarn_sha256_use_implementation(implementation) == 1) {}
  ~implementation_scope() { qarn_sha256_use_implementation(before_); }
  bool chosen() const { return chosen_; }

 private:
  qarn_sha256_implementation before_;
  bool chosen_;
};

#define USE_IMPLEMENTATION_OR_SKIP(scope, c)                                                   \
  implementation_scope scope((c).implementation);                                             \
  if (!scope.chosen()) {                                                                      \
    GTEST_SKIP() << "this CPU cannot run the " << (c).name                                    \
                 << " SHA-256 implementation; its tests did not run";                          \
  }

std::string implementation_name(const testing::TestParamInfo<implementation_case> &info) {
  return info.param.name;
}

struct vector_case {
  const char *name;
  std::string message;
  const char *digest;
};

void PrintTo(const vector_case &c, std::ostream *out) { *out << c.name; }

const vector_case FIPS_180_4_VECTORS[] = {
    {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"bits448", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {"bits896",
     "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmno"
     "ijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
     "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
    {"million_a", std::string(1000000, 'a'),
     "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
};

class sha256_vector_test
    : public testing::TestWithParam<std::tuple<implementation_case, vector_case>> {};

TEST_P(sha256_vector_test, ReproducesTheStandardDigestWholeAndInPieces) {
  const implementation_case &i = std::get<0>(GetParam());
  const vector_case &c = std::get<1>(GetParam());
  USE_IMPLEMENTATION_OR_SKIP(scope, i);
  EXPECT_EQ(digest_in_pieces(c.message, {}), c.digest);
  EXPECT_EQ(digest_in_pieces(c.message, {1}), c.digest) << "byte by byte";
  EXPECT_EQ(digest_in_pieces(c.message, {0, 63, 1, 64, 65, 7}), c.digest) << "mixed pieces";
}

INSTANTIATE_TEST_SUITE_P(
    fips_180_4, sha256_vector_test,
    testing::Combine(testing::ValuesIn(IMPLEMENTATIONS), testing::ValuesIn(FIPS_180_4_VECTORS)),
    [](const testing::TestParamInfo<std::tuple<implementation_case, vector_case>> &info) {
      return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
    });

class sha256_implementation_test : public testing::TestWithParam<implementation_case> {};

TEST_P(sha256_implementation_test, ContextIsReusableAfterInit) {
  USE_IMPLEMENTATION_OR_SKIP(scope, GetParam());
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

// Every length across several block boundaries, so that the padding lands
// in every position of the last block and spills into an extra one.
TEST_P(sha256_implementation_test, AgreesWithThePortableOneOnEveryLengthUpTo300) {
  USE_IMPLEMENTATION_OR_SKIP(scope, GetParam());
  std::mt19937 random(20261211u);
  for (size_t length = 0; length <= 300; length++) {
    std::string message = random_message(random, length);
    EXPECT_EQ(digest_in_pieces(message, {}), portable_digest(message)) << "length " << length;
  }
}

// The same lengths fed in random pieces, in single bytes, and in pieces
// that start one short of and one past a block boundary, so that the
// buffered and the straight-through paths of an update meet in every way.
TEST_P(sha256_implementation_test, AgreesWithThePortableOneOnSplitUpdates) {
  USE_IMPLEMENTATION_OR_SKIP(scope, GetParam());
  std::mt19937 random(20261212u);
  for (size_t length = 0; length <= 300; length++) {
    std::string message = random_message(random, length);
    std::string expected = portable_digest(message);
    EXPECT_EQ(digest_in_pieces(message, random_splits(random, 80)), expected)
        << "random pieces, length " << length;
    EXPECT_EQ(digest_in_pieces(message, random_splits(random, 200)), expected)
        << "random pieces of up to three blocks, length " << length;
    EXPECT_EQ(digest_in_pieces(message, {1}), expected) << "byte by byte, length " << length;
    EXPECT_EQ(digest_in_pieces(message, {63, 2, 129}), expected)
        << "across block boundaries, length " << length;
    EXPECT_EQ(digest_in_pieces(message, {65, 0, 127}), expected)
        << "across block boundaries with an empty piece, length " << length;
  }
}

// Many whole blocks in one update, as the downloader hands them over, with
// the start off any alignment.
TEST_P(sha256_implementation_test, AgreesWithThePortableOneOnLargeUnalignedUpdates) {
  USE_IMPLEMENTATION_OR_SKIP(scope, GetParam());
  std::mt19937 random(20261213u);
  std::string message = random_message(random, 1 << 20);
  for (size_t offset = 0; offset < 4; offset++) {
    std::string tail = message.substr(offset);
    EXPECT_EQ(digest_in_pieces(tail, {8192}), portable_digest(tail)) << "offset " << offset;
  }
}

#ifdef TORVANE_WITH_TLS
// Every length across several block boundaries, fed in random splits,
// against the TLS library's digest.
TEST_P(sha256_implementation_test, AgreesWithBoringSslOnEveryLengthUpTo300) {
  USE_IMPLEMENTATION_OR_SKIP(scope, GetParam());
  std::mt19937 random(20261210u);
  for (size_t length = 0; length <= 300; length++) {
    std::string message = random_message(random, length);
    unsigned char expected[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const uint8_t *>(message.data()), message.size(), expected);
    EXPECT_EQ(digest_in_pieces(message, random_splits(random, 80)),
              to_hex(expected, sizeof(expected)))
        << "length " << length;
  }
}
#endif

INSTANTIATE_TEST_SUITE_P(implementations, sha256_implementation_test,
                         testing::ValuesIn(IMPLEMENTATIONS), implementation_name);

// A digest begun with one implementation and finished with another: they
// share the context's layout, so a switch in the middle changes nothing.
TEST(sha256_test, ImplementationsMayTakeTurnsWithinOneDigest) {
  implementation_scope scope(QARN_SHA256_PORTABLE);
  if (!qarn_sha256_implementation_available(QARN_SHA256_SHA_EXTENSIONS)) {
    GTEST_SKIP() << "this CPU lacks the SHA extensions: only one implementation to take turns";
  }
  std::mt19937 random(20261214u);
  std::string message = random_message(random, 1000);
  qarn_sha256_context context;
  qarn_sha256_init(&context);
  size_t done = 0;
  for (size_t piece : {100, 64, 300, 1, 535}) {
    ASSERT_EQ(qarn_sha256_use_implementation(done % 2 == 0 ? QARN_SHA256_SHA_EXTENSIONS
                                                           : QARN_SHA256_PORTABLE),
              1);
    qarn_sha256_update(&context, message.data() + done, piece);
    done += piece;
  }
  ASSERT_EQ(done, message.size());
  unsigned char digest[QARN_SHA256_DIGEST_LEN];
  qarn_sha256_final(&context, digest);
  EXPECT_EQ(to_hex(digest, sizeof(digest)), portable_digest(message));
}

// Says on the test output which implementation this CPU runs by default,
// and checks that it is the fastest one the CPU can run.
TEST(sha256_test, TheDefaultIsTheFastestAvailable) {
  bool extensions = qarn_sha256_implementation_available(QARN_SHA256_SHA_EXTENSIONS) == 1;
  qarn_sha256_implementation in_use = qarn_sha256_implementation_in_use();
  std::printf("SHA-256 on this CPU: %s\n",
              in_use == QARN_SHA256_SHA_EXTENSIONS ? "x86 SHA extensions" : "portable");
  RecordProperty("sha256_implementation",
                 in_use == QARN_SHA256_SHA_EXTENSIONS ? "sha_extensions" : "portable");
  EXPECT_EQ(in_use, extensions ? QARN_SHA256_SHA_EXTENSIONS : QARN_SHA256_PORTABLE);
  EXPECT_EQ(qarn_sha256_implementation_available(QARN_SHA256_PORTABLE), 1);
}

TEST(sha256_test, AnUnknownImplementationIsRefusedAndTheOneInUseStays) {
  const qarn_sha256_implementation unknown = static_cast<qarn_sha256_implementation>(7);
  qarn_sha256_implementation before = qarn_sha256_implementation_in_use();
  EXPECT_EQ(qarn_sha256_implementation_available(unknown), 0);
  EXPECT_EQ(qarn_sha256_use_implementation(unknown), 0);
  EXPECT_EQ(qarn_sha256_implementation_in_use(), before);
  EXPECT_EQ(digest_in_pieces("abc", {}),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

}  // namespace
