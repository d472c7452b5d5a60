// Windows resolves the whole path at every call in any case: the directory
// is its path, and each status is platform_stat's (_wstati64) of the path
// joined with the name.
#include "platform/directory_status.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

struct platform_directory {
  char *path;  // owned, from malloc
  size_t path_len;
};

platform_directory *platform_open_directory(const char *path) {
  platform_file_status status;
  if (path[0] != '\0' && !platform_stat(path, &status)) {
    return nullptr;
  }
  if (path[0] != '\0' && !status.is_directory) {
    errno = ENOTDIR;
    return nullptr;
  }
  size_t path_len = std::strlen(path);
  platform_directory *directory = static_cast<platform_directory *>(std::malloc(sizeof(platform_directory)));
  char *copy = static_cast<char *>(std::malloc(path_len + 1));
  if (directory == nullptr || copy == nullptr) {
    std::free(directory);
    std::free(copy);
    errno = ENOMEM;
    return nullptr;
  }
  std::memcpy(copy, path, path_len + 1);
  directory->path = copy;
  directory->path_len = path_len;
  return directory;
}

int platform_stat_in_directory(platform_directory *directory, const char *name, platform_file_status *status) {
  if (name[0] == '\0') {
    return 0;
  }
  size_t path_len = directory->path_len;
  // A path that ends in a separator, such as a drive's root "C:/", takes
  // the name as it is.
  char last = path_len > 0 ? directory->path[path_len - 1] : '/';
  size_t separator_len = (last == '/' || last == '\\') ? 0 : 1;
  size_t name_len = std::strlen(name);
  char *file = static_cast<char *>(std::malloc(path_len + separator_len + name_len + 1));
  if (file == nullptr) {
    return 0;
  }
  std::memcpy(file, directory->path, path_len);
  std::memcpy(file + path_len, "/", separator_len);
  std::memcpy(file + path_len + separator_len, name, name_len + 1);
  int found = platform_stat(file, status);
  std::free(file);
  return found;
}

void platform_close_directory(platform_directory *directory) {
  if (directory == nullptr) {
    return;
  }
  std::free(directory->path);
  std::free(directory);
}
