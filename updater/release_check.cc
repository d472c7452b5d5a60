#include "updater/release_check.h"

#include <cinttypes>
#include <ctime>

#include "platform/signature.h"
#include "updater/release_signature.h"

namespace {

static_assert(PLATFORM_P256_SIGNATURE_LEN == OVU_SIGNATURE_LEN, "release signatures are P-256 signatures");
static_assert(PLATFORM_P256_DIGEST_LEN == QARN_SHA256_DIGEST_LEN, "releases sign a SHA-256 digest");

// "2026-12-10 13:45:00 UTC"
void append_utc(qarn_bounded_string_base &text, int64_t seconds) {
  std::time_t time = static_cast<std::time_t>(seconds);
  std::tm *utc = std::gmtime(&time);
  if (utc == nullptr) {
    text.append_format("%.0f seconds after 1970", static_cast<double>(seconds));
    return;
  }
  text.append_format("%04d-%02d-%02d %02d:%02d:%02d UTC", utc->tm_year + 1900, utc->tm_mon + 1, utc->tm_mday,
                     utc->tm_hour, utc->tm_min, utc->tm_sec);
}

}  // namespace

ovu_release_verdict check_release_signature(const ovu_release_evidence &evidence) {
  if (!evidence.signature_fetched) {
    return OVU_RELEASE_SIGNATURE_MISSING;
  }
  unsigned char signature[OVU_SIGNATURE_LEN];
  if (!parse_release_signature(evidence.signature_text, evidence.signature_len, signature)) {
    return OVU_RELEASE_SIGNATURE_MALFORMED;
  }
  if (!platform_p256_verify_digest(evidence.release_key, evidence.manifest_digest, signature)) {
    return OVU_RELEASE_SIGNATURE_WRONG;
  }
  return OVU_RELEASE_ACCEPTED;
}

ovu_release_verdict check_release_declarations(const ovu_release_evidence &evidence) {
  const ovu_release_declarations &declared = *evidence.declarations;
  if (!declared.has_serial) {
    return OVU_RELEASE_NO_SERIAL;
  }
  // Without SHA-256 tokens no download could be verified.
  if (!declared.sha256_tokens) {
    return OVU_RELEASE_NO_SHA256;
  }
  if (evidence.has_accepted_serial && declared.serial < evidence.accepted_serial) {
    return OVU_RELEASE_ROLLBACK;
  }
  if (declared.has_expiry && evidence.now > declared.expires) {
    return OVU_RELEASE_EXPIRED;
  }
  return OVU_RELEASE_ACCEPTED;
}

void describe_release_refusal(ovu_release_verdict verdict, const ovu_release_evidence &evidence,
                              const char *manifest_path, qarn_bounded_string_base &message) {
  message.append("Release '").append(manifest_path).append("' ");
  switch (verdict) {
    case OVU_RELEASE_ACCEPTED:
      message.append("accepted");
      break;
    case OVU_RELEASE_SIGNATURE_MISSING:
      message.append("has no signature ('").append(manifest_path).append(OVU_SIGNATURE_SUFFIX);
      message.append("' could not be fetched)");
      break;
    case OVU_RELEASE_SIGNATURE_MALFORMED:
      message.append("has a malformed signature file");
      break;
    case OVU_RELEASE_SIGNATURE_WRONG:
      message.append("does not match its signature");
      break;
    case OVU_RELEASE_NO_SERIAL:
      message.append("declares no release serial");
      break;
    case OVU_RELEASE_NO_SHA256:
      message.append("does not declare SHA-256 hash tokens");
      break;
    case OVU_RELEASE_ROLLBACK:
      message.append_format("is older than the installed release (serial %" PRIu64 " below %" PRIu64 ")",
                            evidence.declarations->serial, evidence.accepted_serial);
      break;
    case OVU_RELEASE_EXPIRED:
      message.append("expired at ");
      append_utc(message, evidence.declarations->expires);
      break;
  }
  message.append(", update refused.");
}
