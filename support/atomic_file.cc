#include "support/atomic_file.h"

#include <cstdlib>

#include "platform/file_system.h"
#include "platform/new_file.h"
#include "support/disk_flush.h"
#include "support/file_system.h"

namespace {

// Writes go to the disk in a few large pieces.
constexpr size_t STREAM_BUFFER_LEN = 64 * 1024;

}  // namespace

qarn_atomic_file::~qarn_atomic_file() { abandon(); }

FILE *qarn_atomic_file::open(const char *path) {
  abandon();
  path_.assign(path);
  temporary_.assign(path).append(QARN_ATOMIC_FILE_SUFFIX);
  // A cut name would write, and then replace, some other file.
  if (path == nullptr || temporary_.is_full()) {
    return nullptr;
  }
  // A file or link that holds the name is removed, a link itself rather
  // than what it leads to; a directory is not, and then the creation fails,
  // as it does should the name be taken again in between.
  platform_unlink_file(temporary_.text());
  file_ = platform_create_new_file(temporary_.text());
  if (file_ == nullptr) {
    return nullptr;
  }
  buffer_ = static_cast<char *>(std::malloc(STREAM_BUFFER_LEN));
  if (buffer_ != nullptr) {
    std::setvbuf(file_, buffer_, _IOFBF, STREAM_BUFFER_LEN);
  }
  return file_;
}

int qarn_atomic_file::commit() {
  if (file_ == nullptr) {
    return 0;
  }
  bool written = std::ferror(file_) == 0 && qarn_flush_to_disk(file_) == 0;
  bool closed = qarn_fclose(file_) == 0;
  file_ = nullptr;
  std::free(buffer_);
  buffer_ = nullptr;
  if (!written || !closed || platform_replace_file(temporary_.text(), path_.text()) != 0) {
    qarn_remove(temporary_.text());
    return 0;
  }
  return 1;
}

void qarn_atomic_file::abandon() {
  if (file_ == nullptr) {
    return;
  }
  qarn_fclose(file_);
  file_ = nullptr;
  std::free(buffer_);
  buffer_ = nullptr;
  qarn_remove(temporary_.text());
}
