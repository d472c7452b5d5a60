#include "support/block_scrambler.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "support/bounded_string.h"
#include "support/diagnostics.h"
#include "support/hex_text.h"
#include "support/sha256.h"

namespace {

constexpr int32_t KEY_DIGEST_TEXT_LEN = 2 * QARN_SHA256_DIGEST_LEN;
// Digest text, two colons, an index of up to 11 characters and the NUL.
constexpr int32_t SEED_TEXT_SIZE = KEY_DIGEST_TEXT_LEN + 16;

// One block of keystream and the position of its next unused byte.
struct keystream {
  char key_digest_text[KEY_DIGEST_TEXT_LEN + 1];
  int32_t block_index;
  unsigned char block[QARN_SHA256_DIGEST_LEN];
  int32_t position;
};

void sha256_of(const void *bytes, size_t length, unsigned char digest[QARN_SHA256_DIGEST_LEN]) {
  qarn_sha256_context context;
  qarn_sha256_init(&context);
  qarn_sha256_update(&context, bytes, length);
  qarn_sha256_final(&context, digest);
}

void keystream_start(keystream *stream, const char *key) {
  unsigned char key_digest[QARN_SHA256_DIGEST_LEN];
  sha256_of(key, std::strlen(key), key_digest);
  qarn_hex_encode(key_digest, QARN_SHA256_DIGEST_LEN, stream->key_digest_text);
  stream->block_index = 0;
  stream->position = QARN_SHA256_DIGEST_LEN;
}

// Computes the next keystream block. Returns 0 once the block index would
// pass the largest 32-bit index.
int keystream_next_block(keystream *stream) {
  if (stream->block_index == INT32_MAX) {
    qarn_diagnostic("Error in qarn_trivial_crypt_block(), frame index overflow.  Bailing.",
                    QARN_DIAG_OPERATION, QARN_MODULE_SUPPORT);
    return 0;
  }
  char seed[SEED_TEXT_SIZE];
  int seed_len = std::snprintf(seed, sizeof(seed), "%s:%d:", stream->key_digest_text,
                               static_cast<int>(stream->block_index));
  sha256_of(seed, static_cast<size_t>(seed_len), stream->block);
  stream->block_index++;
  stream->position = 0;
  return 1;
}

void report_out_of_space(int32_t destination_size) {
  qarn_bounded_string report;
  report.append_format("Error in qarn_trivial_crypt_block(), out of space in dest, dest size was only %d.",
                       static_cast<int>(destination_size));
  qarn_diagnostic(report.text(), QARN_DIAG_OPERATION, QARN_MODULE_SUPPORT);
}

}  // namespace

int32_t qarn_trivial_crypt_block(void *destination, int32_t destination_size, const void *source,
                                 int32_t source_len, const char *key) {
  if (key == nullptr) {
    qarn_diagnostic("Error in qarn_trivial_crypt_block(), NULL key.", QARN_DIAG_OPERATION,
                    QARN_MODULE_SUPPORT);
    return 0;
  }
  if (source == nullptr) {
    qarn_diagnostic("Error in qarn_trivial_crypt_block(), NULL src.", QARN_DIAG_OPERATION,
                    QARN_MODULE_SUPPORT);
    return 0;
  }
  // Writing through a null destination would crash the caller's process.
  if (destination == nullptr) {
    qarn_diagnostic("Error in qarn_trivial_crypt_block(), NULL dest.", QARN_DIAG_MISUSE,
                    QARN_MODULE_SUPPORT);
    return 0;
  }
  unsigned char *out = static_cast<unsigned char *>(destination);
  const unsigned char *in = static_cast<const unsigned char *>(source);
  keystream stream;
  keystream_start(&stream, key);
  int32_t k = 0;
  while (k < source_len && k < destination_size) {
    if (stream.position == QARN_SHA256_DIGEST_LEN && !keystream_next_block(&stream)) {
      return 0;
    }
    out[k] = in[k] ^ stream.block[stream.position];
    stream.position++;
    k++;
  }
  if (k < destination_size || k == source_len) {
    return k;
  }
  report_out_of_space(destination_size);
  return 0;
}
