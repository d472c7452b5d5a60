// A keyed keystream scrambler. The keystream is a chain of SHA-256 digests
// of the key's digest text and a running block index; each data byte is
// combined with one keystream byte by exclusive or, so the same call with the
// same key turns a scrambled block back. It hides text from casual reading;
// it is not encryption.
#ifndef TORVANE_SUPPORT_BLOCK_SCRAMBLER_H
#define TORVANE_SUPPORT_BLOCK_SCRAMBLER_H

#include <cstdint>

// qarn_trivial_crypt_block combines |source_len| bytes of |source| with the
// keystream of the NUL-terminated |key| and writes them to |destination|,
// which holds |destination_size| bytes. Returns the number of bytes written
// (|source_len|) on success, and 0 for an empty source or on failure: null
// key, null source, null destination, or a destination shorter than the
// source (its first |destination_size| bytes are written all the same).
// Destination and source must not overlap unless they are the same block.
int32_t qarn_trivial_crypt_block(void *destination, int32_t destination_size, const void *source,
                                 int32_t source_len, const char *key);

#endif
