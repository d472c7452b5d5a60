// http_fetch_remote_manifest_data: downloads the update server's list of
// published files and turns it into manifest entries without storing the
// manifest anywhere. The body is one zlib or gzip stream (told apart by its
// header); each block is inflated as it arrives and the text is cut into
// lines, each parsed as a manifest line.
//
// Use: construct; set progress_forward and progress_data if wanted; fetch
// once; read the entries; destroy (which frees them).
#ifndef TORVANE_UPDATER_REMOTE_MANIFEST_FETCH_H
#define TORVANE_UPDATER_REMOTE_MANIFEST_FETCH_H

#include <zlib.h>

#include <cstdint>

#include "support/bounded_string.h"
#include "support/sha256.h"
#include "updater/manifest_entry.h"
#include "updater/release_declarations.h"

// The update server's port; the launcher speaks plain HTTP only.
constexpr int OVU_UPDATE_SERVER_PORT = 80;
// 15 bits of window (32 KiB), plus 32: zlib or gzip header, detected.
constexpr int OVU_INFLATE_WINDOW_BITS = 15 + 32;
// Output area of one inflate call.
constexpr int32_t OVU_INFLATE_OUTPUT_LEN = 65536;
// A manifest that inflates to more than this is refused: it cannot be a
// real list of files, and parsing it would exhaust memory.
constexpr int64_t OVU_MAX_INFLATED_MANIFEST_LEN = int64_t{1} << 30;

using ovu_fetch_progress_function = void (*)(void *data, int64_t received, int64_t total);

class http_fetch_remote_manifest_data {
 public:
  http_fetch_remote_manifest_data();
  // Frees the entries and any inflate state left.
  ~http_fetch_remote_manifest_data();
  http_fetch_remote_manifest_data(const http_fetch_remote_manifest_data &) = delete;
  http_fetch_remote_manifest_data &operator=(const http_fetch_remote_manifest_data &) = delete;

  // fetch downloads |path| from |host| on port 80 and parses it. Returns
  // entry_count (0 or more) when the whole manifest arrived and every line
  // parsed; -1 otherwise, with no entries kept. Entries of an earlier fetch
  // are freed first.
  int32_t fetch(const char *host, const char *path);

  // begin_inflation starts the inflate state and the body digest of one
  // manifest and forgets earlier declarations. Returns 1, or 0 when zlib
  // cannot start.
  int begin_inflation();
  // end_inflation ends the inflate state and completes body_digest. Returns
  // 1 when the compressed stream was complete, or no body byte arrived at
  // all; 0 when the stream stopped short or was refused.
  int end_inflation();

  // download_data_callback inflates one block of body bytes and parses the
  // lines it completes. Returns 1 to go on, 0 to abort the download.
  static int download_data_callback(void *fetcher, const char *data, int32_t length);
  // download_progress_callback parses a last line without its line feed
  // once |received| reaches |total|, then forwards the progress.
  static void download_progress_callback(void *fetcher, int64_t received, int64_t total);
  // split_lines feeds |length| bytes of plain text into |line| and parses
  // every line a line feed completes. Returns 1, or 0 after a syntax error
  // (every entry parsed so far is then freed).
  static int split_lines(http_fetch_remote_manifest_data *fetcher, const char *text, int32_t length);

  // entries returns the first parsed entry (owned by the fetcher, valid
  // until the next fetch or destruction), or null.
  ovu_manifest_entry *entries() const { return head; }

  qarn_bounded_string line;            // the current, unfinished line
  ovu_manifest_entry *head = nullptr;  // parsed entries, in manifest order
  ovu_manifest_entry *tail = nullptr;
  int32_t entry_count = 0;
  z_stream stream;                     // inflate state of the current fetch
  void *progress_data = nullptr;       // first argument of progress_forward
  ovu_fetch_progress_function progress_forward = nullptr;
  // The inflated text may not grow beyond this many bytes.
  int64_t max_inflated_len = OVU_MAX_INFLATED_MANIFEST_LEN;
  // The release declarations met in the text (all zero when none).
  ovu_release_declarations declarations = {};
  // Set to make body_digest: the SHA-256 of the body bytes as they
  // arrived, complete after a fetch (or end_inflation), which is what a
  // release signature signs.
  bool digest_body = false;
  unsigned char body_digest[QARN_SHA256_DIGEST_LEN] = {};

 private:
  int inflate_block(const char *data, int32_t length);
  int take_output(const char *text, int32_t length);
  int parse_line();
  void free_entries();

  qarn_sha256_context body_hash_;  // over the body bytes, while inflating
  bool inflating_ = false;      // between begin_inflation and end_inflation
  bool stream_ended_ = false;   // inflate reported the end of the stream
  bool body_started_ = false;   // a body byte arrived
  bool flush_failed_ = false;   // the last line failed to parse at the end
  int64_t inflated_len_ = 0;    // text bytes produced so far
};

#endif
