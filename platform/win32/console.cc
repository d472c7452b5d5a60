// Console window title.
#include "platform/console.h"

#include <windows.h>

int platform_set_console_title(const char *title) {
  return SetConsoleTitleA(title) ? 1 : 0;
}
