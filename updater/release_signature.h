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

// fetch_release_signature downloads |path| from |host| on port 80 into
// |text|. Returns 1 when a status-200 body of at most
// OVU_SIGNATURE_FILE_MAX_LEN bytes arrived whole (its length in
// |*length|), else 0.
int fetch_release_signature(const char *host, const char *path, char text[OVU_SIGNATURE_FILE_MAX_LEN],
                            int32_t *length);

#endif
