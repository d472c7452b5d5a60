// ECDSA P-256 signatures with the system's CNG (bcrypt.dll). Keys travel in
// and out of CNG as its ECC key blobs: a BCRYPT_ECCKEY_BLOB header, then X
// and Y, then for a private key d, each 32 bytes big-endian.
#include "platform/signature.h"

#include <windows.h>

#include <bcrypt.h>

#include <cstring>

namespace {

constexpr ULONG P256_KEY_BITS = 256;
constexpr ULONG COORDINATE_LEN = 32;
constexpr ULONG PUBLIC_BLOB_LEN = sizeof(BCRYPT_ECCKEY_BLOB) + 2 * COORDINATE_LEN;
constexpr ULONG PRIVATE_BLOB_LEN = PUBLIC_BLOB_LEN + COORDINATE_LEN;
constexpr size_t SCALAR_LEN = PLATFORM_P256_SIGNATURE_LEN / 2;  // r and s, each
constexpr NTSTATUS STATUS_OK = 0;  // STATUS_SUCCESS, from a header MinGW keeps apart

static_assert(PLATFORM_P256_PUBLIC_KEY_LEN == 1 + 2 * COORDINATE_LEN, "0x04, X, Y");
static_assert(PLATFORM_P256_PRIVATE_KEY_LEN == COORDINATE_LEN, "d is as wide as X");
static_assert(SCALAR_LEN == COORDINATE_LEN, "r and s are as wide as X");

// The order n of the curve's base point, big-endian. r, s and d must lie in
// 1 .. n-1. CNG's own checks of them are not documented, and Wine's differ
// from Windows', so they are checked here, for the same results as
// BoringSSL gives.
constexpr unsigned char P256_ORDER[SCALAR_LEN] = {
    0xff, 0xff, 0xff, 0xff, 0x00, 0x00, 0x00, 0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
    0xbc, 0xe6, 0xfa, 0xad, 0xa7, 0x17, 0x9e, 0x84, 0xf3, 0xb9, 0xca, 0xc2, 0xfc, 0x63, 0x25, 0x51,
};

bool scalar_in_range(const unsigned char scalar[SCALAR_LEN]) {
  bool zero = true;
  for (size_t i = 0; i < SCALAR_LEN; i++) {
    zero = zero && scalar[i] == 0;
  }
  return !zero && std::memcmp(scalar, P256_ORDER, SCALAR_LEN) < 0;
}

// One open algorithm provider, closed when it goes out of scope.
class ecdsa_provider {
 public:
  ecdsa_provider() {
    if (BCryptOpenAlgorithmProvider(&handle_, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) !=
        STATUS_OK) {
      handle_ = nullptr;
    }
  }
  ~ecdsa_provider() {
    if (handle_ != nullptr) {
      BCryptCloseAlgorithmProvider(handle_, 0);
    }
  }
  ecdsa_provider(const ecdsa_provider &) = delete;
  ecdsa_provider &operator=(const ecdsa_provider &) = delete;
  BCRYPT_ALG_HANDLE handle() const { return handle_; }

 private:
  BCRYPT_ALG_HANDLE handle_ = nullptr;
};

// One key object, destroyed when it goes out of scope.
class ecdsa_key {
 public:
  ecdsa_key() = default;
  ~ecdsa_key() {
    if (handle_ != nullptr) {
      BCryptDestroyKey(handle_);
    }
  }
  ecdsa_key(const ecdsa_key &) = delete;
  ecdsa_key &operator=(const ecdsa_key &) = delete;
  BCRYPT_KEY_HANDLE *out() { return &handle_; }
  BCRYPT_KEY_HANDLE handle() const { return handle_; }

