// Time sources and pauses of the Windows kernel and C runtime.
#include "platform/clock.h"

#include <time.h>
#include <windows.h>

void platform_sleep_ms(uint32_t ms) {
  Sleep(ms);
}

uint32_t platform_tick_count() {
  return GetTickCount();
}

int64_t platform_calendar_seconds() {
  return _time64(nullptr);
}
