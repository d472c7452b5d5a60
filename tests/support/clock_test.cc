#include "support/clock.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>

#include "platform/clock.h"

namespace {

constexpr int64_t START_SECONDS = 1700000000;
constexpr uint32_t START_TICK = 5000;

// The time the clock sees while a test runs; tests move it by hand.
struct fake_time {
  uint32_t tick;
  int64_t seconds;
};
fake_time g_fake = {START_TICK, START_SECONDS};

uint32_t fake_tick() { return g_fake.tick; }
int64_t fake_seconds() { return g_fake.seconds; }

class clock_test : public testing::Test {
 protected:
  void SetUp() override {
    g_fake = {START_TICK, START_SECONDS};
    qarn_clock_sources sources = {fake_tick, fake_seconds};
    qarn_clock_set_sources(&sources);
    qarn_clock_reset();
  }
  void TearDown() override {
    qarn_clock_set_sources(nullptr);
    qarn_clock_reset();
  }

  // Anchors the clock at |seconds| and |tick| and returns the first reading.
  int64_t anchor_at(int64_t seconds, uint32_t tick) {
    g_fake = {tick, seconds};
    return qarn_clock_ms();
  }
};

struct anchor_case {
  int64_t seconds;
  uint32_t tick;
};

class clock_anchor_test : public clock_test,
                          public testing::WithParamInterface<anchor_case> {};

TEST_P(clock_anchor_test, FirstReadingIsHalfASecondIntoTheCalendarSecond) {
  const anchor_case &c = GetParam();
  int64_t first = anchor_at(c.seconds, c.tick);
  EXPECT_EQ(first, c.seconds * 1000 + 500);
  // The same second and the same tick give the same value again.
  EXPECT_EQ(qarn_clock_ms(), first);
  EXPECT_EQ(qarn_clock_ms(), first);
  // The anchor holds: later ticks move the clock on from it.
  g_fake.tick = c.tick + 100;
  EXPECT_EQ(qarn_clock_ms(), first + 100);
}

INSTANTIATE_TEST_SUITE_P(
    anchors, clock_anchor_test,
    testing::Values(anchor_case{START_SECONDS, START_TICK}, anchor_case{START_SECONDS, 0},
                    anchor_case{START_SECONDS, 4294967295u},
                    // An anchor whose offset works out at zero must not be
                    // mistaken for "not yet anchored".
                    anchor_case{1, 1500}, anchor_case{0, 0}));

TEST_F(clock_test, FollowsTheTickWithinTheCalendarSecond) {
  int64_t first = anchor_at(START_SECONDS, START_TICK);
  for (uint32_t step : {1u, 100u, 399u}) {
    g_fake.tick = START_TICK + step;
    EXPECT_EQ(qarn_clock_ms(), first + step) << "tick advanced by " << step;
  }
}

TEST_F(clock_test, CalendarAheadPullsTheClockForward5MsPerReading) {
  int64_t first = anchor_at(START_SECONDS, START_TICK);
  g_fake.seconds = START_SECONDS + 10;
  for (int reading = 1; reading <= 20; reading++) {
    EXPECT_EQ(qarn_clock_ms(), first + 5 * reading) << "reading " << reading;
  }
}

TEST_F(clock_test, CalendarSetBackHoldsTheValueWhileTheOffsetMoves5MsPerReading) {
  int64_t first = anchor_at(START_SECONDS, START_TICK);
  g_fake.seconds = START_SECONDS - 10;
  constexpr int held_readings = 20;
  for (int reading = 1; reading <= held_readings; reading++) {
    EXPECT_EQ(qarn_clock_ms(), first) << "reading " << reading;
  }
  // Each reading so far, and the next one, took 5 ms off the offset: a tick
  // advance of exactly that much still leaves the value where it was...
  int64_t pulled_ms = 5 * (held_readings + 1);
  g_fake.tick = START_TICK + static_cast<uint32_t>(pulled_ms);
  EXPECT_EQ(qarn_clock_ms(), first);
  // ...and once offset plus tick passes it, the clock advances again.
  pulled_ms += 5;
  g_fake.tick = START_TICK + static_cast<uint32_t>(pulled_ms) + 1;
  EXPECT_EQ(qarn_clock_ms(), first + 1);
}

TEST_F(clock_test, NeverRunsBackwardsWhateverTheCalendarDoes) {
  int64_t previous = anchor_at(START_SECONDS, START_TICK);
  const int64_t calendar_jumps[] = {-3600, 0, 7, -1, -86400, 2, 0, -5};
  for (int64_t jump : calendar_jumps) {
    g_fake.seconds = START_SECONDS + jump;
    g_fake.tick += 3;
    int64_t now = qarn_clock_ms();
    EXPECT_GE(now, previous) << "calendar jump " << jump;
    previous = now;
  }
}

struct wrap_case {
  uint32_t before;
  uint32_t after;
  int64_t elapsed_ms;
};

class clock_wrap_test : public clock_test, public testing::WithParamInterface<wrap_case> {};

TEST_P(clock_wrap_test, ContinuesWithoutAJumpAcrossTheThreshold) {
  const wrap_case &c = GetParam();
  int64_t first = anchor_at(START_SECONDS, c.before);
  g_fake.tick = c.after;
  g_fake.seconds = (first + c.elapsed_ms) / 1000;  // the calendar agrees
  EXPECT_EQ(qarn_clock_ms(), first + c.elapsed_ms);
}

INSTANTIATE_TEST_SUITE_P(
    ticks, clock_wrap_test,
    testing::Values(wrap_case{4294967000u, 100u, 396}, wrap_case{4294967295u, 0u, 1},
                    wrap_case{2000000001u, 1u, 2294967296},
                    // Passing the threshold upward is ordinary progress.
                    wrap_case{1999999000u, 2000000100u, 1100}));

TEST_F(clock_test, SecondsAndMicrosecondsDeriveFromTheMilliseconds) {
  EXPECT_EQ(anchor_at(1, 1000), 1500);
  g_fake.tick = 1499;
  EXPECT_EQ(qarn_clock_ms(), 1999);
  EXPECT_EQ(qarn_clock_seconds(), 1);
  EXPECT_EQ(qarn_clock_us(), 1999000);
  g_fake.tick = 1500;
  g_fake.seconds = 2;
  EXPECT_EQ(qarn_clock_seconds(), 2);
}

TEST_F(clock_test, TickCountComesFromTheInstalledSource) {
  g_fake.tick = 123456;
  EXPECT_EQ(qarn_clock_tick_count(), 123456u);
}

TEST(clock_platform_test, RealClockTracksCalendarTimeAndAdvances) {
  qarn_clock_set_sources(nullptr);
  qarn_clock_reset();
  int64_t before_s = static_cast<int64_t>(std::time(nullptr));
  int64_t first = qarn_clock_ms();
  int64_t after_s = static_cast<int64_t>(std::time(nullptr));
  EXPECT_GE(first, before_s * 1000 + 500);
  EXPECT_LE(first, after_s * 1000 + 500);
  platform_sleep_ms(30);
  int64_t later = qarn_clock_ms();
  // 5 ms of drift correction at most, and a coarse system tick.
  EXPECT_GE(later - first, 30 - 5 - 16);
  EXPECT_LT(later - first, 5000);
  qarn_clock_reset();
}

}  // namespace
