#include "platform/file_system.h"

#include <sys/stat.h>
#include <sys/types.h>

int platform_mkdir(const char *path, int mode) {
  return mkdir(path, static_cast<mode_t>(mode)) == 0 ? 0 : -1;
}

int platform_stat(const char *path, platform_file_status *status) {
  struct stat st;
  if (stat(path, &st) != 0) {
    return 0;
  }
  status->is_directory = S_ISDIR(st.st_mode) ? 1 : 0;
  status->is_regular_file = S_ISREG(st.st_mode) ? 1 : 0;
  status->size = static_cast<int64_t>(st.st_size);
  status->modification_time = static_cast<int64_t>(st.st_mtime);
  return 1;
}
