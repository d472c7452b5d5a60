// qarn_download_bounds: the time bounds of one download's response, kept
// from one clock reading per socket read.
//
// Four bounds, each reported on its own when it runs out:
//   total      the response was not complete total_ms after the request
//              went out (a body that keeps coming slowly for ever: every
//              other bound is kept by a steady trickle); only when asked
//              for, since a large file on a slow link may take hours;
//   idle       nothing arrived for idle_ms (a silent server);
//   header     the status line and the header section were not complete
//              header_ms after the request went out (endless or trickled
//              header lines);
//   low speed  once the body has begun, fewer than low_speed_bytes body
//              bytes arrived within a window of low_speed_window_ms (a
//              trickled body: one byte now and then keeps the idle bound
//              quiet for ever).
// The low-speed windows follow each other: a window ends as soon as it has
// seen low_speed_bytes, and the next one starts there.
#ifndef TORVANE_HTTP_DOWNLOAD_BOUNDS_H
#define TORVANE_HTTP_DOWNLOAD_BOUNDS_H

#include <cstdint>

#include "support/clock.h"

// Which bound ran out.
enum qarn_download_bound : int {
  QARN_DOWNLOAD_BOUND_NONE = 0,
  QARN_DOWNLOAD_BOUND_IDLE = 1,
  QARN_DOWNLOAD_BOUND_HEADER = 2,
  QARN_DOWNLOAD_BOUND_LOW_SPEED = 3,
  QARN_DOWNLOAD_BOUND_TOTAL = 4,
};

struct qarn_download_bound_settings {
  int32_t idle_ms;
  int32_t header_ms;
  int32_t low_speed_bytes;  // 0 or less: no low-speed bound
  int32_t low_speed_window_ms;
  int32_t total_ms;         // 0 or less: no total bound
};

class qarn_download_bounds {
 public:
  // The bounds start at |now_ms|, the moment the request went out. Other
  // times below 1 ms count as 1 ms; a total_ms of 0 or less means no total
  // bound.
  qarn_download_bounds(const qarn_download_bound_settings &settings, int64_t now_ms);

  // next_wait_ms returns how long the next read may wait at |now_ms|: at
  // most |cap_ms| and at most what is left of every bound in force. It
  // returns 0 once a bound has run out; expired() then says which.
  // |body_bytes| is the count of body bytes delivered so far.
  int next_wait_ms(int64_t now_ms, int64_t body_bytes, int cap_ms);

  // moved records that bytes arrived at |now_ms|.
  void moved(int64_t now_ms) { last_move_ms_ = now_ms; }

  // header_complete records that the header section was complete at
  // |now_ms| with |body_bytes| delivered: the header bound is met and the
  // low-speed bound starts.
  void header_complete(int64_t now_ms, int64_t body_bytes);
  bool in_body() const { return in_body_; }

  qarn_download_bound expired() const { return expired_; }
  const qarn_download_bound_settings &settings() const { return settings_; }

 private:
  int64_t low_speed_left_ms(int64_t now_ms, int64_t body_bytes);

  qarn_download_bound_settings settings_;
  int64_t request_ms_;         // when the request went out
  int64_t last_move_ms_;       // when bytes last arrived
  bool in_body_ = false;       // the header section is complete
  int64_t window_start_ms_ = 0;
  int64_t window_start_bytes_ = 0;
  qarn_download_bound expired_ = QARN_DOWNLOAD_BOUND_NONE;
};

// qarn_idle_bound tracks how long the connection has been silent. Each wait is
// cut to what is left of the bound, so a short bound is kept to the
// millisecond even though single waits may last up to 5000 ms.
class qarn_idle_bound {
 public:
  explicit qarn_idle_bound(int32_t limit_ms) : limit_ms_(limit_ms < 1 ? 1 : limit_ms), last_ms_(qarn_clock_ms()) {}

  // moved records that bytes went over the connection just now.
  void moved() { last_ms_ = qarn_clock_ms(); }

  // next_wait_ms returns the time-out for the next wait: at most |cap_ms|
  // and at most what is left of the bound; 0 once the bound has run out.
  int next_wait_ms(int cap_ms) const {
    int64_t left = limit_ms_ - (qarn_clock_ms() - last_ms_);
    if (left <= 0) {
      return 0;
    }
    return left < cap_ms ? static_cast<int>(left) : cap_ms;
  }

  int32_t limit_ms() const { return limit_ms_; }

 private:
  int32_t limit_ms_;
  int64_t last_ms_;
};

#endif
