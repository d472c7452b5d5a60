// A clock that tests move by hand: installed as the sources of the
// system's clock, with the tick counter and the calendar advancing
// together, so that code that waits on whole seconds is tested without
// waiting.
#ifndef TORVANE_TESTS_COMMON_MOVED_CLOCK_H
#define TORVANE_TESTS_COMMON_MOVED_CLOCK_H

#include <cstdint>

#include "support/clock.h"

class moved_clock {
 public:
  // Installs the moved clock, anchored afresh.
  moved_clock() {
    qarn_clock_sources sources = {read_tick, read_seconds};
    qarn_clock_set_sources(&sources);
    qarn_clock_reset();
  }
  // Gives the system's clock its platform sources back.
  ~moved_clock() {
    qarn_clock_set_sources(nullptr);
    qarn_clock_reset();
  }
  moved_clock(const moved_clock &) = delete;
  moved_clock &operator=(const moved_clock &) = delete;

  // advance moves both sources |seconds| on.
  static void advance(int64_t seconds) {
    tick_ += static_cast<uint32_t>(seconds * MS_PER_SECOND);
    seconds_ += seconds;
  }

 private:
  static constexpr int64_t MS_PER_SECOND = 1000;
  static uint32_t read_tick() { return tick_; }
  static int64_t read_seconds() { return seconds_; }

  static inline uint32_t tick_ = 100000;
  static inline int64_t seconds_ = 1800000000;
};

#endif
