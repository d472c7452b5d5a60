// The hash token of a published file: the lower-case hexadecimal SHA-256 of
// its bytes, read in pieces so that no file is ever held in memory whole.
#ifndef TORVANE_TOOLS_FILE_DIGEST_H
#define TORVANE_TOOLS_FILE_DIGEST_H

#include <cstdint>
#include <string>

#include "support/sha256.h"

// Characters of a hash token: two hexadecimal digits per digest byte.
constexpr size_t FILE_DIGEST_HEX_LEN = 64;

// sha256_of_file hashes the file at |path|. Returns true with the digest
// in |digest| and the byte count in |*size|; false with the reason in
// |*why|.
bool sha256_of_file(const std::string &path, unsigned char digest[QARN_SHA256_DIGEST_LEN], uint64_t *size,
                    std::string *why);

// digest_file is sha256_of_file with the digest as a hash token in |*hex|.
bool digest_file(const std::string &path, std::string *hex, uint64_t *size, std::string *why);

// hex_of returns the lower-case hexadecimal form of |length| bytes.
std::string hex_of(const unsigned char *bytes, size_t length);

#endif
