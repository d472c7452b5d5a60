#include "updater/remote_manifest_parser.h"

#include <cstring>

#include "support/diagnostics.h"
#include "support/text_scan.h"

namespace {

const char LINE_END = '\n';
// Where the reports say they come from: the manifest's data callback, as
// they always have.
const char REPORT_HEAD[] = "Error in http_fetch_remote_manifest_data::download_data_callback(), ";

void report(const char *text, int32_t category) { qarn_diagnostic(text, category, QARN_MODULE_UPDATER); }

// A bound passed is reported like a corrupt manifest: always shown.
void report_bound(const char *what, int64_t bound, const char *unit) {
  qarn_bounded_string message;
  message.append(REPORT_HEAD).append(what);
  message.append_format(" %.0f %s, aborting.", static_cast<double>(bound), unit);
  report(message.text(), QARN_DIAG_MANIFEST);
}

// Reported like the manifest's other syntax errors: what is wrong, then the
// line itself.
void report_bad_declaration(const char *line) {
  report("Syntax error in downloaded data - bad release declaration for line:", QARN_DIAG_MANIFEST);
  report(line, QARN_DIAG_MANIFEST);
}

}  // namespace

int64_t ovu_remote_entry_memory(const ovu_manifest_entry *entry) {
  int64_t name_len = entry->name != nullptr ? static_cast<int64_t>(std::strlen(entry->name)) + 1 : 0;
  int64_t hash_len = entry->hash != nullptr ? static_cast<int64_t>(std::strlen(entry->hash)) + 1 : 0;
  return OVU_REMOTE_ENTRY_FIXED_COST + 2 * name_len + hash_len;
}

ovu_remote_manifest_parser::ovu_remote_manifest_parser() { std::memset(&stream_, 0, sizeof(stream_)); }

ovu_remote_manifest_parser::~ovu_remote_manifest_parser() {
  end_inflation();
  free_entries();
}

void ovu_remote_manifest_parser::free_entries() {
  names_.clear();
  arena_.release();
  head_ = nullptr;
  tail_ = nullptr;
  entry_count_ = 0;
  entry_memory_ = 0;
  qarn_free_text(&first_repeat_);
  repeat_count_ = 0;
}

void ovu_remote_manifest_parser::end_inflation() {
  if (inflating_) {
    inflateEnd(&stream_);
    inflating_ = false;
  }
}

int ovu_remote_manifest_parser::begin() {
  end_inflation();
  free_entries();
  line_.clear();
  declarations_ = ovu_release_declarations{};
  entry_lines_ = 0;
  inflated_len_ = 0;
  stream_ended_ = false;
  body_started_ = false;
  refused_ = true;  // until inflation has started
  std::memset(&stream_, 0, sizeof(stream_));
  stream_.next_in = Z_NULL;
  stream_.avail_in = 0;
  stream_.zalloc = Z_NULL;
  stream_.zfree = Z_NULL;
  stream_.opaque = Z_NULL;
  if (inflateInit2_(&stream_, OVU_INFLATE_WINDOW_BITS, ZLIB_VERSION, static_cast<int>(sizeof(z_stream))) != Z_OK) {
    return 0;
  }
  inflating_ = true;
  refused_ = false;
  return 1;
}

void ovu_remote_manifest_parser::discard() {
  refused_ = true;
  end_inflation();
  free_entries();
}

int ovu_remote_manifest_parser::take(const char *bytes, int32_t length) {
  if (refused_ || !inflating_) {
    return 0;
  }
  body_started_ = true;
  if (stream_ended_) {
    return 1;
  }
  if (!inflate_piece(bytes, length)) {
    discard();
    return 0;
  }
  return 1;
}

int ovu_remote_manifest_parser::finish() {
  bool started = inflating_;
  end_inflation();
  names_.clear();  // needed only while lines arrive
  if (!started || refused_ || stream_cut_short()) {
    refused_ = true;
    free_entries();
    return 0;
  }
  if (repeat_count_ > 0) {
    report_repeats();
  }
  return 1;
}

void ovu_remote_manifest_parser::report_repeats() const {
  qarn_bounded_string message;
  message.append("Warning - the remote manifest lists '").append(first_repeat_ != nullptr ? first_repeat_ : "");
  message.append_format("' more than once; %d repeated entries dropped, the first entry of each name is used.",
                        static_cast<int>(repeat_count_));
  report(message.text(), QARN_DIAG_OPERATION);
}

