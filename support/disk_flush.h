// Making written files durable: a file is durable once the system has its
// bytes on the disk; until then a power loss can leave it with its size but
// other bytes in it.
//
// A single stream is flushed with qarn_flush_to_disk before it is closed. A
// batch of files that are written, closed and then renamed into place is
// made durable in two steps, and each system does the work in the step
// where it costs least:
//
//   qarn_flush_new_file(path)   for each file, once it is closed and
//                               before it is renamed;
//   qarn_flush_new_files(path)  once for the batch, after the renames and
//                               before anything vouches for the files, with
//                               a directory on the file system that holds
//                               them.
//
// Where the system can flush a whole file system in one call (Linux), the
// first step does nothing and the second makes that call: for thousands of
// small files one flush costs about what a single file's does. Elsewhere
// (Windows) the first step flushes each file and the second does nothing.
//
// Tests put other calls in place of these three (qarn_set_disk_flush_calls)
// to make the disk fail, or to watch when it is asked.
#ifndef TORVANE_SUPPORT_DISK_FLUSH_H
#define TORVANE_SUPPORT_DISK_FLUSH_H

#include <cstdio>

// qarn_flush_to_disk hands the buffered bytes of the open stream |file| to
// the system and waits until they are on the disk. Returns 0, or -1.
int qarn_flush_to_disk(FILE *file);

// qarn_flush_new_file does the first step for the closed file |path|.
// Returns 0, or -1 when the file could not be flushed.
int qarn_flush_new_file(const char *path);

// qarn_flush_new_files does the second step for the file system that holds
// the directory |path|. Returns 0, or -1 when it could not be flushed (a
// write error included): the files of the batch may not be durable then.
int qarn_flush_new_files(const char *path);

// The three calls above, replaceable together.
struct qarn_disk_flush_calls {
  int (*flush_to_disk)(FILE *file);
  int (*flush_new_file)(const char *path);
  int (*flush_new_files)(const char *path);
};

// qarn_set_disk_flush_calls makes the three functions above call |calls|
// (copied; a null member stands for the system's call), or the system's
// again when |calls| is null. For tests.
void qarn_set_disk_flush_calls(const qarn_disk_flush_calls *calls);

#endif
