// The hash token of a published file: the lower-case hexadecimal SHA-256 of
// its bytes, read in pieces so that no file is ever held in memory whole.
#ifndef TORVANE_TOOLS_FILE_DIGEST_H
#define TORVANE_TOOLS_FILE_DIGEST_H

#include <cstdint>
#include <string>

// Characters of a hash token: two hexadecimal digits per digest byte.
constexpr size_t FILE_DIGEST_HEX_LEN = 64;

// digest_file hashes the file at |path|. Returns true with the token in
// |*hex| and the byte count in |*size|; false with the reason in |*why|.
bool digest_file(const std::string &path, std::string *hex, uint64_t *size, std::string *why);

// hex_of returns the lower-case hexadecimal form of |length| bytes.
std::string hex_of(const unsigned char *bytes, size_t length);

#endif
