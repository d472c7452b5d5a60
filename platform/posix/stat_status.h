// The one translation of a POSIX stat result into a platform_file_status,
// shared by the path-based and the directory-relative lookups so that both
// judge a file alike.
#ifndef TORVANE_PLATFORM_POSIX_STAT_STATUS_H
#define TORVANE_PLATFORM_POSIX_STAT_STATUS_H

#include <sys/stat.h>

#include <cstdint>

#include "platform/file_system.h"

inline void platform_status_from_stat(const struct stat &st, platform_file_status *status) {
  status->is_directory = S_ISDIR(st.st_mode) ? 1 : 0;
  status->is_regular_file = S_ISREG(st.st_mode) ? 1 : 0;
  status->size = static_cast<int64_t>(st.st_size);
  status->modification_time = static_cast<int64_t>(st.st_mtime);
}

#endif
