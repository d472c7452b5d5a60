#include "platform/signature.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "tests/common/hex_bytes.h"

namespace {

// The order n of P-256's base point and its field prime p, big-endian.
const char P256_ORDER_HEX[] = "ffffffff00000000ffffffffffffffffbce6faada7179e84f3b9cac2fc632551";
const char P256_PRIME_HEX[] = "ffffffff00000001000000000000000000000000ffffffffffffffffffffffff";

constexpr size_t SCALAR_LEN = PLATFORM_P256_SIGNATURE_LEN / 2;
constexpr size_t COORDINATE_LEN = 32;
constexpr size_t X_OFFSET = 1;
constexpr size_t Y_OFFSET = X_OFFSET + COORDINATE_LEN;

struct key_pair {
  bytes private_key = bytes(PLATFORM_P256_PRIVATE_KEY_LEN);
  bytes public_key = bytes(PLATFORM_P256_PUBLIC_KEY_LEN);
};

key_pair generated_pair() {
  key_pair pair;
  EXPECT_EQ(platform_p256_generate_key(pair.private_key.data(), pair.public_key.data()), 1);
  return pair;
}

int sign(const key_pair &pair, const bytes &digest, bytes *signature) {
  signature->assign(PLATFORM_P256_SIGNATURE_LEN, 0);
  return platform_p256_sign_digest(pair.private_key.data(), pair.public_key.data(), digest.data(),
                                   signature->data());
}

int verify(const bytes &public_key, const bytes &digest, const bytes &signature) {
  return platform_p256_verify_digest(public_key.data(), digest.data(), signature.data());
}

bytes digest_of_index(int index) {
  bytes digest(PLATFORM_P256_DIGEST_LEN);
  for (size_t i = 0; i < digest.size(); i++) {
    digest[i] = static_cast<unsigned char>(index * 31 + i * 7);
  }
  return digest;
}

// p - y: the other point with the same X, which is on the curve but is not
// the signer's key.
bytes negated_coordinate(const bytes &y) {
  bytes prime = from_hex(P256_PRIME_HEX);
  bytes out(COORDINATE_LEN);
  int borrow = 0;
  for (size_t i = COORDINATE_LEN; i-- > 0;) {
    int difference = prime[i] - y[i] - borrow;
    borrow = difference < 0 ? 1 : 0;
    out[i] = static_cast<unsigned char>(difference + 256 * borrow);
  }
  return out;
}

TEST(signature_test, SignedDigestVerifiesUnderItsPublicKey) {
  key_pair pair = generated_pair();
  EXPECT_EQ(pair.public_key[0], PLATFORM_P256_UNCOMPRESSED_POINT);
  for (int i = 0; i < 4; i++) {
    bytes digest = digest_of_index(i);
    bytes signature;
    ASSERT_EQ(sign(pair, digest, &signature), 1) << "digest " << i;
    EXPECT_EQ(verify(pair.public_key, digest, signature), 1) << "digest " << i;
  }
}

TEST(signature_test, GeneratedKeysDiffer) {
  key_pair first = generated_pair();
  key_pair second = generated_pair();
  EXPECT_NE(to_hex(first.private_key), to_hex(second.private_key));
  EXPECT_NE(to_hex(first.public_key), to_hex(second.public_key));
  EXPECT_NE(to_hex(first.private_key), std::string(2 * PLATFORM_P256_PRIVATE_KEY_LEN, '0'));
}

// ECDSA draws a fresh nonce for every signature: two signatures of one
// digest differ, and both verify.
TEST(signature_test, SignaturesAreRandomisedAndEachVerifies) {
  key_pair pair = generated_pair();
  bytes digest = digest_of_index(1);
  bytes first;
  bytes second;
  ASSERT_EQ(sign(pair, digest, &first), 1);
  ASSERT_EQ(sign(pair, digest, &second), 1);
  EXPECT_NE(to_hex(first), to_hex(second));
  EXPECT_EQ(verify(pair.public_key, digest, first), 1);
  EXPECT_EQ(verify(pair.public_key, digest, second), 1);
}

// Each case spoils one part of a good (public key, digest, signature) and
// expects verification to refuse it.
struct refusal_case {
  const char *name;
  void (*spoil)(bytes *public_key, bytes *digest, bytes *signature);
};

void PrintTo(const refusal_case &c, std::ostream *out) { *out << c.name; }

void set_scalar(bytes *signature, size_t offset, const std::string &hex) {
  bytes value = from_hex(hex);
  std::copy(value.begin(), value.end(), signature->begin() + static_cast<std::ptrdiff_t>(offset));
}

const refusal_case REFUSALS[] = {
    {"another_digest", [](bytes *, bytes *d, bytes *) { (*d)[0] ^= 0x01; }},
    {"digest_last_bit", [](bytes *, bytes *d, bytes *) { (*d)[31] ^= 0x80; }},
    {"r_zero", [](bytes *, bytes *, bytes *s) { set_scalar(s, 0, std::string(64, '0')); }},
    {"s_zero",
     [](bytes *, bytes *, bytes *s) { set_scalar(s, SCALAR_LEN, std::string(64, '0')); }},
    {"r_is_the_order", [](bytes *, bytes *, bytes *s) { set_scalar(s, 0, P256_ORDER_HEX); }},
    {"s_is_the_order",
     [](bytes *, bytes *, bytes *s) { set_scalar(s, SCALAR_LEN, P256_ORDER_HEX); }},
    {"r_above_the_order",
     [](bytes *, bytes *, bytes *s) { set_scalar(s, 0, std::string(64, 'f')); }},
    {"s_above_the_order",
     [](bytes *, bytes *, bytes *s) { set_scalar(s, SCALAR_LEN, std::string(64, 'f')); }},
    {"r_and_s_swapped",
     [](bytes *, bytes *, bytes *s) {
       bytes swapped(s->begin() + SCALAR_LEN, s->end());
       swapped.insert(swapped.end(), s->begin(), s->begin() + SCALAR_LEN);
       *s = swapped;
     }},
    {"key_not_on_the_curve", [](bytes *k, bytes *, bytes *) { (*k)[64] ^= 0x01; }},
    {"key_x_changed", [](bytes *k, bytes *, bytes *) { (*k)[X_OFFSET] ^= 0x40; }},
    {"key_at_zero",
     [](bytes *k, bytes *, bytes *) { std::fill(k->begin() + X_OFFSET, k->end(), 0); }},
    {"key_x_is_the_prime",
     [](bytes *k, bytes *, bytes *) {
       bytes prime = from_hex(P256_PRIME_HEX);
       std::copy(prime.begin(), prime.end(), k->begin() + X_OFFSET);
     }},
    {"key_negated_point_on_the_curve",
     [](bytes *k, bytes *, bytes *) {
       bytes y(k->begin() + Y_OFFSET, k->end());
       bytes minus_y = negated_coordinate(y);
       std::copy(minus_y.begin(), minus_y.end(), k->begin() + Y_OFFSET);
     }},
    {"key_first_byte_00", [](bytes *k, bytes *, bytes *) { (*k)[0] = 0x00; }},
    {"key_first_byte_02", [](bytes *k, bytes *, bytes *) { (*k)[0] = 0x02; }},
    {"key_first_byte_03", [](bytes *k, bytes *, bytes *) { (*k)[0] = 0x03; }},
    {"key_first_byte_06", [](bytes *k, bytes *, bytes *) { (*k)[0] = 0x06; }},
    {"key_first_byte_07", [](bytes *k, bytes *, bytes *) { (*k)[0] = 0x07; }},
};

class signature_refusal_test : public testing::TestWithParam<refusal_case> {};

TEST_P(signature_refusal_test, IsRefused) {
  key_pair pair = generated_pair();
  bytes digest = digest_of_index(2);
  bytes signature;
  ASSERT_EQ(sign(pair, digest, &signature), 1);
  ASSERT_EQ(verify(pair.public_key, digest, signature), 1) << "the unspoilt signature";
  bytes public_key = pair.public_key;
  GetParam().spoil(&public_key, &digest, &signature);
  EXPECT_EQ(verify(public_key, digest, signature), 0);
}

INSTANTIATE_TEST_SUITE_P(spoilt, signature_refusal_test, testing::ValuesIn(REFUSALS),
                         [](const testing::TestParamInfo<refusal_case> &info) {
                           return std::string(info.param.name);
                         });

TEST(signature_test, EveryChangedSignatureByteIsRefused) {
  key_pair pair = generated_pair();
  bytes digest = digest_of_index(3);
  bytes signature;
  ASSERT_EQ(sign(pair, digest, &signature), 1);
  for (size_t i = 0; i < signature.size(); i++) {
    bytes changed = signature;
    changed[i] ^= static_cast<unsigned char>(1u << (i % 8));
    EXPECT_EQ(verify(pair.public_key, digest, changed), 0) << "byte " << i;
  }
}

TEST(signature_test, SignatureOfAnotherKeyIsRefused) {
  key_pair signer = generated_pair();
  key_pair other = generated_pair();
  bytes digest = digest_of_index(4);
  bytes signature;
  ASSERT_EQ(sign(other, digest, &signature), 1);
  EXPECT_EQ(verify(signer.public_key, digest, signature), 0);
  EXPECT_EQ(verify(other.public_key, digest, signature), 1);
}

// Signing needs a true pair: the public key must be the private key's point.
TEST(signature_test, SigningRefusesAKeyThatIsNotAPair) {
  key_pair pair = generated_pair();
  key_pair other = generated_pair();
  bytes digest = digest_of_index(5);
  bytes signature;

  key_pair mixed = pair;
  mixed.public_key = other.public_key;
  EXPECT_EQ(sign(mixed, digest, &signature), 0) << "another pair's public key";

  key_pair zero = pair;
  std::fill(zero.private_key.begin(), zero.private_key.end(), 0);
  EXPECT_EQ(sign(zero, digest, &signature), 0) << "private key zero";

  key_pair order = pair;
  order.private_key = from_hex(P256_ORDER_HEX);
  EXPECT_EQ(sign(order, digest, &signature), 0) << "private key at the order";

  key_pair off_curve = pair;
  off_curve.public_key[64] ^= 0x01;
  EXPECT_EQ(sign(off_curve, digest, &signature), 0) << "public key not on the curve";

  key_pair compressed = pair;
  compressed.public_key[0] = 0x02;
  EXPECT_EQ(sign(compressed, digest, &signature), 0) << "public key not 0x04";

  EXPECT_EQ(sign(pair, digest, &signature), 1) << "the true pair";
}

// Fixed vectors, checked on every build: keys and signatures made by
// BoringSSL on Linux and by CNG under Wine verify on both, so a signature
// that the publishing tool makes on either system is one the launcher on
// the other accepts.
//
// The digest is SHA-256 of "Torvane release manifest, fixed signature vector".
const char FIXED_DIGEST[] = "e5e2a4cefacedd7f9f48be72d8845519955a2399de049fdeee788676079897db";

struct fixed_key {
  const char *made_by;
  const char *private_key;
  const char *public_key;
};

const fixed_key FIXED_KEYS[] = {
    {"BoringSSL on Linux", "d76acc69a4a9f839a413cd81d21e0455e1fe7a8712c7e369a97d9069daa9eb2f",
     "04d751698ca7242097edc3ab08ce6bcd2322e001200e1bbb7996385b789253909b"
     "6f5f6b7c9bace44c6aa4ea47261351c853f53214cbcce3d85dbea284907b542c"},
    {"CNG under Wine", "e8f5a739fa09d5151cbe81816265e8dbf9012183f1c3a71aa1aa23796dca6e8b",
     "0408f149ee4608cfa634c31da80e6ddbef1f457875bd31835d3a96d136161fcc71"
     "c13a3ec5368626151b46ba6e13690e25d3834ba576448ea4947f118c7b4f03b6"},
};

struct fixed_signature {
  const char *name;
  int key;  // index into FIXED_KEYS
  const char *signature;
};

void PrintTo(const fixed_signature &c, std::ostream *out) { *out << c.name; }

const fixed_signature FIXED_SIGNATURES[] = {
    {"boringssl_key_boringssl_signature", 0,
     "5d1fa0a1e744832c4e1700a3d91045c3092baf9e8a42d52b77b0630e547e9fa0"
     "38302990242bff3746729827c4252335eaadf9cb98a9fdd8ab83b991132c3924"},
    {"boringssl_key_cng_signature", 0,
     "5cc5568d46c8ae870544c0c35b9427e2010b3ba3b2138927e5440cb5bca6c220"
     "c09ba62192a8d505f75ae9fdd1e848447f2854101c4b57c4b0c79d5933768cc2"},
    {"cng_key_cng_signature", 1,
     "68d267ee028d925fd4d1e6569dd043d15fedf5889e9abec686791ab0be5a5928"
     "5507b50b5e0c9639ebeec611ad3ae907c4f51ba2f55c2eeade6e7f6fef750d35"},
};

class fixed_signature_test : public testing::TestWithParam<fixed_signature> {};

TEST_P(fixed_signature_test, VerifiesHereAndOnlyForItsDigestAndKey) {
  const fixed_signature &c = GetParam();
  bytes public_key = from_hex(FIXED_KEYS[c.key].public_key);
  bytes other_key = from_hex(FIXED_KEYS[1 - c.key].public_key);
  bytes digest = from_hex(FIXED_DIGEST);
  bytes signature = from_hex(c.signature);
  ASSERT_EQ(public_key.size(), static_cast<size_t>(PLATFORM_P256_PUBLIC_KEY_LEN));
  ASSERT_EQ(signature.size(), static_cast<size_t>(PLATFORM_P256_SIGNATURE_LEN));
  EXPECT_EQ(verify(public_key, digest, signature), 1);
  EXPECT_EQ(verify(other_key, digest, signature), 0) << "under the other fixed key";
  digest[PLATFORM_P256_DIGEST_LEN - 1] ^= 0x01;
  EXPECT_EQ(verify(public_key, digest, signature), 0) << "for another digest";
}

INSTANTIATE_TEST_SUITE_P(cross_platform, fixed_signature_test,
                         testing::ValuesIn(FIXED_SIGNATURES),
                         [](const testing::TestParamInfo<fixed_signature> &info) {
                           return std::string(info.param.name);
                         });

// Each fixed key pair, whichever system made it, signs here, and the result
// verifies: both systems write keys in the same layout.
TEST(signature_test, FixedKeyPairsSignHere) {
  bytes digest = from_hex(FIXED_DIGEST);
  for (const fixed_key &k : FIXED_KEYS) {
    key_pair pair;
    pair.private_key = from_hex(k.private_key);
    pair.public_key = from_hex(k.public_key);
    bytes signature;
    ASSERT_EQ(sign(pair, digest, &signature), 1) << k.made_by;
    EXPECT_EQ(verify(pair.public_key, digest, signature), 1) << k.made_by;
  }
}

}  // namespace
