// The single-instance lock as an advisory write lock on a file of the
// installation (the current directory).
//
// Why the file sits in the installation: what must never happen is two
// updaters on one installation, so the lock must be the same object for
// every launcher of that installation, whatever environment it was started
// with and whatever user it runs as. A lock file in a per-user or
// per-session directory gave each of those its own lock.
//
// Why a write lock: taking it needs a descriptor open for writing, and the
// file grants writing only to those who can write the installation anyway.
// Anybody else can neither create the file nor open it, so cannot hold it.
//
// Why open-file-description locks: they belong to the open file, so a
// second open in this process conflicts just as another process would, and
// the kernel drops them when the last descriptor closes (the holder ends, or
// execs: the descriptor is close-on-exec). flock() has the same semantics
// and stands in where the kernel has no such locks.
#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// Never follow a link planted under the lock name, never wait on a planted
// FIFO or device, never let the file reach a started program.
constexpr int LOCK_OPEN_FLAGS = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
// Nobody but the creator may open a new lock file before its access is set.
constexpr mode_t LOCK_FILE_CREATE_MODE = 0600;
constexpr mode_t OWNER_READ_WRITE = S_IRUSR | S_IWUSR;
constexpr mode_t GROUP_READ_WRITE = S_IRGRP | S_IWGRP;
// A lock file removed between the create and the open of another launcher
// is made again; a name that keeps vanishing is somebody's game.
constexpr int OPEN_ATTEMPTS = 3;
constexpr uid_t ROOT_USER = 0;
const char INSTALLATION_DIRECTORY[] = ".";

// Whether this process may add files to the installation. It decides what a
// lock file that cannot be opened means: someone else's file in an
// installation we can change (refuse), or an installation we cannot change
// at all, which therefore cannot be raced (go on without a lock).
bool can_write_installation() {
  return faccessat(AT_FDCWD, INSTALLATION_DIRECTORY, W_OK, AT_EACCESS) == 0;
}

// Gives a new lock file to the installation's owner, and to its group when
// the group may write the installation: they are exactly those who may
// write it. The creator's group could hold users who may not, and a file
// left to root by an elevated run would shut its owner out.
void grant_access_of_installation(int fd) {
  struct stat installation;
  if (stat(INSTALLATION_DIRECTORY, &installation) != 0) {
    return;  // the file keeps its creator-only access
  }
  if (geteuid() == ROOT_USER) {
    (void)fchown(fd, installation.st_uid, static_cast<gid_t>(-1));
  }
  mode_t mode = OWNER_READ_WRITE;
  if ((installation.st_mode & S_IWGRP) != 0 &&
      fchown(fd, static_cast<uid_t>(-1), installation.st_gid) == 0) {
    mode |= GROUP_READ_WRITE;
  }
  // Set after the create: the umask must not take the group's write bit.
  (void)fchmod(fd, mode);
}

// Opens the lock file |name| for writing, creating it when it is missing.
// An existing file is never removed and made again: a holder of the old
// file would then miss the holder of the new one. Returns the descriptor,
// or -1 with errno set.
int open_lock_file(const char *name) {
  for (int attempt = 0; attempt < OPEN_ATTEMPTS; attempt++) {
    int fd = open(name, LOCK_OPEN_FLAGS | O_CREAT | O_EXCL, LOCK_FILE_CREATE_MODE);
    if (fd >= 0) {
      grant_access_of_installation(fd);
      return fd;
    }
    if (errno != EEXIST) {
      return -1;
    }
    fd = open(name, LOCK_OPEN_FLAGS);
    if (fd >= 0 || errno != ENOENT) {
      return fd;
    }
  }
  return -1;
}

// Only a plain file can be the lock: a FIFO or a device under its name was
// planted.
bool is_regular_file(int fd) {
  struct stat status;
  return fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
}

// Takes the write lock on the whole of |fd| without waiting.
platform_lock_result lock_whole_file(int fd) {
#ifdef F_OFD_SETLK
  struct flock whole;
  std::memset(&whole, 0, sizeof(whole));
  whole.l_type = F_WRLCK;
  whole.l_whence = SEEK_SET;  // from offset 0, length 0: to the end, however long
  if (fcntl(fd, F_OFD_SETLK, &whole) == 0) {
    return PLATFORM_LOCK_ACQUIRED;
  }
  if (errno == EAGAIN || errno == EACCES) {
    return PLATFORM_LOCK_HELD_ELSEWHERE;
  }
  if (errno != EINVAL) {
    return PLATFORM_LOCK_FAILED;
  }
  // EINVAL: a kernel without open-file-description locks.
#endif
  int result;
  do {
    result = flock(fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result == 0) {
    return PLATFORM_LOCK_ACQUIRED;
  }
  return errno == EWOULDBLOCK ? PLATFORM_LOCK_HELD_ELSEWHERE : PLATFORM_LOCK_FAILED;
}

// Drops whichever of the two locks lock_whole_file took. Unlocking before
// the close also frees the lock when a forked child still shares the open
// file on its way to an exec.
void unlock_whole_file(int fd) {
#ifdef F_OFD_SETLK
  struct flock whole;
  std::memset(&whole, 0, sizeof(whole));
  whole.l_type = F_UNLCK;
  whole.l_whence = SEEK_SET;
  (void)fcntl(fd, F_OFD_SETLK, &whole);
#endif
  (void)flock(fd, LOCK_UN);
}

// What a lock file that cannot be used means for this process.
platform_lock_result unusable_lock_file() {
  return can_write_installation() ? PLATFORM_LOCK_FAILED : PLATFORM_LOCK_NOT_NEEDED;
}

// A lock name is one file name of the installation: a slash would lead
// elsewhere.
bool is_file_name(const char *name) {
  return name[0] != '\0' && std::strchr(name, '/') == nullptr;
}

}  // namespace

platform_lock_result platform_lock_acquire(const char *name, platform_lock_handle *handle) {
  if (handle == nullptr) {
    return PLATFORM_LOCK_FAILED;
  }
  *handle = PLATFORM_LOCK_NO_HANDLE;
  if (name == nullptr || !is_file_name(name)) {
    return PLATFORM_LOCK_FAILED;
  }
  int fd = open_lock_file(name);
  if (fd < 0) {
    return unusable_lock_file();
  }
  if (!is_regular_file(fd)) {
    close(fd);
    return unusable_lock_file();
  }
  platform_lock_result result = lock_whole_file(fd);
  if (result != PLATFORM_LOCK_ACQUIRED) {
    close(fd);
    return result;
  }
  *handle = fd;
  return PLATFORM_LOCK_ACQUIRED;
}

void platform_lock_release(platform_lock_handle handle) {
  if (handle == PLATFORM_LOCK_NO_HANDLE) {
    return;
  }
  int fd = static_cast<int>(handle);
  unlock_whole_file(fd);
  close(fd);
}
