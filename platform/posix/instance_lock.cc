// The named lock as an advisory file lock. flock() locks belong to the open
// file, so the kernel drops them when the holder dies, and a second open in
// the same process conflicts just as another process would.
#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Room for the directory, the lock name and the user id.
constexpr size_t LOCK_PATH_LEN = 4096;
// Only the owner may open the lock file.
constexpr mode_t LOCK_FILE_MODE = 0600;
// Shared by the users of the machine; the user id in the name keeps their
// locks apart.
const char SHARED_TEMPORARY_DIRECTORY[] = "/tmp";

// A lock name is one file name: a slash must not lead elsewhere.
void append_file_name(char *out, size_t out_len, const char *name) {
  size_t used = std::strlen(out);
  for (; *name != '\0' && used + 1 < out_len; name++) {
    out[used++] = (*name == '/') ? '_' : *name;
  }
  out[used] = '\0';
}

// The per-user runtime directory when the session has one, else the shared
// temporary directory with the user id in the file name.
bool build_lock_path(const char *name, char *out, size_t out_len) {
  const char *runtime = std::getenv("XDG_RUNTIME_DIR");
  int written;
  if (runtime != nullptr && runtime[0] == '/') {
    written = std::snprintf(out, out_len, "%s/", runtime);
    if (written < 0 || static_cast<size_t>(written) >= out_len) {
      return false;
    }
    append_file_name(out, out_len, name);
    return true;
  }
  written = std::snprintf(out, out_len, "%s/", SHARED_TEMPORARY_DIRECTORY);
  if (written < 0 || static_cast<size_t>(written) >= out_len) {
    return false;
  }
  append_file_name(out, out_len, name);
  size_t used = std::strlen(out);
  written = std::snprintf(out + used, out_len - used, "-%lu",
                          static_cast<unsigned long>(geteuid()));
  return written >= 0 && static_cast<size_t>(written) < out_len - used;
}

// Opens the lock file without following links; in a shared directory a
// file that belongs to someone else is refused.
int open_lock_file(const char *path) {
  int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, LOCK_FILE_MODE);
  if (fd < 0) {
    return -1;
  }
  struct stat status;
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != geteuid()) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

platform_lock_result platform_lock_acquire(const char *name, platform_lock_handle *handle) {
  char path[LOCK_PATH_LEN];
  if (name == nullptr || handle == nullptr || !build_lock_path(name, path, sizeof(path))) {
    return PLATFORM_LOCK_FAILED;
  }
  int fd = open_lock_file(path);
  if (fd < 0) {
    return PLATFORM_LOCK_FAILED;
  }
  int result;
  do {
    result = flock(fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    int error = errno;
    close(fd);
    return error == EWOULDBLOCK ? PLATFORM_LOCK_HELD_ELSEWHERE : PLATFORM_LOCK_FAILED;
  }
  *handle = fd;
  return PLATFORM_LOCK_ACQUIRED;
}

void platform_lock_release(platform_lock_handle handle) {
  int fd = static_cast<int>(handle);
  flock(fd, LOCK_UN);
  close(fd);
}
