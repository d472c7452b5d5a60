// http_fetch_remote_manifest_data: downloads the update server's list of
// published files, the remote manifest, and has it parsed into manifest
// entries (ovu_remote_manifest_parser) without ever storing its text.
// Two ways:
//
//   fetch       parses the body as it arrives: a launcher without a
//               release key;
//   fetch_held  keeps the compressed body (ovu_held_manifest) and makes
//               its SHA-256, which a release signature signs; parse_held
//               parses it once the signature has been checked.
//
// Either download gives up deadline_ms after its request went out, so that
// a server cannot keep a launcher waiting with an endless trickle.
//
// Use: construct; set the settings wanted; fetch, or fetch_held and then
// parse_held; read the entries; destroy (which frees them).
#ifndef TORVANE_UPDATER_REMOTE_MANIFEST_FETCH_H
#define TORVANE_UPDATER_REMOTE_MANIFEST_FETCH_H

#include <cstdint>

#include "support/sha256.h"
#include "updater/held_manifest.h"
#include "updater/manifest_entry.h"
#include "updater/release_declarations.h"
#include "updater/remote_manifest_parser.h"
#include "updater/update_server.h"

// Default of deadline_ms: five minutes take the manifest of a release of
// 1,000,000 files over a link of 2 Mbit/s.
constexpr int32_t OVU_MANIFEST_FETCH_DEADLINE_MS = 5 * 60 * 1000;

using ovu_fetch_progress_function = void (*)(void *data, int64_t received, int64_t total);

class http_fetch_remote_manifest_data {
 public:
  http_fetch_remote_manifest_data() = default;
  http_fetch_remote_manifest_data(const http_fetch_remote_manifest_data &) = delete;
  http_fetch_remote_manifest_data &operator=(const http_fetch_remote_manifest_data &) = delete;

  // fetch downloads |path| from |host| and parses it as it arrives.
  // Returns entry_count (0 or more) when the whole manifest arrived and
  // was taken; -1 otherwise, with no entries kept. Entries of an earlier
  // fetch are freed first.
  int32_t fetch(const char *host, const char *path);

  // fetch_held downloads |path| from |host| and keeps the compressed body,
  // in memory or in the file |spill_path|, with its SHA-256 in
  // body_digest; nothing is parsed. Returns 1 when the whole body arrived
  // and was kept, else 0 (nothing kept). Entries of an earlier fetch are
  // freed first.
  int fetch_held(const char *host, const char *path, const char *spill_path);
  // parse_held parses the body that the last fetch_held kept, then lets
  // it go. Returns entry_count, or -1 as fetch does; also -1 when no whole
  // body is held, or the kept bytes are no longer the ones body_digest was
  // made of.
  int32_t parse_held();

  // download_data_callback takes one piece of body bytes: parses it, or
  // keeps and hashes it during fetch_held. Returns 1 to go on, 0 to abort
  // the download.
  static int download_data_callback(void *fetcher, const char *data, int32_t length);
  // download_progress_callback forwards the download's progress.
  static void download_progress_callback(void *fetcher, int64_t received, int64_t total);

  // entries returns the first parsed entry (owned by the fetcher, valid
  // until the next fetch or destruction), or null.
  const ovu_manifest_entry *entries() const { return parser.entries(); }
  int32_t entry_count() const { return parser.entry_count(); }
  // declarations returns the release declarations of the parsed manifest.
  const ovu_release_declarations &declarations() const { return parser.declarations(); }

  void *progress_data = nullptr;  // first argument of progress_forward
  ovu_fetch_progress_function progress_forward = nullptr;
  // The server's port: OVU_UPDATE_SERVER_PORT; tests point it elsewhere.
  int server_port = OVU_UPDATE_SERVER_PORT;
  // Longest time from the request to the end of the body.
  int32_t deadline_ms = OVU_MANIFEST_FETCH_DEADLINE_MS;
  // The SHA-256 of the body's bytes as they arrived, trailing bytes
  // included: what a release signature signs. Made by fetch_held.
  unsigned char body_digest[QARN_SHA256_DIGEST_LEN] = {};
  // The parser and the holder, with their bounds.
  ovu_remote_manifest_parser parser;
  ovu_held_manifest held;

 private:
  int download(const char *host, const char *path);
  static int take_held_piece(void *fetcher, const char *data, int32_t length);

  bool holding_ = false;           // fetch_held is downloading
  bool body_held_ = false;         // fetch_held kept a whole body, not yet parsed
  qarn_sha256_context body_hash_;  // over the body bytes, while holding or replaying
};

#endif
