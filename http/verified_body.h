// qarn_verified_body: a body check for a file whose size and SHA-256 were
// published. It counts and hashes the bytes as they arrive (no second read
// of the file), stops a body that runs past the published size at once, and
// at the end compares size and digest.
//
// A large body on a machine with two or more processors is hashed on a
// worker thread (qarn_background_digest) while the next bytes are being
// received; anything else is hashed piece by piece on the caller's thread.
// The verdicts are the same either way.
#ifndef TORVANE_HTTP_VERIFIED_BODY_H
#define TORVANE_HTTP_VERIFIED_BODY_H

#include <cstdint>

#include "http/background_digest.h"
#include "http/body_check.h"
#include "support/sha256.h"

// Where the SHA-256 of a body is computed.
enum qarn_digest_placement {
  QARN_DIGEST_CHOSEN,  // beside for a body of QARN_DIGEST_BESIDE_MIN_SIZE bytes or more
                       // when the process may run on two or more processors, else inline
  QARN_DIGEST_INLINE,  // on the caller's thread, as each piece is taken
  QARN_DIGEST_BESIDE,  // on a worker thread; inline when none can be started
};

// Smallest body hashed beside by choice. A smaller one hashes in about a
// millisecond or less, little more than starting and joining a thread
// costs, and an update of many small files would pay that start for each.
constexpr int64_t QARN_DIGEST_BESIDE_MIN_SIZE = 1024 * 1024;

enum qarn_body_verdict {
  QARN_BODY_UNDECIDED,     // the body has not ended yet
  QARN_BODY_MATCHES,       // size and SHA-256 are the published ones
  QARN_BODY_TOO_LONG,      // more bytes than the published size arrived
  QARN_BODY_TOO_SHORT,     // the body ended before the published size
  QARN_BODY_OTHER_DIGEST,  // the size is right, the SHA-256 is not
};

class qarn_verified_body : public qarn_body_check {
 public:
  // |expected_size| bytes whose SHA-256 is |expected_digest| (copied),
  // hashed where |placement| says. No thread runs before the first byte.
  qarn_verified_body(int64_t expected_size, const unsigned char expected_digest[QARN_SHA256_DIGEST_LEN],
                     qarn_digest_placement placement = QARN_DIGEST_CHOSEN);
  // Destruction stops and joins a worker still hashing (a download that
  // failed before its body ended).
  ~qarn_verified_body() override = default;
  qarn_verified_body(const qarn_verified_body &) = delete;
  qarn_verified_body &operator=(const qarn_verified_body &) = delete;

  int take(const char *bytes, int32_t length) override;
  int finish() override;

  // verdict says what the body turned out to be.
  qarn_body_verdict verdict() const { return verdict_; }
  // received is the number of body bytes taken.
  int64_t received() const { return received_; }
  // hashed_beside is true when a worker thread took the bytes.
  bool hashed_beside() const { return hashed_beside_; }

 private:
  int hash(const char *bytes, int32_t length);

  int64_t expected_size_;
  unsigned char expected_digest_[QARN_SHA256_DIGEST_LEN];
  int64_t received_ = 0;
  bool wants_worker_;           // hash beside, once the first byte arrives
  bool hashed_beside_ = false;  // the worker started and took the bytes
  qarn_sha256_context hash_;    // the inline digest
  qarn_background_digest beside_;
  qarn_body_verdict verdict_ = QARN_BODY_UNDECIDED;
};

// qarn_body_verdict_text returns a short phrase for the player: static
// text, never null.
const char *qarn_body_verdict_text(qarn_body_verdict verdict);

#endif
