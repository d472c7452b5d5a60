// Windows flushes a whole volume only for administrators
// (FlushFileBuffers on the volume's handle): files are flushed one by one.
#include "platform/file_sync.h"

#include <cerrno>

int platform_can_flush_file_systems() { return 0; }

int platform_flush_file_system(const char *path) {
  (void)path;
  errno = ENOSYS;
  return -1;
}
