// qarn_atomic_file: a file that appears under its name only once it is
// complete. It is written as the name plus ".tmp" beside it, flushed to the
// disk and then renamed over the name in one step, so a crash, a power loss
// or a full disk leaves either the old file or the new one, never a part.
// The temporary file is always made new, never opened through a link that
// someone planted under its name: such a link would make the writer write
// over the file the link leads to, and then put the link in place.
#ifndef TORVANE_SUPPORT_ATOMIC_FILE_H
#define TORVANE_SUPPORT_ATOMIC_FILE_H

#include <cstdio>

#include "support/bounded_string.h"

// Suffix of the file being written.
constexpr char QARN_ATOMIC_FILE_SUFFIX[] = ".tmp";

class qarn_atomic_file {
 public:
  qarn_atomic_file() = default;
  // Abandons a file that was opened and not committed.
  ~qarn_atomic_file();
  qarn_atomic_file(const qarn_atomic_file &) = delete;
  qarn_atomic_file &operator=(const qarn_atomic_file &) = delete;

  // open starts writing the file that is to replace |path|. A temporary
  // file left by an earlier writer, or a link of that name, is removed,
  // and the temporary file created new (platform_create_new_file). Returns
  // the stream to write to (owned by this object, valid until commit or
  // abandon), or null when it cannot be created (a directory holds the
  // temporary name, say).
  FILE *open(const char *path);
  // commit flushes the stream to the disk, closes it and renames it over
  // the path given to open. Returns 1; or 0 when any step failed (a write
  // error seen by the stream included), and then the path holds what it
  // held before and the temporary file is gone.
  int commit();
  // abandon closes and removes the temporary file.
  void abandon();

 private:
  FILE *file_ = nullptr;
  char *buffer_ = nullptr;  // the stream's buffer, owned
  qarn_bounded_string path_;
  qarn_bounded_string temporary_;
};

#endif
