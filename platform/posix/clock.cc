#include "platform/clock.h"

#include <cerrno>
#include <time.h>

namespace {

constexpr uint32_t MS_PER_SECOND = 1000;
constexpr long NS_PER_MS = 1000000L;

}  // namespace

void platform_sleep_ms(uint32_t ms) {
  struct timespec remaining;
  remaining.tv_sec = static_cast<time_t>(ms / MS_PER_SECOND);
  remaining.tv_nsec = static_cast<long>(ms % MS_PER_SECOND) * NS_PER_MS;
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

uint32_t platform_tick_count() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  uint64_t ms = static_cast<uint64_t>(now.tv_sec) * MS_PER_SECOND +
                static_cast<uint64_t>(now.tv_nsec) / NS_PER_MS;
  // Truncated like the Windows tick count, so the clock's wrap handling is
  // exercised on every platform.
  return static_cast<uint32_t>(ms);
}

int64_t platform_calendar_seconds() { return static_cast<int64_t>(time(nullptr)); }
