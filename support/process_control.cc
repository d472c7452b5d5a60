#include "support/process_control.h"

#include <cerrno>
#include <cstdio>

#include "platform/clock.h"
#include "platform/console.h"
#include "platform/file_system.h"
#include "platform/instance_lock.h"
#include "platform/process.h"
#include "support/bounded_string.h"
#include "support/diagnostics.h"

namespace {

// Room for the formatted exec failure, as the report has always used.
constexpr int EXEC_FAILURE_TEXT_LEN = 1024;

// The one lock this process can hold. A process let through without a
// lock (it cannot write the installation) counts as holding it, with no
// handle to release.
int32_t g_lock_held = 0;
platform_lock_handle g_lock_handle = PLATFORM_LOCK_NO_HANDLE;

// Error codes of the shell's elevated start.
enum qarn_shell_error : int {
  QARN_SHELL_OUT_OF_RESOURCES = 0,
  QARN_SHELL_FILE_NOT_FOUND = 2,
  QARN_SHELL_PATH_NOT_FOUND = 3,
  QARN_SHELL_ACCESS_DENIED = 5,
  QARN_SHELL_OUT_OF_MEMORY = 8,
  QARN_SHELL_BAD_FORMAT = 11,
  QARN_SHELL_SHARING_VIOLATION = 26,
  QARN_SHELL_ASSOCIATION_INCOMPLETE = 27,
  QARN_SHELL_DDE_TIMEOUT = 28,
  QARN_SHELL_DDE_FAIL = 29,
  QARN_SHELL_DDE_BUSY = 30,
  QARN_SHELL_NO_ASSOCIATION = 31,
  QARN_SHELL_DLL_NOT_FOUND = 32,
};

struct shell_error_reason {
  int code;
  const char *reason;
};

const shell_error_reason SHELL_ERROR_REASONS[] = {
    {QARN_SHELL_OUT_OF_RESOURCES, "The operating system is out of memory or resources."},
    {QARN_SHELL_FILE_NOT_FOUND, "The specified file was not found."},
    {QARN_SHELL_PATH_NOT_FOUND, "The specified path was not found."},
    {QARN_SHELL_ACCESS_DENIED, "The operating system denied access to the specified file."},
    {QARN_SHELL_OUT_OF_MEMORY, "There was not enough memory to complete the operation."},
    {QARN_SHELL_BAD_FORMAT, "The .exe file is invalid."},
    {QARN_SHELL_SHARING_VIOLATION, "A sharing violation occurred."},
    {QARN_SHELL_ASSOCIATION_INCOMPLETE, "The file name association is incomplete or invalid."},
    {QARN_SHELL_DDE_TIMEOUT, "DDE error of some sort."},
    {QARN_SHELL_DDE_FAIL, "DDE error of some sort."},
    {QARN_SHELL_DDE_BUSY, "DDE error of some sort."},
    {QARN_SHELL_NO_ASSOCIATION,
     "There is no application associated with the given file name extension."},
    {QARN_SHELL_DLL_NOT_FOUND, "The specified DLL was not found."},
};

const char UNKNOWN_SHELL_ERROR[] = "Unknown error";

const char *text_or_null(const char *text) { return text != nullptr ? text : "(null)"; }

// Size of the open file |file|, or -1 when it cannot be told.
long file_size(std::FILE *file) {
  if (std::fseek(file, 0, SEEK_END) != 0) {
    return -1;
  }
  return std::ftell(file);
}

void report_exec_failure(qarn_bounded_string &message, int return_code, int error_code,
                         const char *path) {
  char failure[EXEC_FAILURE_TEXT_LEN];
  std::snprintf(failure, sizeof(failure),
                "Error in qarn_boot_exec(), exec failed.  Return code %d, error code %d.",
                return_code, error_code);
  message.clear();
  message.append(failure).append(" Filename: ").append(text_or_null(path));
  qarn_diagnostic(message.text(), QARN_DIAG_OPERATION, QARN_MODULE_SUPPORT);
}

}  // namespace

