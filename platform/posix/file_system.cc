#include "platform/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/posix/stat_status.h"

FILE *platform_fopen(const char *path, const char *mode) { return std::fopen(path, mode); }

int platform_remove(const char *path) { return std::remove(path) == 0 ? 0 : -1; }

int platform_rename(const char *from, const char *to) { return std::rename(from, to) == 0 ? 0 : -1; }

int platform_mkdir(const char *path, int mode) {
  return mkdir(path, static_cast<mode_t>(mode)) == 0 ? 0 : -1;
}

int platform_stat(const char *path, platform_file_status *status) {
  struct stat st;
  if (stat(path, &st) != 0) {
    return 0;
  }
  platform_status_from_stat(st, status);
  return 1;
}

int32_t platform_read_line_chars(FILE *file, char *out, int32_t room, int32_t *stored, int *end) {
  flockfile(file);
  int32_t consumed = 0;
  int32_t kept = 0;
  int c = getc_unlocked(file);
  for (; c != EOF && c != '\n' && c != '\r' && c != '\0'; c = getc_unlocked(file)) {
    if (kept < room) {
      out[kept++] = static_cast<char>(c);
    }
    // Only whether anything came matters past this many.
    if (consumed < INT32_MAX) {
      consumed++;
    }
  }
  funlockfile(file);
  *stored = kept;
  *end = c;
  return consumed;
}

int platform_flush_file_to_disk(FILE *file) {
  if (std::fflush(file) != 0) {
    return -1;
  }
  return fsync(fileno(file)) == 0 ? 0 : -1;
}

namespace {

// The directory entry of a renamed file reaches the disk only with its
// directory. A failure here leaves the rename done, just less durable.
void flush_directory_of(const char *path) {
  std::string directory(path);
  size_t slash = directory.find_last_of('/');
  if (slash == std::string::npos) {
    directory = ".";
  } else {
    directory.resize(slash == 0 ? 1 : slash);
  }
  int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
}

}  // namespace

int platform_replace_file(const char *from, const char *to) {
  if (std::rename(from, to) != 0) {
    return -1;
  }
  flush_directory_of(to);
  return 0;
}

int platform_has_windows_file_names() { return 0; }

FILE *platform_create_private_file(const char *path) {
  int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, S_IRUSR | S_IWUSR);
  if (fd < 0) {
    return nullptr;
  }
  FILE *file = fdopen(fd, "wb");
  if (file == nullptr) {
    close(fd);
    unlink(path);
  }
  return file;
}
