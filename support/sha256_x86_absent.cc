// The SHA extensions on a target that is not x86: never available. The
// compression function is there only to satisfy the linker.
#include "support/sha256_compress.h"

int qarn_sha256_extensions_available() { return 0; }

void qarn_sha256_compress_extensions(uint32_t state[QARN_SHA256_STATE_WORDS],
                                     const unsigned char *blocks, size_t block_count) {
  qarn_sha256_compress_portable(state, blocks, block_count);
}
