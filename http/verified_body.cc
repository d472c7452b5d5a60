#include "http/verified_body.h"

#include <cstring>

#include "platform/processors.h"

namespace {

bool wants_worker(qarn_digest_placement placement, int64_t expected_size) {
  switch (placement) {
    case QARN_DIGEST_INLINE:
      return false;
    case QARN_DIGEST_BESIDE:
      return true;
    case QARN_DIGEST_CHOSEN:
      break;
  }
  // On one processor the worker would only take turns with the receiving.
  return expected_size >= QARN_DIGEST_BESIDE_MIN_SIZE && platform_processor_count() >= 2;
}

}  // namespace

qarn_verified_body::qarn_verified_body(int64_t expected_size,
                                       const unsigned char expected_digest[QARN_SHA256_DIGEST_LEN],
                                       qarn_digest_placement placement)
    : expected_size_(expected_size), wants_worker_(wants_worker(placement, expected_size)) {
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
    beside_.abandon();
    return 0;
  }
  if (!hash(bytes, length)) {
    return 0;
  }
  received_ += length;
  return 1;
}

// hash hands the bytes to the worker, started at the first byte, or hashes
// them here when there is none. Returns 1, or 0 when the worker no longer
// takes bytes.
int qarn_verified_body::hash(const char *bytes, int32_t length) {
  if (wants_worker_ && length > 0) {
    wants_worker_ = false;
    hashed_beside_ = beside_.start() == 1;
  }
  if (hashed_beside_) {
    return beside_.update(bytes, length);
  }
  qarn_sha256_update(&hash_, bytes, static_cast<uint64_t>(length));
  return 1;
}

int qarn_verified_body::finish() {
  if (verdict_ != QARN_BODY_UNDECIDED) {
    return verdict_ == QARN_BODY_MATCHES;
  }
  if (received_ != expected_size_) {
    verdict_ = QARN_BODY_TOO_SHORT;
    beside_.abandon();
    return 0;
  }
  unsigned char digest[QARN_SHA256_DIGEST_LEN];
  int digested = 1;
  if (hashed_beside_) {
    digested = beside_.finish(digest);
  } else {
    qarn_sha256_final(&hash_, digest);
  }
  bool same = digested && std::memcmp(digest, expected_digest_, sizeof(digest)) == 0;
  verdict_ = same ? QARN_BODY_MATCHES : QARN_BODY_OTHER_DIGEST;
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
