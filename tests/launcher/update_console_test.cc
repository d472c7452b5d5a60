// The update run's console output: dots, percentage lines at most every 3
// seconds (with a clock the test moves), and the statistics block.
#include "launcher/update_console.h"

#include <gtest/gtest.h>

#include <string>

#include "launcher/launcher_flags.h"
#include "support/clock.h"
#include "tests/common/moved_clock.h"

namespace {

class update_console_test : public testing::Test {
 protected:
  void SetUp() override {
    g_launcher_flags.verbose = 0;
    // As an update run starts.
    g_last_percent_time = qarn_clock_seconds();
  }
  void TearDown() override { g_launcher_flags.verbose = 0; }
  std::string percent_at(double done, double total) {
    testing::internal::CaptureStdout();
    print_percent_complete(nullptr, done, total);
    return testing::internal::GetCapturedStdout();
  }

  moved_clock clock_;
};

TEST_F(update_console_test, percentage_lines_come_at_most_every_three_seconds) {
  EXPECT_EQ(percent_at(10, 100), "");
  moved_clock::advance(2);
  EXPECT_EQ(percent_at(20, 100), "");
  moved_clock::advance(1);
  EXPECT_EQ(percent_at(25, 100), " 25.0% complete.\n");
  moved_clock::advance(2);
  EXPECT_EQ(percent_at(50, 100), "");
  moved_clock::advance(1);
  EXPECT_EQ(percent_at(1000, 1000), "100.0% complete.\n");
  moved_clock::advance(30);
  EXPECT_EQ(percent_at(1, 3), " 33.3% complete.\n");
}

// Byte counts of 2 GiB and more, up to the largest file and a sum of
// several of them, give the same percentages as small ones.
TEST_F(update_console_test, percentages_stay_right_beyond_32_bits) {
  constexpr double kTwo31 = 2147483648.0;
  constexpr double kTwo32 = 4294967296.0;
  constexpr double kLargest = 1099511627776.0;  // the largest file, 2^40
  struct percent_case {
    double done;
    double total;
    const char *line;
  };
  const percent_case cases[] = {
      {kTwo31 - 1, kTwo31 + 1, "100.0% complete.\n"},
      {kTwo31, kTwo32, " 50.0% complete.\n"},
      {kTwo31 + 1, kTwo32 + 5, " 50.0% complete.\n"},
      {kTwo31 + 7, 3 * kTwo31, " 33.3% complete.\n"},
      {kTwo32, kTwo32 + 5, "100.0% complete.\n"},
      {kTwo32 - 1, 4 * kTwo32, " 25.0% complete.\n"},
      {0, kTwo31 + 1, "  0.0% complete.\n"},
      {kTwo31 + 1, kTwo31 + 1, "100.0% complete.\n"},
      {kLargest / 8, kLargest, " 12.5% complete.\n"},
      {kLargest - 1, kLargest, "100.0% complete.\n"},
      {3 * kLargest, 8 * kLargest, " 37.5% complete.\n"},
      {8191 * kLargest, 8192 * kLargest, "100.0% complete.\n"},
  };
  for (const percent_case &c : cases) {
    SCOPED_TRACE(std::to_string(c.done) + " of " + std::to_string(c.total));
    moved_clock::advance(3);
    EXPECT_EQ(percent_at(c.done, c.total), c.line);
  }
}

TEST_F(update_console_test, a_total_of_zero_counts_as_one) {
  moved_clock::advance(3);
  EXPECT_EQ(percent_at(0, 0), "  0.0% complete.\n");
  moved_clock::advance(3);
  EXPECT_EQ(percent_at(0.5, -4), " 50.0% complete.\n");
}

TEST_F(update_console_test, verbose_runs_print_no_percentage_but_move_its_time) {
  g_launcher_flags.verbose = 1;
  moved_clock::advance(3);
  EXPECT_EQ(percent_at(50, 100), "");
  g_launcher_flags.verbose = 0;
  moved_clock::advance(2);
  EXPECT_EQ(percent_at(60, 100), "");
  moved_clock::advance(1);
  EXPECT_EQ(percent_at(70, 100), " 70.0% complete.\n");
}

TEST_F(update_console_test, dots_only_in_verbose_mode_and_a_line_end_when_complete) {
  testing::internal::CaptureStdout();
  print_download_dots(nullptr, 10, 100);
  print_download_dots(nullptr, 100, 100);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  g_launcher_flags.verbose = 1;
  testing::internal::CaptureStdout();
  print_download_dots(nullptr, 0, 100);
  print_download_dots(nullptr, 10, 100);
  print_download_dots(nullptr, 100, 100);
  print_download_dots(nullptr, 5, -1);
  // Counts that agree only in their low 32 bits are not complete.
  print_download_dots(nullptr, 5, (int64_t{1} << 32) + 5);
  print_download_dots(nullptr, (int64_t{1} << 32) + 5, (int64_t{1} << 32) + 5);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "...\n...\n");
}

TEST_F(update_console_test, messages_are_lines) {
  testing::internal::CaptureStdout();
  print_message_line(nullptr, "One file to update.");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "One file to update.\n");
}

// Byte totals of 2 GiB and more print whole, to the byte.
TEST_F(update_console_test, the_statistics_block_prints_byte_totals_beyond_32_bits_exactly) {
  ovu_update_stats stats = {0, 0, 2, 0, 2, 2, 0, 0, 2147490806.0, 2147490806.0, 2147490806.0, 4294967301.0};
  testing::internal::CaptureStdout();
  print_update_statistics(stats);
  std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_NE(printed.find("\nexpected_download_byte_count:       2147490806\n"
                         "current_download_byte_count:        2147490806\n"
                         "downloaded_bytes:                   2147490806\n"
                         "saved_bytes:                        4294967301\n"),
            std::string::npos)
      << printed;
}

TEST_F(update_console_test, the_statistics_block_lists_every_count_in_order) {
  ovu_update_stats stats = {3, 2, 7, 1, 4, 2, 1, 1, 4096.0, 3000.0, 3500.5, 2048.0};
  testing::internal::CaptureStdout();
  print_update_statistics(stats);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "\n"
            "local_manifest_initial_entry_count: 3\n"
            "local_manifest_pruned_entry_count:  2\n"
            "remote_manifest_entry_count:        7\n"
            "\n"
            "exclude_manifest_file_count         1\n"
            "expected_download_file_count:       4\n"
            "successfully_saved_file_count:      2\n"
            "failed_download_file_count:         1\n"
            "failed_save_file_count:             1\n"
            "\n"
            "expected_download_byte_count:       4096\n"
            "current_download_byte_count:        3000\n"
            "downloaded_bytes:                   3500\n"
            "saved_bytes:                        2048\n");
}

}  // namespace
