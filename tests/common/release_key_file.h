// The tests' release key file: a "private" and a "public" word, each
// followed by its key in hex, as the test key pair is stored.
#ifndef TORVANE_TESTS_COMMON_RELEASE_KEY_FILE_H
#define TORVANE_TESTS_COMMON_RELEASE_KEY_FILE_H

#include <fstream>
#include <string>

#include "platform/signature.h"
#include "support/hex_text.h"

// read_release_key_file fills both keys from the file at |path|. Returns
// true when both were there and well-formed.
inline bool read_release_key_file(const char *path, unsigned char private_key[PLATFORM_P256_PRIVATE_KEY_LEN],
                                  unsigned char public_key[PLATFORM_P256_PUBLIC_KEY_LEN]) {
  std::ifstream file(path);
  std::string word;
  std::string hex;
  bool has_private = false;
  bool has_public = false;
  while (file >> word) {
    if (word == "private" && file >> hex) {
      has_private = qarn_hex_decode(hex.c_str(), PLATFORM_P256_PRIVATE_KEY_LEN, private_key) == 1;
    } else if (word == "public" && file >> hex) {
      has_public = qarn_hex_decode(hex.c_str(), PLATFORM_P256_PUBLIC_KEY_LEN, public_key) == 1;
    }
  }
  return has_private && has_public;
}

#endif
