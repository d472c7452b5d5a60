// Test helper: signs a hand-made manifest with a release key file, the way
// a publisher signs one: MANIFEST.sig beside it, the signature of the
// SHA-256 of MANIFEST's bytes.
//
// Usage: manifest_signer KEYFILE MANIFEST
// Exit code: 0 when the signature file was written, else 1.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/signature.h"
#include "support/hex_text.h"
#include "support/sha256.h"
#include "tests/common/release_key_file.h"
#include "updater/release_signature.h"

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: manifest_signer KEYFILE MANIFEST\n");
    return 1;
  }
  unsigned char private_key[PLATFORM_P256_PRIVATE_KEY_LEN];
  unsigned char public_key[PLATFORM_P256_PUBLIC_KEY_LEN];
  if (!read_release_key_file(argv[1], private_key, public_key)) {
    std::fprintf(stderr, "manifest_signer: cannot read the key file %s\n", argv[1]);
    return 1;
  }
  std::ifstream manifest(argv[2], std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(manifest)), std::istreambuf_iterator<char>());
  unsigned char digest[QARN_SHA256_DIGEST_LEN];
  qarn_sha256_context context;
  qarn_sha256_init(&context);
  qarn_sha256_update(&context, bytes.data(), bytes.size());
  qarn_sha256_final(&context, digest);
  unsigned char signature[OVU_SIGNATURE_LEN];
  if (!manifest || !platform_p256_sign_digest(private_key, public_key, digest, signature)) {
    std::fprintf(stderr, "manifest_signer: cannot sign %s\n", argv[2]);
    return 1;
  }
  std::string text = format_release_signature(signature);
  std::ofstream out(std::string(argv[2]) + OVU_SIGNATURE_SUFFIX, std::ios::binary);
  out << text;
  out.close();
  return out ? 0 : 1;
}
