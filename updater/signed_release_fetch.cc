// The fetch of a release by an updater with a release key. Nothing the
// server sent is trusted before the key vouches for it: the manifest's
// compressed bytes are held, the signature file is fetched and checked
// against their digest, and only then are they parsed; the declarations
// of the parsed text decide the rest.
#include "support/bounded_string.h"
#include "support/clock.h"
#include "updater/release_check.h"
#include "updater/release_signature.h"
#include "updater/release_state.h"
#include "updater/remote_manifest_fetch.h"
#include "updater/updater.h"

// Returns 1 when the release may be installed, its entries parsed and its
// serial recorded; else 0 after telling the player why not.
int ovu_updater::fetch_signed_release(const char *host, const char *manifest_path,
                                      http_fetch_remote_manifest_data &fetcher) {
  qarn_bounded_string spill_path;
  spill_path.append(temporary_file_name).append(OVU_HELD_MANIFEST_SUFFIX);
  if (!fetcher.fetch_held(host, manifest_path, spill_path.text())) {
    say_fetch_failed(manifest_path);
    return 0;
  }
  qarn_bounded_string signature_path;
  signature_path.append(manifest_path).append(OVU_SIGNATURE_SUFFIX);
  const ovu_signature_request request = {host, signature_path.text(), OVU_UPDATE_SERVER_PORT, signature_deadline_ms};
  char signature_text[OVU_SIGNATURE_FILE_MAX_LEN];
  ovu_release_evidence evidence = {};
  evidence.release_key = release_key;
  evidence.manifest_digest = fetcher.body_digest;
  evidence.signature_text = signature_text;
  evidence.signature_fetched = fetch_release_signature(request, signature_text, &evidence.signature_len);
  ovu_release_verdict verdict = check_release_signature(evidence);
  if (verdict != OVU_RELEASE_ACCEPTED) {
    return refuse_release(verdict, evidence, manifest_path);
  }
  if (fetcher.parse_held() < 0) {
    say_fetch_failed(manifest_path);
    return 0;
  }
  qarn_bounded_string state_path;
  release_state_path(manifest_file_name, state_path);
  evidence.declarations = &fetcher.declarations();
  evidence.has_accepted_serial = load_release_serial(state_path.text(), &evidence.accepted_serial);
  evidence.now = qarn_clock_seconds();
  verdict = check_release_declarations(evidence);
  if (verdict != OVU_RELEASE_ACCEPTED) {
    return refuse_release(verdict, evidence, manifest_path);
  }
  uint64_t serial = evidence.declarations->serial;
  if ((!evidence.has_accepted_serial || serial > evidence.accepted_serial) &&
      !save_release_serial(state_path.text(), serial)) {
    say_verbose("Warning - unable to record the release serial.");
  }
  return 1;
}

// Tells the player why the release is refused. Returns 0.
int ovu_updater::refuse_release(ovu_release_verdict verdict, const ovu_release_evidence &evidence,
                                const char *manifest_path) const {
  qarn_bounded_string message;
  describe_release_refusal(verdict, evidence, manifest_path, message);
  say(message.text());
  return 0;
}
