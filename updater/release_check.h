// The check of a signed release: its signature over the manifest's bytes,
// its serial against the last one this installation accepted, and its
// expiry. A launcher built with a release key accepts nothing else.
#ifndef TORVANE_UPDATER_RELEASE_CHECK_H
#define TORVANE_UPDATER_RELEASE_CHECK_H

#include <cstdint>

#include "support/bounded_string.h"
#include "support/sha256.h"
#include "updater/release_declarations.h"

enum ovu_release_verdict {
  OVU_RELEASE_ACCEPTED,
  OVU_RELEASE_SIGNATURE_MISSING,    // the signature file could not be fetched
  OVU_RELEASE_SIGNATURE_MALFORMED,  // it is not a signature file
  OVU_RELEASE_SIGNATURE_WRONG,      // it does not sign these manifest bytes with the release key
  OVU_RELEASE_NO_SERIAL,            // the signed manifest declares no serial
  OVU_RELEASE_ROLLBACK,             // its serial is below the last one accepted here
  OVU_RELEASE_EXPIRED,              // its expiry time has passed
};

// What a release check looks at.
struct ovu_release_evidence {
  const unsigned char *release_key;          // LAUNCHER_RELEASE_KEY_LEN bytes
  const unsigned char *manifest_digest;      // SHA-256 of the manifest file's bytes
  const ovu_release_declarations *declarations;
  int signature_fetched;                     // the signature file arrived
  const char *signature_text;                // its bytes
  int32_t signature_len;
  int has_accepted_serial;                   // this installation accepted a release before
  uint64_t accepted_serial;
  int64_t now;                               // seconds since 1970-01-01 00:00 UTC
};

// check_release decides whether the release may be installed.
ovu_release_verdict check_release(const ovu_release_evidence &evidence);

// describe_release_refusal puts the player's message for a refused release
// into |message|: what is wrong with the release at |manifest_path| (the
// request path of the manifest), ending with ", update refused.".
void describe_release_refusal(ovu_release_verdict verdict, const ovu_release_evidence &evidence,
                              const char *manifest_path, qarn_bounded_string_base &message);

#endif