int qarn_acquire_instance_lock(const char *name) {
  // A second acquire must not overwrite the handle of the first: the first
  // hold could then never be released.
  if (g_lock_held != 0) {
    return 0;
  }
  platform_lock_handle handle = PLATFORM_LOCK_NO_HANDLE;
  switch (platform_lock_acquire(name, &handle)) {
    case PLATFORM_LOCK_ACQUIRED:
      g_lock_handle = handle;
      break;
    case PLATFORM_LOCK_NOT_NEEDED:
      g_lock_handle = PLATFORM_LOCK_NO_HANDLE;
      break;
    case PLATFORM_LOCK_HELD_ELSEWHERE:
    case PLATFORM_LOCK_FAILED:
      g_lock_handle = PLATFORM_LOCK_NO_HANDLE;
      g_lock_held = 0;
      return 0;
  }
  g_lock_held = 1;
  return g_lock_held;
}

void qarn_release_instance_lock() {
  if (g_lock_held == 0) {
    return;
  }
  if (g_lock_handle != PLATFORM_LOCK_NO_HANDLE) {
    platform_lock_release(g_lock_handle);
  }
  g_lock_handle = PLATFORM_LOCK_NO_HANDLE;
  g_lock_held = 0;
}

int qarn_set_console_title(const char *title) { return platform_set_console_title(title); }

void qarn_sleep_ms(int64_t ms) { platform_sleep_ms(static_cast<uint32_t>(ms)); }

int qarn_is_boot_file_bad(const char *path) {
  std::FILE *file = path != nullptr ? platform_fopen(path, "rb") : nullptr;
  if (file == nullptr) {
    qarn_bounded_string message;
    message.append("qarn_is_boot_file_bad() - cannot open image file '")
        .append(text_or_null(path))
        .append("'.");
    qarn_diagnostic(message.text(), QARN_DIAG_TRACE, QARN_MODULE_SUPPORT);
    return 1;
  }
  long size = file_size(file);
  std::fclose(file);
  if (size >= QARN_MIN_BOOT_IMAGE_BYTES) {
    return 0;
  }
  qarn_bounded_string message;
  message.append("qarn_is_boot_file_bad() - image '")
      .append(path)
      .append("' is too small to be valid.");
  qarn_diagnostic(message.text(), QARN_DIAG_OPERATION, QARN_MODULE_SUPPORT);
  return 1;
}

void qarn_boot_exec(const char *path, char *const argv[]) {
  qarn_bounded_string message;
  message.append("qarn_boot_exec() - trying to boot image '").append(text_or_null(path)).append("'");
  qarn_diagnostic(message.text(), QARN_DIAG_TRACE, QARN_MODULE_SUPPORT);
  std::fflush(nullptr);
  int return_code = -1;
  int error_code = EFAULT;
  if (path != nullptr && argv != nullptr) {
    return_code = platform_exec(path, argv);
    error_code = errno;
  }
  report_exec_failure(message, return_code, error_code, path);
  std::fflush(nullptr);
}

int qarn_is_user_admin() { return platform_is_user_admin(); }

int qarn_win32_exec_with_admin_permissions(const char *program, const char *parameters) {
  std::fflush(nullptr);
  return qarn_elevation_result(platform_start_elevated(program, parameters));
}

int qarn_elevation_result(int shell_result) {
  if (shell_result > PLATFORM_SHELL_SUCCESS_ABOVE) {
    return 1;
  }
  qarn_bounded_string message;
  message.append("Error in qarn_win32_exec_with_admin_permissions(), ")
      .append(qarn_elevation_failure_reason(shell_result));
  qarn_diagnostic(message.text(), QARN_DIAG_SHORT_HASH_OR_ELEVATION, QARN_MODULE_SUPPORT);
  return 0;
}

const char *qarn_elevation_failure_reason(int shell_result) {
  for (const shell_error_reason &entry : SHELL_ERROR_REASONS) {
    if (entry.code == shell_result) {
      return entry.reason;
    }
  }
  return UNKNOWN_SHELL_ERROR;
}
