// SHA-256 as FIPS 180-4 defines it, computed incrementally. The compression
// function comes in a portable form, the reference, and where the CPU has
// them, one built on the x86 SHA extensions; the fastest one available is
// chosen once, at the first use, and every implementation gives the same
// digests.
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

// The compression functions this build knows.
enum qarn_sha256_implementation : int32_t {
  QARN_SHA256_PORTABLE = 0,        // plain C++, runs everywhere: the reference
  QARN_SHA256_SHA_EXTENSIONS = 1,  // x86 SHA extensions with SSSE3 and SSE4.1
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

// qarn_sha256_implementation_available returns 1 when |implementation| is
// built in and the CPU can run it, else 0.
int qarn_sha256_implementation_available(qarn_sha256_implementation implementation);

// qarn_sha256_use_implementation makes every later compression, for every
// context in the process, use |implementation|. Returns 1, or 0 when it is
// not available, and then the one in use stays. For tests and benchmarks;
// the default is the fastest available. Contexts may switch between
// implementations in the middle of a digest: they share the state layout.
int qarn_sha256_use_implementation(qarn_sha256_implementation implementation);

// qarn_sha256_implementation_in_use returns the implementation that the
// next compression uses.
qarn_sha256_implementation qarn_sha256_implementation_in_use();

#endif
