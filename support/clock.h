// The system's one clock: milliseconds since 1970-01-01 00:00 UTC, anchored
// once to the calendar time, advanced by the operating system's 32-bit tick
// counter, pulled back toward the calendar at most 5 ms per reading when the
// two drift apart, and never running backwards.
#ifndef TORVANE_SUPPORT_CLOCK_H
#define TORVANE_SUPPORT_CLOCK_H

#include <cstdint>

// A tick count above this before a reading and below it after means the
// 32-bit tick counter wrapped in between.
constexpr uint32_t QARN_CLOCK_WRAP_THRESHOLD = 2000000000u;
// The anchor puts the first reading half a second into the calendar second.
constexpr int64_t QARN_CLOCK_ANCHOR_MS = 500;
// How far one reading may move the clock toward the calendar time.
constexpr int64_t QARN_CLOCK_DRIFT_STEP_MS = 5;
constexpr int64_t QARN_MS_PER_SECOND = 1000;
constexpr int64_t QARN_US_PER_MS = 1000;

// qarn_clock_ms returns milliseconds since 1970-01-01 00:00 UTC; never less
// than the previous result.
int64_t qarn_clock_ms();

// qarn_clock_seconds returns qarn_clock_ms() / 1000.
int64_t qarn_clock_seconds();

// qarn_clock_us returns qarn_clock_ms() * 1000: microseconds with
// millisecond resolution.
int64_t qarn_clock_us();

// Where the clock reads time from. The process uses the platform's tick
// counter and calendar; tests install sources they control.
struct qarn_clock_sources {
  uint32_t (*tick_count)();           // milliseconds, 32 bits, wrapping
  int64_t (*calendar_seconds)();      // seconds since 1970-01-01 00:00 UTC
};

// qarn_clock_set_sources makes the clock read from |sources| (copied), or
// from the platform again when |sources| is null. It does not touch the
// clock state; call qarn_clock_reset as well to start from a fresh anchor.
void qarn_clock_set_sources(const qarn_clock_sources *sources);

// qarn_clock_reset forgets the anchor, the last tick and the last value, so
// that the next reading anchors the clock again.
void qarn_clock_reset();

// qarn_clock_tick_count returns the tick count of the installed source.
uint32_t qarn_clock_tick_count();

#endif
