// Directory creation and file status through the C runtime; the durable
// file replacement through the kernel.
#include "platform/file_system.h"

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>

int platform_mkdir(const char *path, int mode) {
  (void)mode;  // _mkdir takes no permission mode
  return _mkdir(path);
}

// _stat's size field has 32 bits on both builds, i686 and x86_64, and
// cannot tell a file of 2 GiB or more; _stati64 (and _wstati64, which fills
// the same record) has 64 bits on both.
static_assert(sizeof(static_cast<struct _stati64 *>(nullptr)->st_size) == sizeof(int64_t),
              "_stati64 reports sizes in 64 bits on every Windows build");

int platform_stat(const char *path, platform_file_status *status) {
  struct _stati64 info;
  if (_stati64(path, &info) != 0) {
    return 0;
  }
  status->is_directory = (info.st_mode & _S_IFDIR) != 0 ? 1 : 0;
  status->is_regular_file = (info.st_mode & _S_IFREG) != 0 ? 1 : 0;
  status->size = static_cast<int64_t>(info.st_size);
  status->modification_time = static_cast<int64_t>(info.st_mtime);
  return 1;
}

// msvcrt.dll has no unlocked character read: each read takes the lock.
int32_t platform_read_line_chars(FILE *file, char *out, int32_t room, int32_t *stored, int *end) {
  int32_t consumed = 0;
  int32_t kept = 0;
  int c = std::fgetc(file);
  for (; c != EOF && c != '\n' && c != '\r' && c != '\0'; c = std::fgetc(file)) {
    if (kept < room) {
      out[kept++] = static_cast<char>(c);
    }
    // Only whether anything came matters past this many.
    if (consumed < INT32_MAX) {
      consumed++;
    }
  }
  *stored = kept;
  *end = c;
  return consumed;
}

int platform_flush_file_to_disk(FILE *file) {
  if (std::fflush(file) != 0) {
    return -1;
  }
  return _commit(_fileno(file)) == 0 ? 0 : -1;
}

int platform_replace_file(const char *from, const char *to) {
  // Write-through: the call returns once the move is on the disk.
  DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
  return MoveFileExA(from, to, flags) ? 0 : -1;
}

int platform_reserves_device_names() { return 1; }

FILE *platform_create_private_file(const char *path) {
  // The file inherits its directory's access list; the read-only bit is not
  // set, so that its owner can replace it.
  int fd = _open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd < 0) {
    return nullptr;
  }
  FILE *file = _fdopen(fd, "wb");
  if (file == nullptr) {
    _close(fd);
    std::remove(path);
  }
  return file;
}
