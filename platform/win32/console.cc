// Console window title.
#include "platform/console.h"

#include <io.h>
#include <windows.h>

#include <cstdio>

int platform_set_console_title(const char *title) {
  return SetConsoleTitleA(title) ? 1 : 0;
}

int platform_stderr_is_terminal() { return _isatty(_fileno(stderr)) ? 1 : 0; }
