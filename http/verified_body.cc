#include "http/verified_body.h"

#include <cstring>

qarn_verified_body::qarn_verified_body(int64_t expected_size,
                                       const unsigned char expected_digest[QARN_SHA256_DIGEST_LEN])
    : expected_size_(expected_size) {
  std::memcpy(expected_digest_, expected_digest, sizeof(expected_digest_));
  qarn_sha256_init(&hash_);
}

int qarn_verified_body::take(const char *bytes, int32_t length) {
  if (verdict_ != QARN_BODY_UNDECIDED) {
    return 0;
  }
  // A body that runs past its size is not the published file, however it
  // goes on: no need to read it to its end.
  if (length > expected_size_ - received_) {
    verdict_ = QARN_BODY_TOO_LONG;
    return 0;
  }
  qarn_sha256_update(&hash_, bytes, static_cast<uint64_t>(length));
  received_ += length;
  return 1;
}

int qarn_verified_body::finish() {
  if (verdict_ != QARN_BODY_UNDECIDED) {
    return verdict_ == QARN_BODY_MATCHES;
  }
  if (received_ != expected_size_) {
    verdict_ = QARN_BODY_TOO_SHORT;
    return 0;
  }
  unsigned char digest[QARN_SHA256_DIGEST_LEN];
  qarn_sha256_final(&hash_, digest);
  verdict_ = std::memcmp(digest, expected_digest_, sizeof(digest)) == 0 ? QARN_BODY_MATCHES : QARN_BODY_OTHER_DIGEST;
  return verdict_ == QARN_BODY_MATCHES;
}

const char *qarn_body_verdict_text(qarn_body_verdict verdict) {
  switch (verdict) {
    case QARN_BODY_UNDECIDED:
      return "the download ended before its body did";
    case QARN_BODY_MATCHES:
      return "size and SHA-256 match";
    case QARN_BODY_TOO_LONG:
      return "more bytes than the published size arrived";
    case QARN_BODY_TOO_SHORT:
      return "fewer bytes than the published size arrived";
    case QARN_BODY_OTHER_DIGEST:
      return "its SHA-256 differs from the published one";
  }
  return "unknown verdict";
}
