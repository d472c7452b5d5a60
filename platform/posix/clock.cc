#include "platform/clock.h"

#include <cerrno>
#include <ctime>

void platform_sleep_ms(uint32_t ms) {
  struct timespec remaining;
  remaining.tv_sec = static_cast<time_t>(ms / 1000);
  remaining.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

uint32_t platform_tick_count() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u +
                static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  // Truncated like the Windows tick count, so the clock's wrap handling is
  // exercised on every platform.
  return static_cast<uint32_t>(ms);
}

int64_t platform_calendar_seconds() { return static_cast<int64_t>(std::time(nullptr)); }
