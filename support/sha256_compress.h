// The SHA-256 compression functions behind qarn_sha256_update, shared by
// support/sha256.cc and the accelerated implementations. Not for other
// callers: they go through support/sha256.h.
#ifndef TORVANE_SUPPORT_SHA256_COMPRESS_H
#define TORVANE_SUPPORT_SHA256_COMPRESS_H

#include <cstddef>
#include <cstdint>

#include "support/sha256.h"

constexpr int32_t QARN_SHA256_ROUNDS = 64;

// The 64 round constants of FIPS 180-4, in round order.
extern const uint32_t qarn_sha256_round_constants[QARN_SHA256_ROUNDS];

// A compression function folds |block_count| whole 64-byte blocks at
// |blocks| into the chaining words |state| (A to H, in that order).
typedef void (*qarn_sha256_compress_function)(uint32_t state[QARN_SHA256_STATE_WORDS],
                                               const unsigned char *blocks, size_t block_count);

// The reference, in plain C++.
void qarn_sha256_compress_portable(uint32_t state[QARN_SHA256_STATE_WORDS],
                                   const unsigned char *blocks, size_t block_count);

// The x86 SHA extensions. CMake builds support/sha256_x86.cc for x86
// targets and support/sha256_x86_absent.cc for the others, whose
// qarn_sha256_extensions_available always says 0.

// qarn_sha256_extensions_available returns 1 when the CPU has the SHA
// extensions, SSSE3 and SSE4.1, else 0.
int qarn_sha256_extensions_available();

// qarn_sha256_compress_extensions may only be called when
// qarn_sha256_extensions_available said 1: elsewhere its instructions fault.
void qarn_sha256_compress_extensions(uint32_t state[QARN_SHA256_STATE_WORDS],
                                     const unsigned char *blocks, size_t block_count);

#endif
