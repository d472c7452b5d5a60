#include "net/deadline.h"

#include "support/clock.h"

namespace {

// What a wait without limit is given as its time-out.
constexpr int NO_TIMEOUT = -1;

}  // namespace

qarn_deadline qarn_deadline_after(int timeout_ms) {
  if (timeout_ms < 0) {
    return qarn_deadline{0, true};
  }
  return qarn_deadline{qarn_clock_ms() + timeout_ms, false};
}

int qarn_deadline_remaining_ms(const qarn_deadline &deadline) {
  if (deadline.unlimited) {
    return NO_TIMEOUT;
  }
  int64_t left = deadline.at_ms - qarn_clock_ms();
  // |left| never exceeds the int time-out the deadline was made from.
  return left > 0 ? static_cast<int>(left) : 0;
}
