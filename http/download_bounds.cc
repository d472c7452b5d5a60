#include "http/download_bounds.h"

namespace {

constexpr int32_t SHORTEST_BOUND_MS = 1;

int32_t at_least_shortest(int32_t ms) { return ms < SHORTEST_BOUND_MS ? SHORTEST_BOUND_MS : ms; }

}  // namespace

qarn_download_bounds::qarn_download_bounds(const qarn_download_bound_settings &settings, int64_t now_ms)
    : settings_(settings), request_ms_(now_ms), last_move_ms_(now_ms) {
  settings_.idle_ms = at_least_shortest(settings.idle_ms);
  settings_.header_ms = at_least_shortest(settings.header_ms);
  settings_.low_speed_window_ms = at_least_shortest(settings.low_speed_window_ms);
}

void qarn_download_bounds::header_complete(int64_t now_ms, int64_t body_bytes) {
  in_body_ = true;
  window_start_ms_ = now_ms;
  window_start_bytes_ = body_bytes;
}

// low_speed_left_ms returns what is left of the current low-speed window,
// after starting a new one if the current one has seen enough bytes.
int64_t qarn_download_bounds::low_speed_left_ms(int64_t now_ms, int64_t body_bytes) {
  if (body_bytes - window_start_bytes_ >= settings_.low_speed_bytes) {
    window_start_ms_ = now_ms;
    window_start_bytes_ = body_bytes;
  }
  return settings_.low_speed_window_ms - (now_ms - window_start_ms_);
}

int qarn_download_bounds::next_wait_ms(int64_t now_ms, int64_t body_bytes, int cap_ms) {
  int64_t wait = cap_ms;
  if (settings_.total_ms > 0) {
    int64_t total_left = settings_.total_ms - (now_ms - request_ms_);
    if (total_left <= 0) {
      expired_ = QARN_DOWNLOAD_BOUND_TOTAL;
      return 0;
    }
    wait = total_left < wait ? total_left : wait;
  }
  int64_t idle_left = settings_.idle_ms - (now_ms - last_move_ms_);
  if (idle_left <= 0) {
    expired_ = QARN_DOWNLOAD_BOUND_IDLE;
    return 0;
  }
  wait = idle_left < wait ? idle_left : wait;
  if (!in_body_) {
    int64_t header_left = settings_.header_ms - (now_ms - request_ms_);
    if (header_left <= 0) {
      expired_ = QARN_DOWNLOAD_BOUND_HEADER;
      return 0;
    }
    wait = header_left < wait ? header_left : wait;
  } else if (settings_.low_speed_bytes > 0) {
    int64_t window_left = low_speed_left_ms(now_ms, body_bytes);
    if (window_left <= 0) {
      expired_ = QARN_DOWNLOAD_BOUND_LOW_SPEED;
      return 0;
    }
    wait = window_left < wait ? window_left : wait;
  }
  return static_cast<int>(wait);
}
