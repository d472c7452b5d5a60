// ECDSA P-256 signatures with BoringSSL.
#include "platform/signature.h"

// The library's headers trip warnings that are not ours to fix.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wignored-qualifiers"
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/ec_key.h>
#include <openssl/ecdsa.h>
#include <openssl/err.h>
#include <openssl/mem.h>
#include <openssl/nid.h>
#pragma GCC diagnostic pop

#include <memory>

namespace {

constexpr int P256_CURVE = NID_X9_62_prime256v1;
constexpr size_t SCALAR_LEN = PLATFORM_P256_SIGNATURE_LEN / 2;  // r and s, each

static_assert(PLATFORM_P256_PRIVATE_KEY_LEN == SCALAR_LEN, "d is as wide as r and s");

// The private scalar is cleared before its memory goes back.
struct secret_bignum_free {
  void operator()(BIGNUM *bignum) const { BN_clear_free(bignum); }
};
typedef std::unique_ptr<BIGNUM, secret_bignum_free> secret_bignum;

// A failed call leaves its reasons on the thread's error queue, where the
// TLS layer would find and report them as its own: drop them.
int finish(int result) {
  ERR_clear_error();
  return result;
}

// key_with_public_point returns a P-256 key holding the point |public_key|,
// or null when the bytes are not an uncompressed point on the curve.
bssl::UniquePtr<EC_KEY> key_with_public_point(
    const unsigned char public_key[PLATFORM_P256_PUBLIC_KEY_LEN]) {
  // BoringSSL would also take other encodings of a point; the format has
  // exactly one.
  if (public_key[0] != PLATFORM_P256_UNCOMPRESSED_POINT) {
    return nullptr;
  }
  bssl::UniquePtr<EC_KEY> key(EC_KEY_new_by_curve_name(P256_CURVE));
  if (!key) {
    return nullptr;
  }
  const EC_GROUP *group = EC_KEY_get0_group(key.get());
  bssl::UniquePtr<EC_POINT> point(EC_POINT_new(group));
  // oct2point refuses coordinates that are not field elements and points
  // that are not on the curve.
  if (!point ||
      !EC_POINT_oct2point(group, point.get(), public_key, PLATFORM_P256_PUBLIC_KEY_LEN, nullptr) ||
      !EC_KEY_set_public_key(key.get(), point.get())) {
    return nullptr;
  }
  return key;
}

}  // namespace

int platform_p256_generate_key(unsigned char private_key[PLATFORM_P256_PRIVATE_KEY_LEN],
                               unsigned char public_key[PLATFORM_P256_PUBLIC_KEY_LEN]) {
  bssl::UniquePtr<EC_KEY> key(EC_KEY_new_by_curve_name(P256_CURVE));
  if (!key || !EC_KEY_generate_key(key.get())) {
    return finish(0);
  }
  const EC_GROUP *group = EC_KEY_get0_group(key.get());
  if (!BN_bn2bin_padded(private_key, PLATFORM_P256_PRIVATE_KEY_LEN,
                        EC_KEY_get0_private_key(key.get())) ||
      EC_POINT_point2oct(group, EC_KEY_get0_public_key(key.get()), POINT_CONVERSION_UNCOMPRESSED,
                         public_key, PLATFORM_P256_PUBLIC_KEY_LEN,
                         nullptr) != PLATFORM_P256_PUBLIC_KEY_LEN) {
    OPENSSL_cleanse(private_key, PLATFORM_P256_PRIVATE_KEY_LEN);
    return finish(0);
  }
  return finish(1);
}

int platform_p256_sign_digest(const unsigned char private_key[PLATFORM_P256_PRIVATE_KEY_LEN],
                              const unsigned char public_key[PLATFORM_P256_PUBLIC_KEY_LEN],
                              const unsigned char digest[PLATFORM_P256_DIGEST_LEN],
                              unsigned char signature[PLATFORM_P256_SIGNATURE_LEN]) {
  bssl::UniquePtr<EC_KEY> key = key_with_public_point(public_key);
  if (!key) {
    return finish(0);
  }
  secret_bignum scalar(BN_bin2bn(private_key, PLATFORM_P256_PRIVATE_KEY_LEN, nullptr));
  // check_key refuses a scalar of zero or not below the order, and a
  // public point that is not the scalar's multiple of the generator.
  if (!scalar || !EC_KEY_set_private_key(key.get(), scalar.get()) ||
      !EC_KEY_check_key(key.get())) {
    return finish(0);
  }
  bssl::UniquePtr<ECDSA_SIG> made(ECDSA_do_sign(digest, PLATFORM_P256_DIGEST_LEN, key.get()));
  if (!made) {
    return finish(0);
  }
  const BIGNUM *r = nullptr;
  const BIGNUM *s = nullptr;
  ECDSA_SIG_get0(made.get(), &r, &s);
  if (!BN_bn2bin_padded(signature, SCALAR_LEN, r) ||
      !BN_bn2bin_padded(signature + SCALAR_LEN, SCALAR_LEN, s)) {
    return finish(0);
  }
  return finish(1);
}

int platform_p256_verify_digest(const unsigned char public_key[PLATFORM_P256_PUBLIC_KEY_LEN],
                                const unsigned char digest[PLATFORM_P256_DIGEST_LEN],
                                const unsigned char signature[PLATFORM_P256_SIGNATURE_LEN]) {
  bssl::UniquePtr<EC_KEY> key = key_with_public_point(public_key);
  if (!key) {
    return finish(0);
  }
  bssl::UniquePtr<ECDSA_SIG> parsed(ECDSA_SIG_new());
  BIGNUM *r = BN_bin2bn(signature, SCALAR_LEN, nullptr);
  BIGNUM *s = BN_bin2bn(signature + SCALAR_LEN, SCALAR_LEN, nullptr);
  if (!parsed || r == nullptr || s == nullptr || !ECDSA_SIG_set0(parsed.get(), r, s)) {
    BN_free(r);
    BN_free(s);
    return finish(0);
  }
  // do_verify refuses r or s of zero or not below the order itself.
  return finish(ECDSA_do_verify(digest, PLATFORM_P256_DIGEST_LEN, parsed.get(), key.get()) == 1
                    ? 1
                    : 0);
}
