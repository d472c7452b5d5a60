#include "http/coalesced_file_writer.h"

#include <cstdint>

int qarn_coalesced_file_writer::append(FILE *file, const char *bytes, int32_t length) {
  if (pending_length_ > 0 && bytes == pending_ + pending_length_ && length <= INT32_MAX - pending_length_) {
    pending_length_ += length;
    return 1;
  }
  if (!flush(file)) {
    return 0;  // the download ends here; these bytes go nowhere
  }
  pending_ = bytes;
  pending_length_ = length;
  return 1;
}

int qarn_coalesced_file_writer::flush(FILE *file) {
  if (pending_length_ <= 0) {
    return 1;
  }
  size_t length = static_cast<size_t>(pending_length_);
  pending_length_ = 0;
  return std::fwrite(pending_, 1, length, file) == length ? 1 : 0;
}
