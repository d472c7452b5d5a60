#include "platform/console.h"

#include <unistd.h>

#include <cstdio>

int platform_set_console_title(const char *title) {
  if (title == nullptr) {
    return 0;
  }
  // The escape would show up as garbage in a pipe or a log file.
  if (!isatty(STDOUT_FILENO)) {
    return 1;
  }
  // Operating system command 0 sets the window title of terminal emulators.
  int written = std::printf("\033]0;%s\007", title);
  std::fflush(stdout);
  return written > 0 ? 1 : 0;
}

int platform_stderr_is_terminal() { return isatty(STDERR_FILENO) ? 1 : 0; }
