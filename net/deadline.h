// qarn_deadline: a point in time by which a chain of waits must be over.
// An operation made of several waits (a connect and then each step of a
// TLS handshake) gets one deadline, so that a peer that answers just often
// enough cannot stretch it by restarting a per-wait time-out.
#ifndef TORVANE_NET_DEADLINE_H
#define TORVANE_NET_DEADLINE_H

#include <cstdint>

struct qarn_deadline {
  int64_t at_ms;   // qarn_clock_ms() value at which the time is up
  bool unlimited;  // made from a negative time-out: never up
};

// qarn_deadline_after returns the deadline |timeout_ms| from now; a
// negative |timeout_ms| gives one without limit.
qarn_deadline qarn_deadline_after(int timeout_ms);

// qarn_deadline_remaining_ms returns the milliseconds left (0 once the
// deadline has passed), or -1 for a deadline without limit: a value that
// the socket waits take as their time-out.
int qarn_deadline_remaining_ms(const qarn_deadline &deadline);

#endif
