// ECDSA signatures over the NIST P-256 curve with SHA-256 digests: release
// signing keys, signing and checking. The POSIX build uses BoringSSL, the
// Windows build the system's CNG (bcrypt.dll); both read and write the same
// byte layouts below and give the same results, so a signature made on one
// verifies on the other. ECDSA signatures are randomised: the same key and
// digest give a different valid signature each time.
#ifndef TORVANE_PLATFORM_SIGNATURE_H
#define TORVANE_PLATFORM_SIGNATURE_H

#include <cstdint>

constexpr int32_t PLATFORM_P256_PRIVATE_KEY_LEN = 32;  // the scalar d, big-endian
constexpr int32_t PLATFORM_P256_PUBLIC_KEY_LEN = 65;   // 0x04, X, Y: the uncompressed point
constexpr int32_t PLATFORM_P256_SIGNATURE_LEN = 64;    // r then s, 32 bytes each, big-endian
constexpr int32_t PLATFORM_P256_DIGEST_LEN = 32;       // a SHA-256 digest

// The first byte of an uncompressed point, the only form taken.
constexpr unsigned char PLATFORM_P256_UNCOMPRESSED_POINT = 0x04;

// platform_p256_generate_key makes a new key pair from the system's random
// source. Returns 1, or 0 (then nothing usable is in either buffer).
int platform_p256_generate_key(unsigned char private_key[PLATFORM_P256_PRIVATE_KEY_LEN],
                               unsigned char public_key[PLATFORM_P256_PUBLIC_KEY_LEN]);

// platform_p256_sign_digest signs |digest| with the key pair |private_key|
// and |public_key|. Returns 1, or 0, also for a key that is not a valid
// pair (a public key that is not the private key's point included).
int platform_p256_sign_digest(const unsigned char private_key[PLATFORM_P256_PRIVATE_KEY_LEN],
                              const unsigned char public_key[PLATFORM_P256_PUBLIC_KEY_LEN],
                              const unsigned char digest[PLATFORM_P256_DIGEST_LEN],
                              unsigned char signature[PLATFORM_P256_SIGNATURE_LEN]);

// platform_p256_verify_digest returns 1 when |signature| is a valid
// signature of |digest| under |public_key|; 0 otherwise, also for a
// malformed public key or signature (a first byte other than 0x04, a point
// not on the curve, r or s zero or not below the order of the curve).
int platform_p256_verify_digest(const unsigned char public_key[PLATFORM_P256_PUBLIC_KEY_LEN],
                                const unsigned char digest[PLATFORM_P256_DIGEST_LEN],
                                const unsigned char signature[PLATFORM_P256_SIGNATURE_LEN]);

#endif
