#include "updater/remote_manifest_fetch.h"

#include <cstring>

#include "http/http_downloader.h"
#include "support/diagnostics.h"

namespace {

void report(const char *text) { qarn_diagnostic(text, QARN_DIAG_OPERATION, QARN_MODULE_UPDATER); }

http_fetch_remote_manifest_data &fetcher_of(void *data) {
  return *static_cast<http_fetch_remote_manifest_data *>(data);
}

// A stream cut short (a server still writing the file, a truncated
// transfer) would give a list without its last files.
void report_cut_short() {
  report("Error in http_fetch_remote_manifest_data::fetch(), compressed data ended before the end of its stream.");
}

}  // namespace

int http_fetch_remote_manifest_data::download(const char *host, const char *path) {
  qarn_http_downloader downloader;
  if (!downloader.set_connection(host, server_port, 0)) {
    return 0;
  }
  downloader.data_callback = download_data_callback;
  downloader.progress_callback = download_progress_callback;
  downloader.callback_context = this;
  downloader.total_timeout_ms = deadline_ms;
  return downloader.download(host, path);
}

int32_t http_fetch_remote_manifest_data::fetch(const char *host, const char *path) {
  held.discard();
  body_held_ = false;
  if (!parser.begin()) {
    return -1;
  }
  int downloaded = download(host, path);
  int whole = parser.finish();
  if (downloaded && parser.stream_cut_short()) {
    report_cut_short();
  }
  if (!downloaded || !whole) {
    parser.discard();
    return -1;
  }
  return parser.entry_count();
}

int http_fetch_remote_manifest_data::fetch_held(const char *host, const char *path, const char *spill_path) {
  parser.discard();
  body_held_ = false;
  if (!held.begin(spill_path)) {
    return 0;
  }
  qarn_sha256_init(&body_hash_);
  holding_ = true;
  int downloaded = download(host, path);
  holding_ = false;
  qarn_sha256_final(&body_hash_, body_digest);
  if (!downloaded) {
    held.discard();
    return 0;
  }
  body_held_ = true;
  return 1;
}

int http_fetch_remote_manifest_data::take_held_piece(void *data, const char *bytes, int32_t length) {
  http_fetch_remote_manifest_data &self = fetcher_of(data);
  qarn_sha256_update(&self.body_hash_, bytes, static_cast<uint64_t>(length));
  return self.parser.take(bytes, length);
}

int32_t http_fetch_remote_manifest_data::parse_held() {
  bool was_held = body_held_;
  body_held_ = false;
  if (!was_held || !parser.begin()) {
    held.discard();
    parser.discard();
    return -1;
  }
  // The bytes are hashed again on their way to the parser: what is parsed
  // must be what was checked, even if the spill file changed since.
  qarn_sha256_init(&body_hash_);
  int replayed = held.replay(take_held_piece, this);
  held.discard();
  unsigned char digest[QARN_SHA256_DIGEST_LEN];
  qarn_sha256_final(&body_hash_, digest);
  int whole = parser.finish();
  if (replayed && std::memcmp(digest, body_digest, sizeof(digest)) != 0) {
    report("Error in http_fetch_remote_manifest_data::parse_held(), the kept manifest changed before it was parsed.");
    replayed = 0;
  } else if (replayed && parser.stream_cut_short()) {
    report_cut_short();
  }
  if (!replayed || !whole) {
    parser.discard();
    return -1;
  }
  return parser.entry_count();
}

int http_fetch_remote_manifest_data::download_data_callback(void *data, const char *bytes, int32_t length) {
  http_fetch_remote_manifest_data &self = fetcher_of(data);
  if (!self.holding_) {
    return self.parser.take(bytes, length);
  }
  qarn_sha256_update(&self.body_hash_, bytes, static_cast<uint64_t>(length));
  return self.held.append(bytes, length);
}

void http_fetch_remote_manifest_data::download_progress_callback(void *data, int64_t received, int64_t total) {
  http_fetch_remote_manifest_data &self = fetcher_of(data);
  if (self.progress_forward != nullptr) {
    self.progress_forward(self.progress_data, received, total);
  }
}
