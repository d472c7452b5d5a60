// The downloader's time bounds on a clock the test sets: which bound runs
// out when, and how long each wait may be.
#include "http/download_bounds.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

constexpr int kCapMs = 5000;
const qarn_download_bound_settings kSettings = {/*idle_ms=*/3000, /*header_ms=*/1000, /*low_speed_bytes=*/100,
                                                /*low_speed_window_ms=*/2000, /*total_ms=*/0};
// A low-speed window longer than the idle bound, so that silence meets the
// idle bound first.
const qarn_download_bound_settings kLongWindow = {3000, 1000, 100, 5000, 0};
// Every other bound kept by a steady trickle, and a total bound of 4 s.
const qarn_download_bound_settings kTotal = {3000, 1000, 100, 2000, /*total_ms=*/4000};
constexpr int64_t kTwo31 = int64_t{1} << 31;
constexpr int64_t kTwo32 = int64_t{1} << 32;

// One moment of a download: what happened at |now_ms| and what the next
// wait must be.
enum class event { none, bytes_arrived, header_complete };

struct moment {
  int64_t now_ms;
  event what;
  int64_t body_bytes;
  int expected_wait_ms;  // 0: a bound ran out
};

struct bounds_case {
  const char *name;
  qarn_download_bound_settings settings;
  std::vector<moment> moments;
  qarn_download_bound expired;
};

TEST(download_bounds_test, each_bound_runs_out_at_its_time) {
  const bounds_case cases[] = {
      {"the header bound caps the first waits", kSettings,
       {{0, event::none, 0, 1000}, {400, event::bytes_arrived, 0, 600}, {1000, event::none, 0, 0}},
       QARN_DOWNLOAD_BOUND_HEADER},
      {"a complete header section lifts the header bound", kSettings,
       {{0, event::none, 0, 1000}, {900, event::header_complete, 0, 2000}, {1500, event::bytes_arrived, 150, 2000}},
       QARN_DOWNLOAD_BOUND_NONE},
      {"silence runs into the idle bound", kLongWindow,
       {{0, event::header_complete, 0, 3000}, {1000, event::bytes_arrived, 200, 3000},
        {3000, event::none, 200, 1000}, {4000, event::none, 200, 0}},
       QARN_DOWNLOAD_BOUND_IDLE},
      {"a trickle keeps the idle bound quiet but not the low-speed bound", kSettings,
       {{0, event::header_complete, 0, 2000}, {900, event::bytes_arrived, 10, 1100},
        {1800, event::bytes_arrived, 20, 200}, {2000, event::none, 20, 0}},
       QARN_DOWNLOAD_BOUND_LOW_SPEED},
      {"a window that saw enough starts the next one", kSettings,
       {{0, event::header_complete, 0, 2000}, {1500, event::bytes_arrived, 100, 2000},
        {3400, event::bytes_arrived, 150, 100}, {3500, event::none, 150, 0}},
       QARN_DOWNLOAD_BOUND_LOW_SPEED},
      // Windows count bytes of bodies past 2^31 and 2^32 as of any other.
      {"windows across 2^31 and 2^32 bytes", kSettings,
       {{0, event::header_complete, kTwo31 - 60, 2000}, {1500, event::bytes_arrived, kTwo31 + 40, 2000},
        {3000, event::bytes_arrived, kTwo32 - 10, 2000}, {4500, event::bytes_arrived, kTwo32 + 90, 2000},
        {6000, event::bytes_arrived, kTwo32 + 95, 500}, {6500, event::none, kTwo32 + 95, 0}},
       QARN_DOWNLOAD_BOUND_LOW_SPEED},
      {"steady bytes never run out", kSettings,
       {{0, event::header_complete, 0, 2000}, {1000, event::bytes_arrived, 100, 2000},
        {2000, event::bytes_arrived, 200, 2000}, {3000, event::bytes_arrived, 300, 2000}},
       QARN_DOWNLOAD_BOUND_NONE},
      {"the total bound caps the header wait", {3000, 1000, 100, 2000, 500},
       {{0, event::none, 0, 500}, {499, event::none, 0, 1}, {500, event::none, 0, 0}},
       QARN_DOWNLOAD_BOUND_TOTAL},
      {"steady bytes run into the total bound at its millisecond", kTotal,
       {{0, event::header_complete, 0, 2000}, {1000, event::bytes_arrived, 100, 2000},
        {2000, event::bytes_arrived, 200, 2000}, {3000, event::bytes_arrived, 300, 1000},
        {3999, event::bytes_arrived, 400, 1}, {4000, event::bytes_arrived, 500, 0}},
       QARN_DOWNLOAD_BOUND_TOTAL},
  };
  for (const bounds_case &c : cases) {
    SCOPED_TRACE(c.name);
    qarn_download_bounds bounds(c.settings, 0);
    for (const moment &m : c.moments) {
      SCOPED_TRACE(m.now_ms);
      if (m.what == event::bytes_arrived) {
        bounds.moved(m.now_ms);
      }
      if (m.what == event::header_complete) {
        bounds.header_complete(m.now_ms, m.body_bytes);
      }
      EXPECT_EQ(bounds.next_wait_ms(m.now_ms, m.body_bytes, kCapMs), m.expected_wait_ms);
    }
    EXPECT_EQ(bounds.expired(), c.expired);
  }
}

TEST(download_bounds_test, no_low_speed_bound_when_switched_off_and_short_times_count_as_one) {
  qarn_download_bound_settings settings = {0, -5, 0, 0, 0};
  qarn_download_bounds bounds(settings, 0);
  EXPECT_EQ(bounds.settings().idle_ms, 1);
  EXPECT_EQ(bounds.settings().header_ms, 1);
  EXPECT_EQ(bounds.settings().low_speed_window_ms, 1);
  bounds.header_complete(0, 0);
  EXPECT_EQ(bounds.next_wait_ms(0, 0, kCapMs), 1);  // only the idle bound is in force
  bounds.moved(10);
  EXPECT_EQ(bounds.next_wait_ms(10, 0, kCapMs), 1);
  EXPECT_EQ(bounds.expired(), QARN_DOWNLOAD_BOUND_NONE);
}

// A body may take as long as it needs unless a total bound was asked for.
TEST(download_bounds_test, no_total_bound_unless_asked_for) {
  for (int32_t total_ms : {0, -1}) {
    qarn_download_bounds bounds({3000, 1000, 100, 2000, total_ms}, 0);
    bounds.header_complete(0, 0);
    int64_t bytes = 0;
    for (int64_t now_ms = 1000; now_ms <= 24 * 3600 * 1000; now_ms += 1000) {
      bytes += 100;
      bounds.moved(now_ms);
      ASSERT_EQ(bounds.next_wait_ms(now_ms, bytes, kCapMs), 2000) << now_ms;
    }
    EXPECT_EQ(bounds.expired(), QARN_DOWNLOAD_BOUND_NONE);
  }
}

}  // namespace
