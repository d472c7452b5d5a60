// The signature of a release: a small text file beside the remote manifest
// (the manifest's name + ".sig") that holds an ECDSA P-256 signature of the
// SHA-256 of the manifest file's exact bytes:
//
//   torvane-signature ecdsa-p256-sha256 <r and s, 128 hex digits>
//
// followed by at most one line feed.
#ifndef TORVANE_UPDATER_RELEASE_SIGNATURE_H
#define TORVANE_UPDATER_RELEASE_SIGNATURE_H

#include <cstdint>
#include <string>

constexpr char OVU_SIGNATURE_SUFFIX[] = ".sig";
constexpr char OVU_SIGNATURE_PREFIX[] = "torvane-signature ecdsa-p256-sha256 ";
// r and s, 32 bytes each.
constexpr int32_t OVU_SIGNATURE_LEN = 64;
// A signature file is never longer than this; a server that sends more is
// not sending a signature.
constexpr int32_t OVU_SIGNATURE_FILE_MAX_LEN = 1024;

// parse_release_signature reads the |length| bytes of a signature file.
// Returns 1 with the signature in |signature|, or 0 when the text is not a
// signature file.
int parse_release_signature(const char *text, int32_t length, unsigned char signature[OVU_SIGNATURE_LEN]);

// format_release_signature returns the text of the signature file for
// |signature|.
std::string format_release_signature(const unsigned char signature[OVU_SIGNATURE_LEN]);

// Default of a signature download's total bound: a file this small has
// no reason to take longer, however slow the link.
constexpr int32_t OVU_SIGNATURE_FETCH_DEADLINE_MS = 60000;

// Where a signature file is and how long its download may take.
struct ovu_signature_request {
  const char *host;
  const char *path;
  int port;             // OVU_UPDATE_SERVER_PORT; tests point it elsewhere
  int32_t deadline_ms;  // from the request to the end of the body
};

// fetch_release_signature downloads the signature file of |request| into
// |text|. Returns 1 when a status-200 body of at most
// OVU_SIGNATURE_FILE_MAX_LEN bytes arrived whole within the deadline (its
// length in |*length|), else 0; a longer body is refused as it arrives,
// and nothing beyond |text|'s bytes is ever written.
int fetch_release_signature(const ovu_signature_request &request, char text[OVU_SIGNATURE_FILE_MAX_LEN],
                            int32_t *length);

#endif
