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

// Room for the directory and the lock name.
constexpr size_t LOCK_PATH_LEN = 4096;
// Room for "-" and a user id.
constexpr size_t USER_SUFFIX_LEN = 32;
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

// Builds |directory| + "/" + |name| + |suffix| into |out|.
bool build_lock_path(const char *directory, const char *name, const char *suffix, char *out,
                     size_t out_len) {
  int written = std::snprintf(out, out_len, "%s/", directory);
  if (written < 0 || static_cast<size_t>(written) >= out_len) {
    return false;
  }
  append_file_name(out, out_len, name);
  size_t used = std::strlen(out);
  written = std::snprintf(out + used, out_len - used, "%s", suffix);
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

// Opens the lock file in the per-user runtime directory when the session
// has one, else in the shared temporary directory with the user id in its
// name. Returns the descriptor, or -1.
int open_user_lock_file(const char *name) {
  char path[LOCK_PATH_LEN];
  const char *runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/' &&
      build_lock_path(runtime, name, "", path, sizeof(path))) {
    int fd = open_lock_file(path);
    if (fd >= 0) {
      return fd;
    }
  }
  char user_suffix[USER_SUFFIX_LEN];
  std::snprintf(user_suffix, sizeof(user_suffix), "-%lu", static_cast<unsigned long>(geteuid()));
  if (!build_lock_path(SHARED_TEMPORARY_DIRECTORY, name, user_suffix, path, sizeof(path))) {
    return -1;
  }
  return open_lock_file(path);
}

}  // namespace

platform_lock_result platform_lock_acquire(const char *name, platform_lock_handle *handle) {
  if (name == nullptr || handle == nullptr) {
    return PLATFORM_LOCK_FAILED;
  }
  int fd = open_user_lock_file(name);
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
