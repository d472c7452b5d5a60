// CREATE_NEW through the wide call: the name arrives as UTF-8 and reaches
// the system as UTF-16, never through the ANSI code page. CREATE_NEW fails
// on any existing name, a link's included, so nothing is written through a
// link.
#include "platform/new_file.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// The longest path that the wide calls take, in UTF-16 units with the
// terminator.
constexpr int LONGEST_WIDE_PATH = 32768;

// Returns the UTF-16 form of |utf8|, which the caller frees with free(); or
// null with errno set: EILSEQ for text that is not valid UTF-8 (it is never
// turned into some other name), ENAMETOOLONG past LONGEST_WIDE_PATH.
wchar_t *wide_copy_of(const char *utf8) {
  int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, nullptr, 0);
  if (units <= 0) {
    errno = EILSEQ;
    return nullptr;
  }
  if (units > LONGEST_WIDE_PATH) {
    errno = ENAMETOOLONG;
    return nullptr;
  }
  wchar_t *wide = static_cast<wchar_t *>(std::malloc(static_cast<size_t>(units) * sizeof(wchar_t)));
  if (wide == nullptr) {
    errno = ENOMEM;
    return nullptr;
  }
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, wide, units);
  return wide;
}

int errno_of(DWORD error) {
  switch (error) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return EACCES;
    default:
      return EIO;
  }
}

}  // namespace

// DeleteFileW removes a file, or a link to a file itself; it refuses a
// directory.
int platform_unlink_file(const char *path) {
  wchar_t *wide_path = path != nullptr ? wide_copy_of(path) : nullptr;
  if (wide_path == nullptr) {
    if (path == nullptr) {
      errno = EINVAL;
    }
    return -1;
  }
  BOOL removed = DeleteFileW(wide_path);
  if (!removed) {
    errno = errno_of(GetLastError());
  }
  std::free(wide_path);
  return removed ? 0 : -1;
}

FILE *platform_create_new_file(const char *path) {
  if (path == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  wchar_t *wide_path = wide_copy_of(path);
  if (wide_path == nullptr) {
    return nullptr;
  }
  // Shared for reading and writing, as fopen shares the files it opens.
  HANDLE handle = CreateFileW(wide_path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    errno = errno_of(GetLastError());
    std::free(wide_path);
    return nullptr;
  }
  // The descriptor takes the handle over, and the stream the descriptor.
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
  FILE *file = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
  if (file == nullptr) {
    if (fd >= 0) {
      _close(fd);
    } else {
      CloseHandle(handle);
    }
    DeleteFileW(wide_path);
    errno = EMFILE;
  }
  std::free(wide_path);
  return file;
}
