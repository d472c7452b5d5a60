#include "platform/win32/elevated_start.h"

#include <windows.h>
#include <shellapi.h>

#include <cerrno>
#include <cstdlib>

#include "platform/win32/wide_text.h"

namespace {

// The shell's error codes that a start refused before the shell returns.
constexpr int SHELL_ERROR_UNKNOWN = 1;
constexpr int SHELL_ERROR_FILE_NOT_FOUND = 2;
constexpr int SHELL_ERROR_PATH_NOT_FOUND = 3;
constexpr int SHELL_ERROR_OUT_OF_MEMORY = 8;

const wchar_t ELEVATION_VERB[] = L"runas";

// The current directory in UTF-16, owned by the caller (free()); null when
// it cannot be told or no memory is left.
wchar_t *current_directory() {
  // The first call tells the room needed, terminator included.
  DWORD units = GetCurrentDirectoryW(0, nullptr);
  if (units == 0 || units > WIN32_WIDE_TEXT_MAX_UNITS) {
    return nullptr;
  }
  wchar_t *directory = static_cast<wchar_t *>(std::malloc(sizeof(wchar_t) * units));
  if (directory == nullptr) {
    return nullptr;
  }
  // A directory change between the calls could need more room: refused.
  DWORD written = GetCurrentDirectoryW(units, directory);
  if (written == 0 || written >= units) {
    std::free(directory);
    return nullptr;
  }
  return directory;
}

int conversion_error(int refused) { return errno == ENOMEM ? SHELL_ERROR_OUT_OF_MEMORY : refused; }

}  // namespace

intptr_t win32_shell_start_with_shell_execute(const wchar_t *verb, const wchar_t *program,
                                              const wchar_t *parameters, const wchar_t *directory) {
  HINSTANCE result = ShellExecuteW(nullptr, verb, program, parameters, directory, SW_SHOW);
  return reinterpret_cast<intptr_t>(result);
}

int win32_start_elevated(win32_shell_start shell, const char *program, const char *parameters) {
  win32_wide_text wide_program(program);
  if (wide_program.text() == nullptr) {
    return conversion_error(SHELL_ERROR_FILE_NOT_FOUND);
  }
  win32_wide_text wide_parameters(parameters != nullptr ? parameters : "");
  if (wide_parameters.text() == nullptr) {
    return conversion_error(SHELL_ERROR_UNKNOWN);
  }
  wchar_t *directory = current_directory();
  if (directory == nullptr) {
    return SHELL_ERROR_PATH_NOT_FOUND;
  }
  intptr_t result = shell(ELEVATION_VERB, wide_program.text(),
                          parameters != nullptr ? wide_parameters.text() : nullptr, directory);
  std::free(directory);
  return static_cast<int>(result);
}