// Inflates until zlib has no more output for this piece, so that text that
// compressed better than the output area's ratio is parsed whole.
int ovu_remote_manifest_parser::inflate_piece(const char *bytes, int32_t length) {
  stream_.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(bytes));
  stream_.avail_in = static_cast<uInt>(length);
  char output[OVU_INFLATE_OUTPUT_LEN];
  for (;;) {
    stream_.next_out = reinterpret_cast<Bytef *>(output);
    stream_.avail_out = static_cast<uInt>(sizeof(output));
    int code = inflate(&stream_, Z_NO_FLUSH);
    if (code == Z_BUF_ERROR) {
      return 1;  // nothing more to take from this piece
    }
    if (code != Z_OK && code != Z_STREAM_END) {
      report("Error in http_fetch_remote_manifest_data::download_data_callback(), ZLip inflate failed?",
             QARN_DIAG_OPERATION);
      return 0;
    }
    int32_t produced = OVU_INFLATE_OUTPUT_LEN - static_cast<int32_t>(stream_.avail_out);
    if (produced > 0 && !take_text(output, produced)) {
      return 0;
    }
    if (code == Z_STREAM_END) {
      // Only the real end of the stream completes a last line without its
      // line feed: a count of bytes said to be coming may not.
      stream_ended_ = true;
      return split_lines(&LINE_END, 1);
    }
    if (stream_.avail_out != 0) {
      return 1;  // the piece is used up and its output delivered
    }
  }
}

int ovu_remote_manifest_parser::take_text(const char *text, int32_t length) {
  inflated_len_ += length;
  if (inflated_len_ > max_inflated_len) {
    report_bound("manifest inflates to more than", max_inflated_len, "bytes");
    return 0;
  }
  return split_lines(text, length);
}

int ovu_remote_manifest_parser::split_lines(const char *text, int32_t length) {
  const char *end = text + length;
  while (text < end) {
    const char *line_end = static_cast<const char *>(std::memchr(text, LINE_END, static_cast<size_t>(end - text)));
    const char *piece_end = line_end != nullptr ? line_end : end;
    line_.append_bytes(text, static_cast<int32_t>(piece_end - text));
    if (line_end == nullptr) {
      break;
    }
    if (!parse_line()) {
      return 0;
    }
    text = line_end + 1;
  }
  return 1;
}

int ovu_remote_manifest_parser::parse_line() {
  int parsed = 1;
  switch (parse_release_declaration(line_.text(), &declarations_)) {
    case OVU_DECLARATION_TAKEN:
      break;
    case OVU_DECLARATION_BAD:
      report_bad_declaration(line_.text());
      parsed = 0;
      break;
    case OVU_NOT_A_DECLARATION: {
      ovu_manifest_line_fields fields;
      switch (ovu_scan_manifest_line(OVU_REMOTE_MANIFEST_CONTEXT, line_.text(), &fields)) {
        case OVU_MANIFEST_LINE_COMMENT:
          break;
        case OVU_MANIFEST_LINE_ENTRY:
          parsed = keep_entry(fields);
          break;
        case OVU_MANIFEST_LINE_MALFORMED:
          parsed = 0;
          break;
      }
      break;
    }
  }
  line_.clear();
  return parsed;
}

// Keeps the entry of |fields| unless it repeats a name or passes a bound;
// a repeat takes no memory. Returns 1 to go on, or 0 after a report.
int ovu_remote_manifest_parser::keep_entry(const ovu_manifest_line_fields &fields) {
  if (entry_lines_ >= max_entry_count) {
    report_bound("manifest lists more than", max_entry_count, "entries");
    return 0;
  }
  entry_lines_++;
  if (names_.lookup(fields.name) != nullptr) {
    if (first_repeat_ == nullptr) {
      first_repeat_ = qarn_strdup(fields.name);
    }
    repeat_count_++;
    return 1;
  }
  // An entry past the memory bound is made all the same; the refused
  // manifest's arena goes with it.
  ovu_manifest_entry *entry = ovu_make_arena_entry(arena_, fields);
  if (entry == nullptr) {
    return 0;
  }
  int64_t memory = ovu_remote_entry_memory(entry);
  if (memory > max_entry_memory - entry_memory_) {
    report_bound("manifest entries take more than", max_entry_memory, "bytes of memory");
    return 0;
  }
  if (!names_.store(entry, entry->name)) {
    report("Error in http_fetch_remote_manifest_data::download_data_callback(), out of memory for the name index.",
           QARN_DIAG_RESOURCE);
    return 0;
  }
  entry_memory_ += memory;
  if (tail_ == nullptr) {
    head_ = entry;
  } else {
    tail_->next = entry;
  }
  tail_ = entry;
  entry_count_++;
  return 1;
}
