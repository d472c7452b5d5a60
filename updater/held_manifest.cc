#include "updater/held_manifest.h"

#include <cstdlib>
#include <cstring>

#include "support/bounded_string.h"
#include "support/diagnostics.h"
#include "support/file_system.h"
#include "support/text_scan.h"

namespace {

// The first memory block; it doubles up to memory_len.
constexpr int64_t FIRST_BLOCK_LEN = 65536;

void report(const char *text, int32_t category) { qarn_diagnostic(text, category, QARN_MODULE_UPDATER); }

void report_about_spill_file(const char *what, const char *path) {
  qarn_bounded_string message;
  message.append("Error in ovu_held_manifest, unable to ").append(what).append(" '").append(path).append("'.");
  report(message.text(), QARN_DIAG_OPERATION);
}

}  // namespace

ovu_held_manifest::~ovu_held_manifest() {
  discard();
  qarn_free_text(&spill_path_);
}

void ovu_held_manifest::discard() {
  std::free(bytes_);
  bytes_ = nullptr;
  capacity_ = 0;
  length_ = 0;
  if (spill_file_ != nullptr) {
    qarn_fclose(spill_file_);
    spill_file_ = nullptr;
    qarn_remove(spill_path_);
  }
}

int ovu_held_manifest::begin(const char *spill_path) {
  discard();
  qarn_free_text(&spill_path_);
  spill_path_ = qarn_strdup(spill_path);
  if (spill_path_ == nullptr) {
    return 0;
  }
  qarn_remove(spill_path_);  // whatever an earlier process left there
  return 1;
}

int ovu_held_manifest::append(const char *bytes, int32_t length) {
  if (length > max_len - length_) {
    qarn_bounded_string message;
    message.append_format(
        "Error in http_fetch_remote_manifest_data::download_data_callback(), manifest is longer than %.0f bytes, "
        "aborting.",
        static_cast<double>(max_len));
    report(message.text(), QARN_DIAG_MANIFEST);
    return 0;
  }
  if (spill_file_ == nullptr && length_ + length <= memory_len && keep_in_memory(bytes, length)) {
    return 1;
  }
  if (spill_file_ == nullptr && !move_to_spill_file()) {
    return 0;
  }
  if (!write_to_spill_file(bytes, length)) {
    return 0;
  }
  length_ += length;
  return 1;
}

// Returns 1, or 0 when the memory block cannot grow (the bytes then go to
// the spill file).
int ovu_held_manifest::keep_in_memory(const char *bytes, int32_t length) {
  if (length_ + length > capacity_) {
    int64_t capacity = capacity_ > 0 ? capacity_ : FIRST_BLOCK_LEN;
    while (capacity < length_ + length) {
      capacity *= 2;
    }
    capacity = capacity < memory_len ? capacity : memory_len;
    char *grown = static_cast<char *>(std::realloc(bytes_, static_cast<size_t>(capacity)));
    if (grown == nullptr) {
      return 0;
    }
    bytes_ = grown;
    capacity_ = capacity;
  }
  std::memcpy(bytes_ + length_, bytes, static_cast<size_t>(length));
  length_ += length;
  return 1;
}

int ovu_held_manifest::move_to_spill_file() {
  if (spill_path_ == nullptr) {
    return 0;
  }
  if (!qarn_recursive_mkdir(spill_path_, QARN_DIRECTORY_MODE, nullptr) ||
      (spill_file_ = qarn_fopen(spill_path_, "w+b")) == nullptr) {
    report_about_spill_file("create", spill_path_);
    return 0;
  }
  int written = write_to_spill_file(bytes_, length_);
  std::free(bytes_);
  bytes_ = nullptr;
  capacity_ = 0;
  return written;
}

int ovu_held_manifest::write_to_spill_file(const char *bytes, int64_t length) {
  if (length > 0 && std::fwrite(bytes, 1, static_cast<size_t>(length), spill_file_) != static_cast<size_t>(length)) {
    report_about_spill_file("write", spill_path_);
    return 0;
  }
  return 1;
}

int ovu_held_manifest::replay(ovu_held_bytes_function consume, void *context) {
  if (spill_file_ != nullptr) {
    return replay_spill_file(consume, context);
  }
  for (int64_t offset = 0; offset < length_; offset += OVU_HELD_MANIFEST_READ_LEN) {
    int64_t left = length_ - offset;
    int32_t piece = left < OVU_HELD_MANIFEST_READ_LEN ? static_cast<int32_t>(left) : OVU_HELD_MANIFEST_READ_LEN;
    if (!consume(context, bytes_ + offset, piece)) {
      return 0;
    }
  }
  return 1;
}

int ovu_held_manifest::replay_spill_file(ovu_held_bytes_function consume, void *context) {
  char *block = static_cast<char *>(std::malloc(OVU_HELD_MANIFEST_READ_LEN));
  if (block == nullptr || std::fflush(spill_file_) != 0 || std::fseek(spill_file_, 0, SEEK_SET) != 0) {
    std::free(block);
    report_about_spill_file("read back", spill_path_);
    return 0;
  }
  int64_t replayed = 0;
  int result = 1;
  while (result && replayed < length_) {
    int64_t left = length_ - replayed;
    size_t wanted = left < OVU_HELD_MANIFEST_READ_LEN ? static_cast<size_t>(left) : OVU_HELD_MANIFEST_READ_LEN;
    size_t got = std::fread(block, 1, wanted, spill_file_);
    if (got == 0) {
      report_about_spill_file("read back", spill_path_);
      result = 0;
      break;
    }
    replayed += static_cast<int64_t>(got);
    result = consume(context, block, static_cast<int32_t>(got));
  }
  std::free(block);
  // Appends go to the end again.
  std::fseek(spill_file_, 0, SEEK_END);
  return result;
}
