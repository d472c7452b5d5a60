// SHA-256 as FIPS 180-4 defines it, computed incrementally.
#ifndef TORVANE_SUPPORT_SHA256_H
#define TORVANE_SUPPORT_SHA256_H

#include <cstdint>

constexpr int32_t QARN_SHA256_DIGEST_LEN = 32;
constexpr int32_t QARN_SHA256_BLOCK_LEN = 64;
constexpr int32_t QARN_SHA256_STATE_WORDS = 8;

struct qarn_sha256_context {
  uint32_t state[QARN_SHA256_STATE_WORDS];  // chaining words
  uint64_t byte_count;                       // message bytes taken in so far
  unsigned char buffer[QARN_SHA256_BLOCK_LEN];  // incomplete block
  int32_t buffer_fill;                       // bytes held in |buffer|
};

// qarn_sha256_init starts a new digest in |context|.
void qarn_sha256_init(qarn_sha256_context *context);

// qarn_sha256_update takes in |count| bytes from |bytes|. The bytes are
// not kept; |bytes| may be null when |count| is 0.
void qarn_sha256_update(qarn_sha256_context *context, const void *bytes, uint64_t count);

// qarn_sha256_final completes the digest and writes its 32 bytes to
// |digest|, each chaining word most significant byte first. The context
// must be initialised again before further use.
void qarn_sha256_final(qarn_sha256_context *context, unsigned char digest[QARN_SHA256_DIGEST_LEN]);

#endif
