// The two steps of a release check, at their boundaries, and the player's
// message for each refusal.
#include "updater/release_check.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/signature.h"
#include "updater/release_signature.h"

namespace {

const int64_t EXPIRES = 1766000000;
const uint64_t SERIAL = 100;

ovu_release_declarations declared(uint64_t serial = SERIAL, bool expiry = true) {
  ovu_release_declarations declarations = {};
  declarations.sha256_tokens = 1;
  declarations.has_serial = 1;
  declarations.serial = serial;
  declarations.has_expiry = expiry ? 1 : 0;
  declarations.expires = expiry ? EXPIRES : 0;
  return declarations;
}

struct declarations_case {
  const char *what;
  ovu_release_declarations declarations;
  int has_accepted_serial;
  uint64_t accepted_serial;
  int64_t now;
  ovu_release_verdict verdict;
};

ovu_release_declarations without_serial() {
  ovu_release_declarations d = declared();
  d.has_serial = 0;
  d.serial = 0;
  return d;
}

ovu_release_declarations without_sha256() {
  ovu_release_declarations d = declared();
  d.sha256_tokens = 0;
  return d;
}

TEST(release_check_test, the_declarations_at_their_boundaries) {
  const declarations_case cases[] = {
      {"first release, well before expiry", declared(), 0, 0, EXPIRES - 86400, OVU_RELEASE_ACCEPTED},
      {"the second it expires", declared(), 0, 0, EXPIRES, OVU_RELEASE_ACCEPTED},
      {"one second later", declared(), 0, 0, EXPIRES + 1, OVU_RELEASE_EXPIRED},
      {"no expiry declared, far in the future", declared(SERIAL, false), 0, 0, INT64_MAX, OVU_RELEASE_ACCEPTED},
      {"the serial accepted before", declared(), 1, SERIAL, EXPIRES, OVU_RELEASE_ACCEPTED},
      {"a later serial", declared(SERIAL + 1), 1, SERIAL, EXPIRES, OVU_RELEASE_ACCEPTED},
      {"one below the serial accepted before", declared(SERIAL - 1), 1, SERIAL, EXPIRES, OVU_RELEASE_ROLLBACK},
      {"serial 0 after serial 1", declared(0), 1, 1, EXPIRES, OVU_RELEASE_ROLLBACK},
      {"serial 0, nothing accepted before", declared(0), 0, 0, EXPIRES, OVU_RELEASE_ACCEPTED},
      {"a rollback that has also expired", declared(SERIAL - 1), 1, SERIAL, EXPIRES + 1, OVU_RELEASE_ROLLBACK},
      {"no serial declared", without_serial(), 0, 0, EXPIRES, OVU_RELEASE_NO_SERIAL},
      {"no SHA-256 tokens declared", without_sha256(), 0, 0, EXPIRES, OVU_RELEASE_NO_SHA256},
      {"no SHA-256 tokens declared, serial accepted before", without_sha256(), 1, SERIAL, EXPIRES,
       OVU_RELEASE_NO_SHA256},
  };
  for (const declarations_case &c : cases) {
    ovu_release_evidence evidence = {};
    evidence.declarations = &c.declarations;
    evidence.has_accepted_serial = c.has_accepted_serial;
    evidence.accepted_serial = c.accepted_serial;
    evidence.now = c.now;
    EXPECT_EQ(check_release_declarations(evidence), c.verdict) << c.what;
  }
}

class release_signature_check_test : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(platform_p256_generate_key(private_key, public_key), 1);
    ASSERT_EQ(platform_p256_generate_key(other_private_key, other_public_key), 1);
    for (int i = 0; i < QARN_SHA256_DIGEST_LEN; i++) {
      digest[i] = static_cast<unsigned char>(i * 5 + 1);
    }
  }

  std::string signature_file(const unsigned char *key, const unsigned char *pub, const unsigned char *signed_digest) {
    unsigned char signature[OVU_SIGNATURE_LEN];
    EXPECT_EQ(platform_p256_sign_digest(key, pub, signed_digest, signature), 1);
    return format_release_signature(signature);
  }

  ovu_release_verdict check(const std::string &text, int fetched = 1) {
    ovu_release_evidence evidence = {};
    evidence.release_key = public_key;
    evidence.manifest_digest = digest;
    evidence.signature_fetched = fetched;
    evidence.signature_text = text.data();
    evidence.signature_len = static_cast<int32_t>(text.size());
    return check_release_signature(evidence);
  }

  unsigned char private_key[PLATFORM_P256_PRIVATE_KEY_LEN];
  unsigned char public_key[PLATFORM_P256_PUBLIC_KEY_LEN];
  unsigned char other_private_key[PLATFORM_P256_PRIVATE_KEY_LEN];
  unsigned char other_public_key[PLATFORM_P256_PUBLIC_KEY_LEN];
  unsigned char digest[QARN_SHA256_DIGEST_LEN];
};

TEST_F(release_signature_check_test, only_the_release_key_over_these_bytes_is_accepted) {
  unsigned char other_digest[QARN_SHA256_DIGEST_LEN];
  for (int i = 0; i < QARN_SHA256_DIGEST_LEN; i++) {
    other_digest[i] = digest[i];
  }
  other_digest[QARN_SHA256_DIGEST_LEN - 1] ^= 1;
  std::string good = signature_file(private_key, public_key, digest);
  EXPECT_EQ(check(good), OVU_RELEASE_ACCEPTED);
  EXPECT_EQ(check(good, 0), OVU_RELEASE_SIGNATURE_MISSING);
  EXPECT_EQ(check(good.substr(0, good.size() - 2)), OVU_RELEASE_SIGNATURE_MALFORMED);
  EXPECT_EQ(check(signature_file(private_key, public_key, other_digest)), OVU_RELEASE_SIGNATURE_WRONG);
  EXPECT_EQ(check(signature_file(other_private_key, other_public_key, digest)), OVU_RELEASE_SIGNATURE_WRONG);
}

TEST(release_refusal_test, tells_the_player_what_is_wrong) {
  ovu_release_declarations declarations = declared(150);
  ovu_release_evidence evidence = {};
  evidence.declarations = &declarations;
  evidence.accepted_serial = 200;
  const std::pair<ovu_release_verdict, std::string> cases[] = {
      {OVU_RELEASE_SIGNATURE_MISSING, "has no signature ('/r/m.z.sig' could not be fetched)"},
      {OVU_RELEASE_SIGNATURE_MALFORMED, "has a malformed signature file"},
      {OVU_RELEASE_SIGNATURE_WRONG, "does not match its signature"},
      {OVU_RELEASE_NO_SERIAL, "declares no release serial"},
      {OVU_RELEASE_NO_SHA256, "does not declare SHA-256 hash tokens"},
      {OVU_RELEASE_ROLLBACK, "is older than the installed release (serial 150 below 200)"},
      {OVU_RELEASE_EXPIRED, "expired at 2025-12-17 19:33:20 UTC"},
  };
  for (const auto &c : cases) {
    qarn_bounded_string message;
    describe_release_refusal(c.first, evidence, "/r/m.z", message);
    EXPECT_EQ(std::string(message.text()), "Release '/r/m.z' " + c.second + ", update refused.");
  }
}

}  // namespace
