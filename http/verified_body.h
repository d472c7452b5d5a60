// qarn_verified_body: a body check for a file whose size and SHA-256 were
// published. It counts and hashes the bytes as they arrive (no second read
// of the file), stops a body that runs past the published size at once, and
// at the end compares size and digest.
#ifndef TORVANE_HTTP_VERIFIED_BODY_H
#define TORVANE_HTTP_VERIFIED_BODY_H

#include <cstdint>

#include "http/body_check.h"
#include "support/sha256.h"

enum qarn_body_verdict {
  QARN_BODY_UNDECIDED,     // the body has not ended yet
  QARN_BODY_MATCHES,       // size and SHA-256 are the published ones
  QARN_BODY_TOO_LONG,      // more bytes than the published size arrived
  QARN_BODY_TOO_SHORT,     // the body ended before the published size
  QARN_BODY_OTHER_DIGEST,  // the size is right, the SHA-256 is not
};

class qarn_verified_body : public qarn_body_check {
 public:
  // |expected_size| bytes whose SHA-256 is |expected_digest| (copied).
  qarn_verified_body(int64_t expected_size, const unsigned char expected_digest[QARN_SHA256_DIGEST_LEN]);

  int take(const char *bytes, int32_t length) override;
  int finish() override;

  // verdict says what the body turned out to be.
  qarn_body_verdict verdict() const { return verdict_; }
  // received is the number of body bytes taken.
  int64_t received() const { return received_; }

 private:
  int64_t expected_size_;
  unsigned char expected_digest_[QARN_SHA256_DIGEST_LEN];
  int64_t received_ = 0;
  qarn_sha256_context hash_;
  qarn_body_verdict verdict_ = QARN_BODY_UNDECIDED;
};

// qarn_body_verdict_text returns a short phrase for the player: static
// text, never null.
const char *qarn_body_verdict_text(qarn_body_verdict verdict);

#endif
