#include "support/clock.h"

#include <mutex>

#include "platform/clock.h"

namespace {

constexpr int64_t TICK_COUNTER_PERIOD_MS = int64_t{1} << 32;

// Plain constant-initialised state: the random generator's static
// initialiser reads the clock before main, whatever the order of
// initialisation between files.
struct clock_state {
  bool anchored;
  int64_t offset_ms;
  uint32_t last_tick;
  int64_t last_value_ms;
};

clock_state g_clock = {false, 0, 0, 0};
qarn_clock_sources g_sources = {platform_tick_count, platform_calendar_seconds};
// Downloads on several threads read the clock at once; its state moves
// with every reading. Constant-initialised like the state.
std::mutex g_clock_lock;

void anchor(int64_t calendar_seconds, uint32_t tick) {
  g_clock.offset_ms = calendar_seconds * QARN_MS_PER_SECOND - tick + QARN_CLOCK_ANCHOR_MS;
  g_clock.anchored = true;
}

void follow_tick(uint32_t tick) {
  if (tick < QARN_CLOCK_WRAP_THRESHOLD && g_clock.last_tick > QARN_CLOCK_WRAP_THRESHOLD) {
    g_clock.offset_ms += TICK_COUNTER_PERIOD_MS;
  }
  g_clock.last_tick = tick;
}

// Moves |value| and the offset one drift step toward the calendar second.
int64_t pull_toward_calendar(int64_t value, int64_t calendar_seconds) {
  int64_t value_seconds = value / QARN_MS_PER_SECOND;
  int64_t step = 0;
  if (value_seconds < calendar_seconds) {
    step = QARN_CLOCK_DRIFT_STEP_MS;
  } else if (value_seconds > calendar_seconds) {
    step = -QARN_CLOCK_DRIFT_STEP_MS;
  }
  g_clock.offset_ms += step;
  return value + step;
}

}  // namespace

int64_t qarn_clock_ms() {
  std::lock_guard<std::mutex> hold(g_clock_lock);
  int64_t calendar_seconds = g_sources.calendar_seconds();
  uint32_t tick = g_sources.tick_count();
  if (!g_clock.anchored) {
    anchor(calendar_seconds, tick);
  }
  follow_tick(tick);
  int64_t value = pull_toward_calendar(g_clock.offset_ms + tick, calendar_seconds);
  if (value < g_clock.last_value_ms) {
    value = g_clock.last_value_ms;
  }
  g_clock.last_value_ms = value;
  return value;
}

int64_t qarn_clock_seconds() { return qarn_clock_ms() / QARN_MS_PER_SECOND; }

int64_t qarn_clock_us() { return qarn_clock_ms() * QARN_US_PER_MS; }

void qarn_clock_set_sources(const qarn_clock_sources *sources) {
  std::lock_guard<std::mutex> hold(g_clock_lock);
  if (sources != nullptr && sources->tick_count != nullptr &&
      sources->calendar_seconds != nullptr) {
    g_sources = *sources;
  } else {
    g_sources = {platform_tick_count, platform_calendar_seconds};
  }
}

void qarn_clock_reset() {
  std::lock_guard<std::mutex> hold(g_clock_lock);
  g_clock = {false, 0, 0, 0};
}

uint32_t qarn_clock_tick_count() {
  std::lock_guard<std::mutex> hold(g_clock_lock);
  return g_sources.tick_count();
}
