// qarn_file_status_walker: the status of many files under one base path,
// each named relative to it ("d01/f000123.dat"), as the check of an
// installation asks for them. The directories that hold the files stay
// open, the QARN_WALKER_OPEN_DIRECTORIES used last, so that a directory's
// path is resolved once for all its files rather than once per file
// (platform/directory_status.h). Each answer is the one that
// qarn_filename_get_file_info gives for base + "/" + name (the name alone
// for an empty base): links are followed wherever they are.
#ifndef TORVANE_SUPPORT_FILE_STATUS_WALKER_H
#define TORVANE_SUPPORT_FILE_STATUS_WALKER_H

#include <cstddef>
#include <cstdint>

#include "support/file_system.h"

struct platform_directory;

// Directories held open at once: a manifest sorted by name moves between
// a directory and its subdirectories, and comes back to each.
constexpr int32_t QARN_WALKER_OPEN_DIRECTORIES = 8;

class qarn_file_status_walker {
 public:
  // |base_path| is borrowed and must outlive the walker; null or "" is the
  // current directory.
  explicit qarn_file_status_walker(const char *base_path);
  // Closes the directories held.
  ~qarn_file_status_walker();
  qarn_file_status_walker(const qarn_file_status_walker &) = delete;
  qarn_file_status_walker &operator=(const qarn_file_status_walker &) = delete;

  // get_file_info fills |info| with the status of the file |name| under the
  // base path. Returns 1 on success; 0 when the file has no status, or its
  // path does not fit a bounded string (|info| unchanged either way).
  int get_file_info(const char *name, qarn_file_info *info);

  // opened_count returns how many directories the walker has opened so
  // far: one per directory when the names come grouped by directory.
  int64_t opened_count() const { return opened_count_; }

 private:
  struct held_directory {
    char *prefix;                    // the names' part up to their last "/", owned; null: unused
    size_t prefix_len;
    platform_directory *directory;  // null when it could not be opened
    uint64_t last_use;
  };

  held_directory *hold(const char *name, size_t prefix_len);
  int get_by_path(const char *name, qarn_file_info *info) const;

  const char *base_path_;
  held_directory held_[QARN_WALKER_OPEN_DIRECTORIES] = {};
  uint64_t use_clock_ = 0;
  int64_t opened_count_ = 0;
};

#endif
