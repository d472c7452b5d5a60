// Release signing keys of torvane-publish. The key file holds the key pair
// as text, and only its owner may read it:
//
//   torvane-release-key ecdsa-p256
//   private <the scalar d, 64 hex digits>
//   public <the uncompressed point, 130 hex digits>
//
// The public key, the 130 hex digits, is what a launcher is built with
// (TORVANE_RELEASE_KEY).
#ifndef TORVANE_TOOLS_RELEASE_KEY_FILE_H
#define TORVANE_TOOLS_RELEASE_KEY_FILE_H

#include <string>

#include "platform/signature.h"
#include "support/sha256.h"

struct release_key_pair {
  unsigned char private_key[PLATFORM_P256_PRIVATE_KEY_LEN];
  unsigned char public_key[PLATFORM_P256_PUBLIC_KEY_LEN];
};

// make_release_key creates a new key pair in the file |path|, which must
// not exist, owner-only, and the public key beside it as |path| + ".pub"
// (the hex and a line end). Returns true with the public key's hex in
// |*public_hex|; false with the reason in |*why|.
bool make_release_key(const std::string &path, std::string *public_hex, std::string *why);

// read_release_key reads the key pair in the file |path|. Returns true, or
// false with the reason in |*why|.
bool read_release_key(const std::string &path, release_key_pair *pair, std::string *why);

// sign_manifest signs |digest|, the SHA-256 of the manifest |path| as it
// was written, with |pair| and writes the signature file |path| + ".sig" in
// one step. The file is never read back: whoever could replace it after it
// was written would otherwise have their own manifest signed. Returns true,
// or false with the reason in |*why|.
bool sign_manifest(const std::string &path, const unsigned char digest[QARN_SHA256_DIGEST_LEN],
                   const release_key_pair &pair, std::string *why);

#endif
