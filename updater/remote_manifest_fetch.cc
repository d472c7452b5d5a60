#include "updater/remote_manifest_fetch.h"

#include <cstring>

#include "http/http_downloader.h"
#include "support/diagnostics.h"

namespace {

void report(const char *text) { qarn_diagnostic(text, QARN_DIAG_OPERATION, QARN_MODULE_UPDATER); }

http_fetch_remote_manifest_data &fetcher_of(void *data) {
  return *static_cast<http_fetch_remote_manifest_data *>(data);
}

const char LINE_END = '\n';

// Reported like the manifest's other syntax errors: what is wrong, then the
// line itself.
void report_bad_declaration(const char *line) {
  qarn_diagnostic("Syntax error in downloaded data - bad release declaration for line:", QARN_DIAG_MANIFEST,
                  QARN_MODULE_UPDATER);
  qarn_diagnostic(line, QARN_DIAG_MANIFEST, QARN_MODULE_UPDATER);
}

}  // namespace

http_fetch_remote_manifest_data::http_fetch_remote_manifest_data() { std::memset(&stream, 0, sizeof(stream)); }

http_fetch_remote_manifest_data::~http_fetch_remote_manifest_data() {
  end_inflation();
  free_entries();
}

void http_fetch_remote_manifest_data::free_entries() {
  ovu_free_manifest_list(&head);
  tail = nullptr;
  entry_count = 0;
}

int32_t http_fetch_remote_manifest_data::fetch(const char *host, const char *path) {
  free_entries();
  line.clear();
  if (!begin_inflation()) {
    return -1;
  }
  int downloaded = 0;
  {
    qarn_http_downloader downloader;
    if (downloader.set_connection(host, OVU_UPDATE_SERVER_PORT, 0)) {
      downloader.data_callback = download_data_callback;
      downloader.progress_callback = download_progress_callback;
      downloader.callback_context = this;
      downloaded = downloader.download(host, path);
    }
  }
  int whole = end_inflation();
  // A stream cut short (a server still writing the file, a truncated
  // transfer) would give a list without its last files.
  if (downloaded && !whole) {
    report("Error in http_fetch_remote_manifest_data::fetch(), compressed data ended before the end of its "
           "stream.");
  }
  if (!downloaded || !whole || flush_failed_) {
    free_entries();
    return -1;
  }
  return entry_count;
}

int http_fetch_remote_manifest_data::begin_inflation() {
  end_inflation();
  std::memset(&stream, 0, sizeof(stream));
  stream.next_in = Z_NULL;
  stream.avail_in = 0;
  stream.zalloc = Z_NULL;
  stream.zfree = Z_NULL;
  stream.opaque = Z_NULL;
  if (inflateInit2_(&stream, OVU_INFLATE_WINDOW_BITS, ZLIB_VERSION, static_cast<int>(sizeof(z_stream))) != Z_OK) {
    return 0;
  }
  qarn_sha256_init(&body_hash_);
  declarations = ovu_release_declarations{};
  inflating_ = true;
  stream_ended_ = false;
  body_started_ = false;
  flush_failed_ = false;
  inflated_len_ = 0;
  return 1;
}

int http_fetch_remote_manifest_data::end_inflation() {
  if (!inflating_) {
    return 0;
  }
  inflateEnd(&stream);
  if (digest_body) {
    qarn_sha256_final(&body_hash_, body_digest);
  }
  inflating_ = false;
  return body_started_ && !stream_ended_ ? 0 : 1;
}

int http_fetch_remote_manifest_data::download_data_callback(void *data, const char *bytes, int32_t length) {
  return fetcher_of(data).inflate_block(bytes, length);
}

// Inflates until zlib has no more output for this block, so that text that
// compressed better than the output area's ratio is parsed whole.
int http_fetch_remote_manifest_data::inflate_block(const char *data, int32_t length) {
  if (!inflating_) {
    return 0;
  }
  body_started_ = true;
  if (digest_body) {
    qarn_sha256_update(&body_hash_, data, static_cast<uint64_t>(length));
  }
  stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
  stream.avail_in = static_cast<uInt>(length);
  char output[OVU_INFLATE_OUTPUT_LEN];
  for (;;) {
    stream.next_out = reinterpret_cast<Bytef *>(output);
    stream.avail_out = static_cast<uInt>(sizeof(output));
    int code = inflate(&stream, Z_NO_FLUSH);
    if (code == Z_BUF_ERROR) {
      return 1;  // nothing more to take from this block
    }
    if (code != Z_OK && code != Z_STREAM_END) {
      report("Error in http_fetch_remote_manifest_data::download_data_callback(), ZLip inflate failed?");
      return 0;
    }
    int32_t produced = OVU_INFLATE_OUTPUT_LEN - static_cast<int32_t>(stream.avail_out);
    if (produced > 0 && !take_output(output, produced)) {
      return 0;
    }
    if (code == Z_STREAM_END) {
      // Bytes after the end of the stream are ignored; a last line without
      // its line feed is complete now, whether or not a length was sent.
      bool first_end = !stream_ended_;
      stream_ended_ = true;
      return first_end ? split_lines(this, &LINE_END, 1) : 1;
    }
    if (stream.avail_out != 0) {
      return 1;  // the block is used up and its output delivered
    }
  }
}

int http_fetch_remote_manifest_data::take_output(const char *text, int32_t length) {
  inflated_len_ += length;
  if (inflated_len_ > max_inflated_len) {
    qarn_bounded_string message;
    message.append_format(
        "Error in http_fetch_remote_manifest_data::download_data_callback(), manifest inflates to more than %.0f "
        "bytes, aborting.",
        static_cast<double>(max_inflated_len));
    report(message.text());
    return 0;
  }
  return split_lines(this, text, length);
}

void http_fetch_remote_manifest_data::download_progress_callback(void *data, int64_t received, int64_t total) {
  http_fetch_remote_manifest_data &self = fetcher_of(data);
  if (received == total && !split_lines(&self, &LINE_END, 1)) {
    self.flush_failed_ = true;
  }
  if (self.progress_forward != nullptr) {
    self.progress_forward(self.progress_data, received, total);
  }
}

int http_fetch_remote_manifest_data::split_lines(http_fetch_remote_manifest_data *fetcher, const char *text,
                                                 int32_t length) {
  const char *end = text + length;
  while (text < end) {
    const char *line_end = static_cast<const char *>(std::memchr(text, LINE_END, static_cast<size_t>(end - text)));
    const char *piece_end = line_end != nullptr ? line_end : end;
    fetcher->line.append_bytes(text, static_cast<int32_t>(piece_end - text));
    if (line_end == nullptr) {
      break;
    }
    if (!fetcher->parse_line()) {
      return 0;
    }
    text = line_end + 1;
  }
  return 1;
}

int http_fetch_remote_manifest_data::parse_line() {
  ovu_manifest_entry *entry = nullptr;
  int parsed = 1;
  switch (parse_release_declaration(line.text(), &declarations)) {
    case OVU_DECLARATION_TAKEN:
      break;
    case OVU_DECLARATION_BAD:
      report_bad_declaration(line.text());
      parsed = 0;
      break;
    case OVU_NOT_A_DECLARATION:
      parsed = parse_manifest_line(OVU_REMOTE_MANIFEST_CONTEXT, line.text(), &entry);
      break;
  }
  line.clear();
  if (!parsed) {
    free_entries();
    return 0;
  }
  if (entry != nullptr) {
    if (tail == nullptr) {
      head = entry;
    } else {
      tail->next = entry;
    }
    tail = entry;
    entry_count++;
  }
  return 1;
}
