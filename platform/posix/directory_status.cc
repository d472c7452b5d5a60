#include "platform/directory_status.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>

#include "platform/posix/stat_status.h"

// A descriptor that only names the directory is enough for fstatat.
#ifdef O_PATH
constexpr int DIRECTORY_OPEN_FLAGS = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int DIRECTORY_OPEN_FLAGS = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

struct platform_directory {
  int descriptor;
};

platform_directory *platform_open_directory(const char *path) {
  int descriptor = open(path[0] != '\0' ? path : ".", DIRECTORY_OPEN_FLAGS);
  if (descriptor < 0) {
    return nullptr;
  }
  platform_directory *directory = new (std::nothrow) platform_directory{descriptor};
  if (directory == nullptr) {
    close(descriptor);
  }
  return directory;
}

int platform_stat_in_directory(platform_directory *directory, const char *name, platform_file_status *status) {
  struct stat st;
  if (name[0] == '\0' || fstatat(directory->descriptor, name, &st, 0) != 0) {
    return 0;
  }
  platform_status_from_stat(st, status);
  return 1;
}

void platform_close_directory(platform_directory *directory) {
  if (directory == nullptr) {
    return;
  }
  close(directory->descriptor);
  delete directory;
}
