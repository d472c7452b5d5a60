// syncfs on Linux. Since Linux 5.8 it also reports a write-back error of
// the file system that no one has seen yet, one from before the directory
// was opened included.
#include "platform/file_sync.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#if defined(__linux__)

int platform_can_flush_file_systems() { return 1; }

int platform_flush_file_system(const char *path) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return -1;
  }
  int flushed = syncfs(fd);
  int flush_error = errno;
  close(fd);
  errno = flush_error;
  return flushed == 0 ? 0 : -1;
}

#else

int platform_can_flush_file_systems() { return 0; }

int platform_flush_file_system(const char *path) {
  (void)path;
  errno = ENOSYS;
  return -1;
}

#endif
