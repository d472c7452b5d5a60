// File-system helpers: creation of every directory along a path, a write
// test with a probe file, file status, a bounded line reader, and thin
// wrappers for opening, closing, renaming and removing files. Paths are
// UTF-8 (see platform/file_system.h); they may separate their components
// with "/" or "\" and may start with a drive letter ("C:") or a network
// prefix ("//server/"); paths built here always use "/".
#ifndef TORVANE_SUPPORT_FILE_SYSTEM_H
#define TORVANE_SUPPORT_FILE_SYSTEM_H

#include <cstdint>
#include <cstdio>

#include "support/bounded_string.h"

// The permission mode every caller passes: owner only. Windows ignores it.
constexpr int QARN_DIRECTORY_MODE = 0700;

// Probe file names: "xx", 6 random characters from 0-9 and a-v, ".qqq".
constexpr char QARN_PROBE_PREFIX[] = "xx";
constexpr int32_t QARN_PROBE_RANDOM_CHARS = 6;
constexpr char QARN_PROBE_SUFFIX[] = ".qqq";

struct qarn_file_info {
  int32_t is_directory;       // 1 if the path names a directory
  int32_t is_regular_file;    // 1 if the path names a regular file
  int64_t size;               // bytes
  int64_t modification_time;  // seconds since 1970-01-01 00:00 UTC
};

// qarn_recursive_mkdir creates every directory of |path| that is followed
// by a separator; the text after the last separator is never created, so a
// file path creates exactly its directories. Returns 1 if every creation
// succeeded or found something of that name already there, else 0 with the
// path that failed appended to |failing_path| (optional, may be null). A
// path too long for a bounded string fails instead of creating a cut-off
// name. Null |path|: report, 0.
int qarn_recursive_mkdir(const char *path, int mode, qarn_bounded_string_base *failing_path);

// qarn_create_and_check_writeable_directory creates directory |path| if
// needed and proves it writeable by creating and removing a probe file in
// it. An empty path probes the current directory and creates nothing. The
// probe path is |path| with "/" for every separator, then "/" and the name.
// Returns 1 on success; else 0 with the failing directory or probe path
// appended to |failing_path| (optional). Null |path|: report, 0.
int qarn_create_and_check_writeable_directory(const char *path, int mode,
                                              qarn_bounded_string_base *failing_path);

// qarn_filename_get_file_info fills |info| with the status of |path|.
// Returns 1 on success; 0 if the path has no status (|info| unchanged) or an
// argument is null (reported).
int qarn_filename_get_file_info(const char *path, qarn_file_info *info);

// fget_line reads one line of |file| into |line|, an array of |size| bytes,
// and terminates it. A line ends at a line feed, a carriage return, a NUL
// character or the end of the file; the end character is consumed and not
// stored, so CR LF gives the line and then an empty line. Characters beyond
// size - 1 are consumed and dropped; a line that fills size - 1 characters
// is reported as an overflow. Returns 0 at the end of the file (|line|
// untouched), else the stored length + 1. Null arguments or a size below 1:
// report, 0.
int fget_line(FILE *file, char *line, int32_t size);

// qarn_line_reader reads a whole file line by line with exactly the rules
// of fget_line, but through a buffer of its own: many short lines cost a
// scan of memory each instead of a stream read per character. It reads
// ahead, so the stream must not be read otherwise while it is in use.
class qarn_line_reader {
 public:
  // Reads |file| (borrowed; the caller closes it).
  explicit qarn_line_reader(FILE *file);
  ~qarn_line_reader();
  qarn_line_reader(const qarn_line_reader &) = delete;
  qarn_line_reader &operator=(const qarn_line_reader &) = delete;

  // next_line is fget_line(file, line, size): 0 at the end of the file,
  // else the stored length + 1, with the same overflow report.
  int next_line(char *line, int32_t size);

 private:
  bool fill();

  FILE *file_;
  char *buffer_;      // owned; null when it could not be had
  size_t begin_ = 0;  // next unread byte of buffer_
  size_t end_ = 0;    // bytes in buffer_
};

// qarn_fopen opens |path| like fopen; the caller closes the file with
// qarn_fclose. Null arguments: report, null.
FILE *qarn_fopen(const char *path, const char *mode);

// qarn_fclose closes |file| like fclose: 0 on success, EOF on failure
// (also for a null file, after a report).
int qarn_fclose(FILE *file);

// qarn_remove removes file |path| like remove: 0 on success, else nonzero
// (also for a null path, after a report).
int qarn_remove(const char *path);

// qarn_rename renames file |from| to |to| like rename (an existing |to| is
// replaced on POSIX and refused on Windows): 0 on success, else nonzero
// with errno set, or nonzero after a report for a null path.
int qarn_rename(const char *from, const char *to);

// The directory creation call: returns 0 on success, or -1 with errno set
// (EEXIST when something of that name exists).
using qarn_mkdir_function = int (*)(const char *path, int mode);

// qarn_set_mkdir_function makes qarn_recursive_mkdir create directories
// through |function|, or through the platform again when it is null. Tests
// use it to see the exact paths that are tried.
void qarn_set_mkdir_function(qarn_mkdir_function function);

#endif
