#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Shell error codes that the POSIX failures map onto.
constexpr int SHELL_ERROR_UNKNOWN = 1;
constexpr int SHELL_ERROR_FILE_NOT_FOUND = 2;
constexpr int SHELL_ERROR_PATH_NOT_FOUND = 3;
constexpr int SHELL_ERROR_ACCESS_DENIED = 5;
constexpr int SHELL_ERROR_OUT_OF_MEMORY = 8;
constexpr int SHELL_ERROR_BAD_FORMAT = 11;

// Descriptors from here on belong to the program, not to the standard streams.
constexpr int FIRST_PRIVATE_FD = 3;
// Most parameter words an elevated start passes on.
constexpr int MAX_PARAMETER_WORDS = 32;
constexpr size_t PARAMETER_TEXT_LEN = 1024;

// Runs the program in the launcher's directory: pkexec starts its programs
// in the target user's home directory.
const char ELEVATED_SHELL[] = "/bin/sh";
const char ELEVATED_SCRIPT[] = "cd -- \"$1\" || exit 1; shift; exec \"$@\"";
const char ELEVATED_SCRIPT_NAME[] = "torvane-elevated";
const char *const ELEVATION_HELPERS[] = {"pkexec", "sudo"};

// A client delivered by the update server is a plain file: without the
// execute permission it could never be started.
void grant_owner_execute(const char *path) {
  struct stat status;
  if (stat(path, &status) != 0 || !S_ISREG(status.st_mode) || (status.st_mode & S_IXUSR) != 0) {
    return;
  }
  chmod(path, (status.st_mode & 07777) | S_IXUSR);
}

void mark_close_on_exec(int fd) {
  int flags = fcntl(fd, F_GETFD);
  if (flags >= 0 && (flags & FD_CLOEXEC) == 0) {
    fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
  }
}

// Walks the descriptors this process has open.
void mark_listed_descriptors_close_on_exec() {
  DIR *directory = opendir("/proc/self/fd");
  if (directory == nullptr) {
    return;
  }
  int own_fd = dirfd(directory);
  while (struct dirent *entry = readdir(directory)) {
    char *end = nullptr;
    long fd = std::strtol(entry->d_name, &end, 10);
    if (end != entry->d_name && *end == '\0' && fd >= FIRST_PRIVATE_FD && fd != own_fd) {
      mark_close_on_exec(static_cast<int>(fd));
    }
  }
  closedir(directory);
}

// Everything is opened close-on-exec already; this makes sure that nothing
// opened elsewhere (a library, a forgotten file) reaches the next program.
void mark_descriptors_close_on_exec() {
#ifdef CLOSE_RANGE_CLOEXEC
  if (close_range(FIRST_PRIVATE_FD, ~0U, CLOSE_RANGE_CLOEXEC) == 0) {
    return;
  }
#endif
  mark_listed_descriptors_close_on_exec();
}

int shell_error_from_errno(int error) {
  switch (error) {
    case ENOENT:
      return SHELL_ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return SHELL_ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
      return SHELL_ERROR_ACCESS_DENIED;
    case ENOMEM:
      return SHELL_ERROR_OUT_OF_MEMORY;
    case ENOEXEC:
      return SHELL_ERROR_BAD_FORMAT;
    default:
      return SHELL_ERROR_UNKNOWN;
  }
}

// Finds |program| the way a shell would and writes its absolute path to
// |out| (PATH_MAX bytes). Returns 0, or the shell error code.
int search_path(const char *program, char *out) {
  const char *path = std::getenv("PATH");
  if (path == nullptr) {
    return SHELL_ERROR_FILE_NOT_FOUND;
  }
  char candidate[PATH_MAX];
  while (*path != '\0') {
    const char *end = std::strchr(path, ':');
    size_t length = end != nullptr ? static_cast<size_t>(end - path) : std::strlen(path);
    int written = std::snprintf(candidate, sizeof(candidate), "%.*s/%s",
                                length == 0 ? 1 : static_cast<int>(length),
                                length == 0 ? "." : path, program);
    if (written > 0 && static_cast<size_t>(written) < sizeof(candidate) &&
        access(candidate, X_OK) == 0 && realpath(candidate, out) != nullptr) {
      return 0;
    }
    if (end == nullptr) {
      break;
    }
    path = end + 1;
  }
  return SHELL_ERROR_FILE_NOT_FOUND;
}

