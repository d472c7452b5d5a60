#include "support/file_status_walker.h"

#include <cstdlib>
#include <cstring>

#include "platform/directory_status.h"

namespace {

// Joins the base path and |name| as the single-path check does, with "/"
// between them when the base is not empty.
void append_under_base(qarn_bounded_string_base &path, const char *base_path, const char *name, size_t name_len) {
  if (base_path[0] != '\0') {
    path.append(base_path).append("/");
  }
  path.append_bytes(name, static_cast<int32_t>(name_len));
}

void copy_status(const platform_file_status &status, qarn_file_info *info) {
  info->is_directory = status.is_directory;
  info->is_regular_file = status.is_regular_file;
  info->size = status.size;
  info->modification_time = status.modification_time;
}

}  // namespace

qarn_file_status_walker::qarn_file_status_walker(const char *base_path)
    : base_path_(base_path != nullptr ? base_path : "") {}

qarn_file_status_walker::~qarn_file_status_walker() {
  for (held_directory &held : held_) {
    platform_close_directory(held.directory);
    std::free(held.prefix);
  }
}

int qarn_file_status_walker::get_file_info(const char *name, qarn_file_info *info) {
  const char *last_slash = std::strrchr(name, '/');
  size_t prefix_len = last_slash != nullptr ? static_cast<size_t>(last_slash - name) + 1 : 0;
  const char *leaf = name + prefix_len;
  // A name that ends in "/" leaves no file name to look up in a directory.
  held_directory *held = leaf[0] != '\0' ? hold(name, prefix_len) : nullptr;
  if (held == nullptr || held->directory == nullptr) {
    return get_by_path(name, info);
  }
  platform_file_status status;
  if (!platform_stat_in_directory(held->directory, leaf, &status)) {
    return 0;
  }
  copy_status(status, info);
  return 1;
}

// The held directory of the names that start with the |prefix_len| bytes
// of |name|, opened now if it is not held yet (in place of the one used
// longest ago). Null when memory ran out.
qarn_file_status_walker::held_directory *qarn_file_status_walker::hold(const char *name, size_t prefix_len) {
  held_directory *oldest = &held_[0];
  for (held_directory &held : held_) {
    if (held.prefix != nullptr && held.prefix_len == prefix_len && std::memcmp(held.prefix, name, prefix_len) == 0) {
      held.last_use = ++use_clock_;
      return &held;
    }
    if (held.prefix == nullptr || held.last_use < oldest->last_use) {
      oldest = &held;
    }
  }
  char *prefix = static_cast<char *>(std::malloc(prefix_len + 1));
  if (prefix == nullptr) {
    return nullptr;
  }
  std::memcpy(prefix, name, prefix_len);
  prefix[prefix_len] = '\0';
  platform_close_directory(oldest->directory);
  std::free(oldest->prefix);
  oldest->prefix = prefix;
  oldest->prefix_len = prefix_len;
  oldest->last_use = ++use_clock_;
  // A directory that cannot be opened (missing, no permission to read it,
  // too long a path) is held as such: its files are looked up by their
  // whole paths, which gives the answer the system gives for them.
  qarn_bounded_string path;
  if (prefix_len == 0) {
    path.append(base_path_);
  } else {
    // The directory's path ends without the names' "/", as the system's
    // calls on Windows want it; only the root keeps it.
    append_under_base(path, base_path_, name, prefix_len > 1 ? prefix_len - 1 : prefix_len);
  }
  oldest->directory = path.is_full() ? nullptr : platform_open_directory(path.text());
  opened_count_++;
  return oldest;
}

int qarn_file_status_walker::get_by_path(const char *name, qarn_file_info *info) const {
  qarn_bounded_string path;
  append_under_base(path, base_path_, name, std::strlen(name));
  return !path.is_full() && qarn_filename_get_file_info(path.text(), info);
}
