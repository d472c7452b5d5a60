// Files through the C runtime's and the kernel's wide calls: every name
// arrives as UTF-8 and goes to the system as UTF-16 (platform/win32/
// wide_text.h), so that no name passes through the ANSI code page.
#include "platform/file_system.h"

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "platform/win32/wide_text.h"

FILE *platform_fopen(const char *path, const char *mode) {
  win32_wide_text wide_path(path);
  win32_wide_text wide_mode(mode);
  if (wide_path.text() == nullptr || wide_mode.text() == nullptr) {
    return nullptr;
  }
  return _wfopen(wide_path.text(), wide_mode.text());
}

int platform_remove(const char *path) {
  win32_wide_text wide_path(path);
  if (wide_path.text() == nullptr) {
    return -1;
  }
  return _wremove(wide_path.text()) == 0 ? 0 : -1;
}

int platform_rename(const char *from, const char *to) {
  win32_wide_text wide_from(from);
  win32_wide_text wide_to(to);
  if (wide_from.text() == nullptr || wide_to.text() == nullptr) {
    return -1;
  }
  return _wrename(wide_from.text(), wide_to.text()) == 0 ? 0 : -1;
}

int platform_mkdir(const char *path, int mode) {
  (void)mode;  // _wmkdir takes no permission mode
  win32_wide_text wide_path(path);
  if (wide_path.text() == nullptr) {
    return -1;
  }
  return _wmkdir(wide_path.text()) == 0 ? 0 : -1;
}

// _wstat's size field has 32 bits on both builds, i686 and x86_64, and
// cannot tell a file of 2 GiB or more; _wstati64 fills a struct _stati64,
// whose size field has 64 bits on both.
static_assert(sizeof(static_cast<struct _stati64 *>(nullptr)->st_size) == sizeof(int64_t),
              "_wstati64 reports sizes in 64 bits on every Windows build");

int platform_stat(const char *path, platform_file_status *status) {
  win32_wide_text wide_path(path);
  struct _stati64 info;
  if (wide_path.text() == nullptr || _wstati64(wide_path.text(), &info) != 0) {
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
  win32_wide_text wide_from(from);
  win32_wide_text wide_to(to);
  if (wide_from.text() == nullptr || wide_to.text() == nullptr) {
    return -1;
  }
  // Write-through: the call returns once the move is on the disk.
  DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
  return MoveFileExW(wide_from.text(), wide_to.text(), flags) ? 0 : -1;
}

int platform_has_windows_file_names() { return 1; }

FILE *platform_create_private_file(const char *path) {
  win32_wide_text wide_path(path);
  if (wide_path.text() == nullptr) {
    return nullptr;
  }
  // The file inherits its directory's access list; the read-only bit is not
  // set, so that its owner can replace it.
  int fd = _wopen(wide_path.text(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd < 0) {
    return nullptr;
  }
  FILE *file = _fdopen(fd, "wb");
  if (file == nullptr) {
    _close(fd);
    _wremove(wide_path.text());
  }
  return file;
}