 private:
  BCRYPT_KEY_HANDLE handle_ = nullptr;
};

// Blob headers and coordinates in the layout CNG reads and writes.
void write_blob_header(unsigned char *blob, ULONG magic) {
  BCRYPT_ECCKEY_BLOB header;
  header.dwMagic = magic;
  header.cbKey = COORDINATE_LEN;
  std::memcpy(blob, &header, sizeof(header));
}

bool blob_header_is(const unsigned char *blob, ULONG magic) {
  BCRYPT_ECCKEY_BLOB header;
  std::memcpy(&header, blob, sizeof(header));
  return header.dwMagic == magic && header.cbKey == COORDINATE_LEN;
}

// import_public_key loads |public_key| into |key|. CNG refuses a point
// that is not on the curve; the encoding byte is ours to check.
bool import_public_key(const ecdsa_provider &provider,
                       const unsigned char public_key[PLATFORM_P256_PUBLIC_KEY_LEN],
                       ecdsa_key *key) {
  if (public_key[0] != PLATFORM_P256_UNCOMPRESSED_POINT) {
    return false;
  }
  unsigned char blob[PUBLIC_BLOB_LEN];
  write_blob_header(blob, BCRYPT_ECDSA_PUBLIC_P256_MAGIC);
  std::memcpy(blob + sizeof(BCRYPT_ECCKEY_BLOB), public_key + 1, 2 * COORDINATE_LEN);
  return BCryptImportKeyPair(provider.handle(), nullptr, BCRYPT_ECCPUBLIC_BLOB, key->out(), blob,
                             PUBLIC_BLOB_LEN, 0) == STATUS_OK;
}

bool import_private_key(const ecdsa_provider &provider,
                        const unsigned char private_key[PLATFORM_P256_PRIVATE_KEY_LEN],
                        const unsigned char public_key[PLATFORM_P256_PUBLIC_KEY_LEN],
                        ecdsa_key *key) {
  if (public_key[0] != PLATFORM_P256_UNCOMPRESSED_POINT || !scalar_in_range(private_key)) {
    return false;
  }
  unsigned char blob[PRIVATE_BLOB_LEN];
  write_blob_header(blob, BCRYPT_ECDSA_PRIVATE_P256_MAGIC);
  std::memcpy(blob + sizeof(BCRYPT_ECCKEY_BLOB), public_key + 1, 2 * COORDINATE_LEN);
  std::memcpy(blob + PUBLIC_BLOB_LEN, private_key, COORDINATE_LEN);
  bool imported = BCryptImportKeyPair(provider.handle(), nullptr, BCRYPT_ECCPRIVATE_BLOB,
                                      key->out(), blob, PRIVATE_BLOB_LEN, 0) == STATUS_OK;
  SecureZeroMemory(blob, sizeof(blob));
  return imported;
}

bool verify_with_key(const ecdsa_key &key, const unsigned char digest[PLATFORM_P256_DIGEST_LEN],
                     const unsigned char signature[PLATFORM_P256_SIGNATURE_LEN]) {
  if (!scalar_in_range(signature) || !scalar_in_range(signature + SCALAR_LEN)) {
    return false;
  }
  // CNG takes the digest and signature through non-const pointers but only
  // reads them.
  return BCryptVerifySignature(key.handle(), nullptr, const_cast<PUCHAR>(digest),
                               PLATFORM_P256_DIGEST_LEN, const_cast<PUCHAR>(signature),
                               PLATFORM_P256_SIGNATURE_LEN, 0) == STATUS_OK;
}

}  // namespace

int platform_p256_generate_key(unsigned char private_key[PLATFORM_P256_PRIVATE_KEY_LEN],
                               unsigned char public_key[PLATFORM_P256_PUBLIC_KEY_LEN]) {
  ecdsa_provider provider;
  ecdsa_key key;
  if (provider.handle() == nullptr ||
      BCryptGenerateKeyPair(provider.handle(), key.out(), P256_KEY_BITS, 0) != STATUS_OK ||
      BCryptFinalizeKeyPair(key.handle(), 0) != STATUS_OK) {
    return 0;
  }
  unsigned char blob[PRIVATE_BLOB_LEN];
  ULONG written = 0;
  bool exported = BCryptExportKey(key.handle(), nullptr, BCRYPT_ECCPRIVATE_BLOB, blob,
                                  PRIVATE_BLOB_LEN, &written, 0) == STATUS_OK &&
                  written == PRIVATE_BLOB_LEN &&
                  blob_header_is(blob, BCRYPT_ECDSA_PRIVATE_P256_MAGIC);
  if (exported) {
    public_key[0] = PLATFORM_P256_UNCOMPRESSED_POINT;
    std::memcpy(public_key + 1, blob + sizeof(BCRYPT_ECCKEY_BLOB), 2 * COORDINATE_LEN);
    std::memcpy(private_key, blob + PUBLIC_BLOB_LEN, COORDINATE_LEN);
  }
  SecureZeroMemory(blob, sizeof(blob));
  return exported ? 1 : 0;
}

int platform_p256_sign_digest(const unsigned char private_key[PLATFORM_P256_PRIVATE_KEY_LEN],
                              const unsigned char public_key[PLATFORM_P256_PUBLIC_KEY_LEN],
                              const unsigned char digest[PLATFORM_P256_DIGEST_LEN],
                              unsigned char signature[PLATFORM_P256_SIGNATURE_LEN]) {
  ecdsa_provider provider;
  ecdsa_key signing_key;
  ecdsa_key public_only;
  if (provider.handle() == nullptr ||
      !import_private_key(provider, private_key, public_key, &signing_key) ||
      !import_public_key(provider, public_key, &public_only)) {
    return 0;
  }
  unsigned char made[PLATFORM_P256_SIGNATURE_LEN];
  ULONG written = 0;
  if (BCryptSignHash(signing_key.handle(), nullptr, const_cast<PUCHAR>(digest),
                     PLATFORM_P256_DIGEST_LEN, made, PLATFORM_P256_SIGNATURE_LEN, &written,
                     0) != STATUS_OK ||
      written != PLATFORM_P256_SIGNATURE_LEN) {
    return 0;
  }
  // CNG signs with d alone and need not check that the public half of the
  // blob belongs to it; a signature that the public key does not verify
  // shows a key that is not a pair.
  if (!verify_with_key(public_only, digest, made)) {
    return 0;
  }
  std::memcpy(signature, made, PLATFORM_P256_SIGNATURE_LEN);
  return 1;
}

int platform_p256_verify_digest(const unsigned char public_key[PLATFORM_P256_PUBLIC_KEY_LEN],
                                const unsigned char digest[PLATFORM_P256_DIGEST_LEN],
                                const unsigned char signature[PLATFORM_P256_SIGNATURE_LEN]) {
  ecdsa_provider provider;
  ecdsa_key key;
  if (provider.handle() == nullptr || !import_public_key(provider, public_key, &key)) {
    return 0;
  }
  return verify_with_key(key, digest, signature) ? 1 : 0;
}