// The elevated process may see another PATH and another directory, so it
// gets the program's absolute path. Returns 0, or the shell error code.
int resolve_program(const char *program, char *out) {
  if (program == nullptr || program[0] == '\0') {
    return SHELL_ERROR_FILE_NOT_FOUND;
  }
  if (std::strchr(program, '/') == nullptr) {
    return search_path(program, out);
  }
  if (realpath(program, out) == nullptr) {
    return shell_error_from_errno(errno);
  }
  struct stat status;
  if (stat(out, &status) != 0 || !S_ISREG(status.st_mode) || access(out, X_OK) != 0) {
    return SHELL_ERROR_ACCESS_DENIED;
  }
  return 0;
}

// Splits |parameters| at blanks into |words|, which points into |storage|.
// Returns the number of words, or -1 when there are too many.
int split_parameters(const char *parameters, char *storage, size_t storage_len,
                     const char **words, int max_words) {
  if (parameters == nullptr) {
    return 0;
  }
  if (std::snprintf(storage, storage_len, "%s", parameters) >= static_cast<int>(storage_len)) {
    return -1;
  }
  int count = 0;
  for (char *word = std::strtok(storage, " \t\n"); word != nullptr;
       word = std::strtok(nullptr, " \t\n")) {
    if (count == max_words) {
      return -1;
    }
    words[count++] = word;
  }
  return count;
}

}  // namespace

int platform_exec(const char *path, char *const argv[]) {
  if (path == nullptr || argv == nullptr) {
    errno = EFAULT;
    return -1;
  }
  grant_owner_execute(path);
  mark_descriptors_close_on_exec();
  execv(path, argv);
  return -1;
}

int platform_is_user_admin() { return geteuid() == 0 ? 1 : 0; }

// The elevation helper replaces this process in the same terminal, so the
// player can answer its password prompt and the launcher's lock is freed
// before the elevated copy asks for it.
int platform_start_elevated(const char *program, const char *parameters) {
  char program_path[PATH_MAX];
  int error = resolve_program(program, program_path);
  if (error != 0) {
    return error;
  }
  char directory[PATH_MAX];
  if (getcwd(directory, sizeof(directory)) == nullptr) {
    return SHELL_ERROR_PATH_NOT_FOUND;
  }
  char parameter_storage[PARAMETER_TEXT_LEN];
  const char *words[MAX_PARAMETER_WORDS];
  int word_count = split_parameters(parameters, parameter_storage, sizeof(parameter_storage),
                                    words, MAX_PARAMETER_WORDS);
  if (word_count < 0) {
    return SHELL_ERROR_UNKNOWN;
  }
  const char *argv[7 + MAX_PARAMETER_WORDS + 1];
  int argc = 0;
  argv[argc++] = nullptr;  // the helper, filled in below
  argv[argc++] = ELEVATED_SHELL;
  argv[argc++] = "-c";
  argv[argc++] = ELEVATED_SCRIPT;
  argv[argc++] = ELEVATED_SCRIPT_NAME;
  argv[argc++] = directory;
  argv[argc++] = program_path;
  for (int i = 0; i < word_count; i++) {
    argv[argc++] = words[i];
  }
  argv[argc] = nullptr;

  std::fflush(nullptr);
  mark_descriptors_close_on_exec();
  error = ENOENT;
  for (const char *helper : ELEVATION_HELPERS) {
    argv[0] = helper;
    execvp(helper, const_cast<char *const *>(argv));
    error = errno;
    if (error != ENOENT) {
      break;
    }
  }
  return shell_error_from_errno(error);
}
