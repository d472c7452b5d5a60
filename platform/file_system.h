// Directory creation and file status.
#ifndef TORVANE_PLATFORM_FILE_SYSTEM_H
#define TORVANE_PLATFORM_FILE_SYSTEM_H

#include <cstdint>

// platform_mkdir creates one directory. Returns 0 on success, -1 with errno
// set on failure (EEXIST when something of that name exists). |mode| is
// ignored where directory creation takes none.
int platform_mkdir(const char *path, int mode);

struct platform_file_status {
  int is_directory;
  int is_regular_file;
  int64_t size;               // 32-bit on the Windows status call, widened
  int64_t modification_time;  // seconds since 1970-01-01 00:00 UTC
};

// platform_stat fills |status| for |path|. Returns 1 on success, else 0.
int platform_stat(const char *path, platform_file_status *status);

#endif
