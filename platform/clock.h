// Time sources and pauses.
#ifndef TORVANE_PLATFORM_CLOCK_H
#define TORVANE_PLATFORM_CLOCK_H

#include <cstdint>

// platform_sleep_ms suspends the thread for |ms| milliseconds.
void platform_sleep_ms(uint32_t ms);

// platform_tick_count returns milliseconds since an arbitrary start, as a
// 32-bit counter that wraps after 2^32 ms, like the Windows tick count.
uint32_t platform_tick_count();

// platform_calendar_seconds returns seconds since 1970-01-01 00:00 UTC.
int64_t platform_calendar_seconds();

#endif
