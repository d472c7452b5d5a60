// The check of a signed release, in two steps: its signature over the
// manifest's bytes, before any of its text is parsed; then, from the
// parsed text that the signature vouches for, its declarations: SHA-256
// hash tokens (a signed release always means verified files), a serial not
// below the last one this installation accepted, and its expiry. A
// launcher built with a release key accepts nothing else.
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
  OVU_RELEASE_NO_SHA256,            // it does not declare SHA-256 hash tokens
  OVU_RELEASE_ROLLBACK,             // its serial is below the last one accepted here
  OVU_RELEASE_EXPIRED,              // its expiry time has passed
};

// What a release check looks at.
struct ovu_release_evidence {
  // For check_release_signature:
  const unsigned char *release_key;          // LAUNCHER_RELEASE_KEY_LEN bytes
  const unsigned char *manifest_digest;      // SHA-256 of the manifest file's bytes
  int signature_fetched;                     // the signature file arrived
  const char *signature_text;                // its bytes
  int32_t signature_len;
  // For check_release_declarations:
  const ovu_release_declarations *declarations;
  int has_accepted_serial;                   // this installation accepted a release before
  uint64_t accepted_serial;
  int64_t now;                               // seconds since 1970-01-01 00:00 UTC
};

// check_release_signature decides whether the manifest's bytes are signed
// with the release key: OVU_RELEASE_ACCEPTED, or the signature verdict.
ovu_release_verdict check_release_signature(const ovu_release_evidence &evidence);

// check_release_declarations decides whether a release whose signature was
// accepted may be installed: OVU_RELEASE_ACCEPTED, or the declaration
// verdict. A release is valid up to and including the second it expires.
ovu_release_verdict check_release_declarations(const ovu_release_evidence &evidence);

// describe_release_refusal puts the player's message for a refused release
// into |message|: what is wrong with the release at |manifest_path| (the
// request path of the manifest), ending with ", update refused.".
void describe_release_refusal(ovu_release_verdict verdict, const ovu_release_evidence &evidence,
                              const char *manifest_path, qarn_bounded_string_base &message);

#endif
