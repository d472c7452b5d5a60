// The SHA-256 computed on a worker thread: the same digest as on the
// caller's thread for every length around the buffer boundaries, and a
// worker that is joined on every way out (finish, abandon, destruction).
#include "http/background_digest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/common/hex_bytes.h"

namespace {

std::string pattern(size_t length) {
  std::string bytes(length, '\0');
  for (size_t i = 0; i < length; i++) {
    bytes[i] = static_cast<char>((i * 7 + i / 509) & 0xff);
  }
  return bytes;
}

// The hex digits of the SHA-256 of |data|, hashed on this thread.
std::string inline_digest(const std::string &data) {
  qarn_sha256_context context;
  qarn_sha256_init(&context);
  qarn_sha256_update(&context, data.data(), data.size());
  unsigned char digest[QARN_SHA256_DIGEST_LEN];
  qarn_sha256_final(&context, digest);
  return to_hex(digest, sizeof(digest));
}

// beside_digest hashes |data| on a worker, handed over in pieces of at
// most |piece| bytes.
std::string beside_digest(const std::string &data, size_t piece) {
  qarn_background_digest digest;
  EXPECT_EQ(digest.start(), 1);
  for (size_t offset = 0; offset < data.size(); offset += piece) {
    size_t length = data.size() - offset < piece ? data.size() - offset : piece;
    EXPECT_EQ(digest.update(data.data() + offset, static_cast<int32_t>(length)), 1);
  }
  unsigned char out[QARN_SHA256_DIGEST_LEN];
  EXPECT_EQ(digest.finish(out), 1);
  return to_hex(out, sizeof(out));
}

TEST(background_digest_test, matches_the_inline_digest) {
  constexpr size_t kLen = QARN_BACKGROUND_DIGEST_BUFFER_LEN;
  constexpr size_t kRing = kLen * QARN_BACKGROUND_DIGEST_BUFFER_COUNT;
  const std::vector<size_t> lengths = {0, 1, 63, 64, kLen - 1, kLen, kLen + 1, kRing, kRing + 1, 3 * kRing + 4097};
  const std::vector<size_t> pieces = {8192, 1000, kLen};
  for (size_t length : lengths) {
    const std::string data = pattern(length);
    for (size_t piece : pieces) {
      EXPECT_EQ(beside_digest(data, piece), inline_digest(data))
          << length << " bytes in pieces of " << piece;
    }
  }
  EXPECT_EQ(qarn_background_digest::live_workers(), 0);
}

TEST(background_digest_test, the_worker_is_joined_on_every_way_out) {
  const std::string some = pattern(1000);
  const std::string ring_and_more = pattern(QARN_BACKGROUND_DIGEST_BUFFER_LEN * QARN_BACKGROUND_DIGEST_BUFFER_COUNT + 5);
  enum class way_out { finish, abandon, destroy };
  struct {
    const char *label;
    const std::string *bytes;
    way_out out;
  } cases[] = {
      {"finished", &ring_and_more, way_out::finish},
      {"abandoned with nothing handed on", &some, way_out::abandon},
      {"abandoned with the ring full", &ring_and_more, way_out::abandon},
      {"destroyed with nothing handed on", &some, way_out::destroy},
      {"destroyed with the ring full", &ring_and_more, way_out::destroy},
  };
  for (const auto &c : cases) {
    ASSERT_EQ(qarn_background_digest::live_workers(), 0) << c.label;
    {
      qarn_background_digest digest;
      ASSERT_EQ(digest.start(), 1) << c.label;
      EXPECT_TRUE(digest.running()) << c.label;
      EXPECT_EQ(qarn_background_digest::live_workers(), 1) << c.label;
      EXPECT_EQ(digest.update(c.bytes->data(), static_cast<int32_t>(c.bytes->size())), 1) << c.label;
      unsigned char out[QARN_SHA256_DIGEST_LEN];
      if (c.out == way_out::finish) {
        EXPECT_EQ(digest.finish(out), 1) << c.label;
      } else if (c.out == way_out::abandon) {
        digest.abandon();
      }
      if (c.out != way_out::destroy) {
        EXPECT_FALSE(digest.running()) << c.label;
        EXPECT_EQ(qarn_background_digest::live_workers(), 0) << c.label;
        // Nothing runs any more to take bytes or give a digest.
        EXPECT_EQ(digest.update("x", 1), 0) << c.label;
        EXPECT_EQ(digest.finish(out), 0) << c.label;
      }
    }
    EXPECT_EQ(qarn_background_digest::live_workers(), 0) << c.label;
  }
}

TEST(background_digest_test, one_object_computes_one_digest) {
  qarn_background_digest digest;
  EXPECT_EQ(digest.update("x", 1), 0);  // not started
  ASSERT_EQ(digest.start(), 1);
  EXPECT_EQ(digest.start(), 0);
  unsigned char out[QARN_SHA256_DIGEST_LEN];
  EXPECT_EQ(digest.finish(out), 1);
  EXPECT_EQ(to_hex(out, sizeof(out)), inline_digest(""));
  EXPECT_EQ(digest.start(), 0);
  EXPECT_EQ(qarn_background_digest::live_workers(), 0);
}

}  // namespace
