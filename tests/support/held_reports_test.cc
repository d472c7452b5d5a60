#include "support/held_reports.h"

#include <string>
#include <thread>
#include <vector>

#include "tests/common/diagnostic_capture.h"

namespace {

class held_reports_test : public diagnostic_capture_test {};

constexpr int32_t kOwnerEvent = QARN_HELD_OWNER_KINDS;
constexpr int32_t kOwnerLine = QARN_HELD_OWNER_KINDS + 1;

std::vector<qarn_held_entry> entries_of(const qarn_held_reports &held) {
  std::vector<qarn_held_entry> entries;
  qarn_held_entry entry;
  for (int32_t i = 0; held.read(i, &entry); i++) {
    entries.push_back(entry);
  }
  return entries;
}

void replay(const qarn_held_reports &held) {
  for (const qarn_held_entry &entry : entries_of(held)) {
    qarn_replay_diagnostic(entry);
  }
}

}  // namespace

TEST_F(held_reports_test, a_holding_thread_prints_nothing_and_the_replay_prints_in_order) {
  qarn_held_reports held;
  start_capture();
  std::thread helper([&held] {
    qarn_hold_reports(&held);
    qarn_diagnostic("first", QARN_DIAG_OPERATION, QARN_MODULE_DOWNLOADER);
    qarn_diagnostic("second", QARN_DIAG_CONNECTION, QARN_MODULE_NET);
    qarn_hold_reports(nullptr);
  });
  helper.join();
  std::string while_held = stop_capture();
  EXPECT_EQ(while_held, "");
  start_capture();
  replay(held);
  EXPECT_EQ(stop_capture(), "first\nsecond\n");
  EXPECT_EQ(qarn_reports_holder(), nullptr);
}

TEST_F(held_reports_test, reports_hidden_when_made_are_not_held_and_the_mask_applies_again_at_replay) {
  qarn_held_reports held;
  qarn_set_diagnostic_mask(QARN_DIAG_TRACE);
  qarn_held_reports *previous = qarn_hold_reports(&held);
  qarn_diagnostic("hidden", QARN_DIAG_TRACE, QARN_MODULE_HTTP);
  qarn_diagnostic("shown", QARN_DIAG_OPERATION, QARN_MODULE_HTTP);
  qarn_hold_reports(previous);
  ASSERT_EQ(entries_of(held).size(), 1u);
  qarn_set_diagnostic_mask(QARN_MASK_QUIET);
  start_capture();
  replay(held);
  EXPECT_EQ(stop_capture(), "");
}

TEST_F(held_reports_test, events_that_join_make_one_entry_with_their_count_and_latest_value) {
  qarn_held_reports held;
  held.add_event(kOwnerEvent, 0, true);
  held.add_event(kOwnerEvent, 8192, true);
  held.add_event(kOwnerEvent, 16384, true);
  held.add_line(kOwnerLine, 0, 0, "between");
  held.add_event(kOwnerEvent, 20000, true);
  held.add_event(kOwnerEvent, 20001, false);
  std::vector<qarn_held_entry> entries = entries_of(held);
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].count, 3);
  EXPECT_EQ(entries[0].value, 16384);
  EXPECT_STREQ(entries[1].text, "between");
  EXPECT_EQ(entries[2].count, 1);
  EXPECT_EQ(entries[2].value, 20000);
  // An event that does not join starts an entry of its own.
  EXPECT_EQ(entries[3].count, 1);
  EXPECT_EQ(entries[3].value, 20001);
}

TEST_F(held_reports_test, past_the_limit_lines_are_dropped_and_one_line_says_so) {
  qarn_held_reports held;
  const std::string line(1000, 'x');
  int added = 0;
  for (; added < 2 * QARN_HELD_REPORTS_LIMIT / 1000; added++) {
    held.add_line(QARN_HELD_DIAGNOSTIC, QARN_DIAG_OPERATION, QARN_MODULE_DOWNLOADER, line.c_str());
  }
  held.add_line(QARN_HELD_DIAGNOSTIC, QARN_DIAG_OPERATION, QARN_MODULE_DOWNLOADER, "late");
  std::vector<qarn_held_entry> entries = entries_of(held);
  ASSERT_GT(entries.size(), 2u);
  ASSERT_LT(entries.size(), static_cast<size_t>(added));
  size_t held_bytes = 0;
  for (size_t i = 0; i + 1 < entries.size(); i++) {
    ASSERT_EQ(entries[i].kind, QARN_HELD_DIAGNOSTIC);
    held_bytes += sizeof(qarn_held_entry) + line.size() + 1;
  }
  EXPECT_LE(held_bytes, static_cast<size_t>(QARN_HELD_REPORTS_LIMIT));
  EXPECT_EQ(entries.back().kind, QARN_HELD_DROPPED);
  start_capture();
  qarn_replay_diagnostic(entries.back());
  EXPECT_EQ(stop_capture(), "Further reports were dropped: their lines took more than 65536 bytes.\n");
  held.clear();
  EXPECT_TRUE(entries_of(held).empty());
  held.add_line(kOwnerLine, 0, 0, "again");
  EXPECT_EQ(entries_of(held).size(), 1u);
}
