#include "platform/new_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

// What fopen gives a file it creates; the process's umask takes its share.
constexpr mode_t NEW_FILE_MODE = S_IRUSR | S_IWUSR | S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH;

}  // namespace

int platform_unlink_file(const char *path) { return unlink(path) == 0 ? 0 : -1; }

FILE *platform_create_new_file(const char *path) {
  int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, NEW_FILE_MODE);
  if (fd < 0) {
    return nullptr;
  }
  FILE *file = fdopen(fd, "wb");
  if (file == nullptr) {
    int open_error = errno;
    close(fd);
    unlink(path);
    errno = open_error;
  }
  return file;
}
