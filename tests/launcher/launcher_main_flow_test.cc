#include "launcher/launcher_main_flow.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "launcher/built_in_configuration.h"
#include "launcher/game_start.h"
#include "launcher/launcher_flags.h"
#include "launcher/release_key.h"
#include "platform/instance_lock.h"
#include "support/diagnostics.h"
#include "support/process_control.h"
#include "tests/common/current_directory.h"
#include "tests/common/scratch_directory.h"
#include "tests/launcher/lock_check.h"

namespace {

// The flow tests take their own lock, so that they never meet a real
// launcher or the process tests.
const char TEST_LOCK_NAME[] = "torvane_launcher_flow_test.lock";
const unsigned char TEST_CONFIGURATION[LAUNCHER_CONFIGURATION_LEN] = {1, 2, 3};
const unsigned char TEST_RELEASE_KEY[LAUNCHER_RELEASE_KEY_LEN] = {4, 5, 6};

// Texts the player sees, as blocks.
const char NO_SERVER[] =
    "Sorry, unable to contact server for updates.  Torvane will try\n"
    "to update again next time you run it.\n"
    "\n"
    "Press return to start the game.\n";
const char UNABLE_TO_START[] =
    "\n"
    "Unable to start game.  Please try again when attached to a\n"
    "network so I can update the game.\n";
const char DAMAGED_CLIENT[] =
    "Error - the main file, 'BRUXclient.exe', appears to be damaged.\n"
    "I'll try to fix it next time you start the game.  Please restart now.\n"
    "\n"
    "If this problem persists, please contact the game developers.\n";
const char GIVE_UP[] =
    "Unable to download updates.  Please try again later.\n"
    "\n"
    "Is there another copy of Torvane already running?\n"
    "This can cause updates to fail.\n"
    "\n";
const char LOCK_REFUSED[] =
    "\n"
    "Sorry, it looks like there's a Torvane update already\n"
    "running.  Please wait until it's finished and try again.\n"
    "\n"
    "Press return to exit.\n";
const char FINAL_PROMPT[] = "\nPress return to exit.\n";
const char PRODUCT_LINE[] = "This program updates and runs the STABLE version of Torvane.\n";

std::string count_line(int saved, int expected) {
  return std::to_string(saved) + "/" + std::to_string(expected) +
         " files successfully updated.\n";
}

std::string retry_line(int attempt) {
  return "Some files not updated.  Trying again, attempt " + std::to_string(attempt) +
         " out of 3.\n";
}

// What one scripted update attempt returns.
struct scripted_attempt {
  int result;
  int expected;
  int saved;
};

// What the flow did, as seen by the injected services.
struct flow_record {
  std::vector<scripted_attempt> script;
  size_t update_calls = 0;
  bool stats_zeroed_on_entry = true;
  bool arguments_as_documented = true;
  std::vector<int32_t> masks_during_update;
  std::vector<int64_t> sleeps;
  std::vector<std::string> game_starts;
  std::vector<bool> lock_free_at_game_start;
  int return_waits = 0;
};

flow_record *g_record = nullptr;

bool all_bytes_zero(const void *data, size_t length) {
  const unsigned char *bytes = static_cast<const unsigned char *>(data);
  for (size_t i = 0; i < length; i++) {
    if (bytes[i] != 0) {
      return false;
    }
  }
  return true;
}

int scripted_update(const unsigned char *configuration, const char *manifest_file,
                    const char *exclude_file, const char *temporary_file,
                    ovu_update_stats *stats_out, const char *root_path_suffix) {
  flow_record &record = *g_record;
  record.masks_during_update.push_back(qarn_diagnostic_mask());
  // Each update checks releases with the key of the launcher's services.
  if (configuration != TEST_CONFIGURATION || g_launcher_release_key != TEST_RELEASE_KEY ||
      std::strcmp(manifest_file, "update_manifest.lst") ||
      std::strcmp(exclude_file, "update_exclude.lst") ||
      std::strcmp(temporary_file, "tmp/update.tmp") || stats_out == nullptr ||
      root_path_suffix != nullptr) {
    record.arguments_as_documented = false;
  }
  if (stats_out != nullptr && !all_bytes_zero(stats_out, sizeof(*stats_out))) {
    record.stats_zeroed_on_entry = false;
  }
  size_t index = record.update_calls++;
  if (index >= record.script.size()) {
    ADD_FAILURE() << "update attempt " << index + 1 << " was not expected";
    return 0;
  }
  const scripted_attempt &attempt = record.script[index];
  if (stats_out != nullptr) {
    // Values the launcher must not read, so that a mix-up shows.
    stats_out->local_manifest_initial_entry_count = 91;
    stats_out->remote_manifest_entry_count = 92;
    stats_out->failed_download_file_count = 93;
    stats_out->expected_download_file_count = attempt.expected;
    stats_out->successfully_saved_file_count = attempt.saved;
  }
  return attempt.result;
}

void recording_sleep(int64_t ms) { g_record->sleeps.push_back(ms); }

int recording_start_game(const char *image) {
  g_record->game_starts.push_back(image);
  g_record->lock_free_at_game_start.push_back(lock_is_free(TEST_LOCK_NAME));
  return 0;
}

void recording_wait_for_return() { g_record->return_waits++; }

class launcher_main_flow_test : public testing::Test {
 protected:
  void SetUp() override {
    g_record = &record_;
    g_launcher_flags = launcher_flags{};
    qarn_set_diagnostic_mask(QARN_MASK_NONE);
    services_.update = scripted_update;
    services_.sleep_ms = recording_sleep;
    services_.start_game = recording_start_game;
    services_.wait_for_return = recording_wait_for_return;
    services_.lock_name = TEST_LOCK_NAME;
    services_.configuration = TEST_CONFIGURATION;
    services_.release_key = TEST_RELEASE_KEY;
  }
  void TearDown() override {
    qarn_release_instance_lock();
    qarn_set_diagnostic_mask(QARN_MASK_NONE);
    g_launcher_flags = launcher_flags{};
    g_record = nullptr;
  }

  // Runs the launcher with |arguments| after the program name; returns the
  // exit code and leaves the output in output_.
  int run(std::vector<const char *> arguments = {}) {
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>("torvane-launcher"));
    for (const char *argument : arguments) {
      argv.push_back(const_cast<char *>(argument));
    }
    argv.push_back(nullptr);
    testing::internal::CaptureStdout();
    int exit_code = launcher_main(static_cast<int>(argv.size()) - 1, argv.data(), services_);
    output_ = testing::internal::GetCapturedStdout();
    return exit_code;
  }

  flow_record record_;
  launcher_services services_;
  std::string output_;
  // The lock is a file of the installation, the current directory.
  scratch_directory installation_;
  current_directory_change in_installation_{installation_.path()};
};

// One path through the attempt loop, from the scripted update results to
// everything the player and the system see.
struct attempt_case {
  const char *label;
  std::vector<scripted_attempt> script;
  std::string expected_output;
  int expected_exit_code;
  size_t expected_sleeps;
  bool starts_game;
  bool lock_free_at_start;
};

class attempt_loop_test : public launcher_main_flow_test,
                          public testing::WithParamInterface<attempt_case> {};

TEST_P(attempt_loop_test, follows_the_update_results) {
  const attempt_case &c = GetParam();
  record_.script = c.script;

  int exit_code = run();

  EXPECT_EQ(output_, c.expected_output);
  EXPECT_EQ(exit_code, c.expected_exit_code);
  EXPECT_EQ(record_.update_calls, c.script.size());
  EXPECT_TRUE(record_.stats_zeroed_on_entry);
  EXPECT_TRUE(record_.arguments_as_documented);
  EXPECT_EQ(record_.sleeps, std::vector<int64_t>(c.expected_sleeps, RETRY_PAUSE_MS));
  if (c.starts_game) {
    ASSERT_EQ(record_.game_starts, std::vector<std::string>{"BRUXclient.exe"});
    EXPECT_EQ(record_.lock_free_at_game_start[0], c.lock_free_at_start);
  } else {
    EXPECT_TRUE(record_.game_starts.empty());
  }
  // One wait before the game start when the server was not reached, and
  // always the final one.
  bool no_server = c.script.back().result == 0;
  EXPECT_EQ(record_.return_waits, no_server ? 2 : 1);
  for (int32_t mask : record_.masks_during_update) {
    EXPECT_EQ(mask, QARN_MASK_QUIET);
  }
  EXPECT_TRUE(lock_is_free(TEST_LOCK_NAME)) << "the lock must be released before the final prompt";
}

const attempt_case ATTEMPT_CASES[] = {
    {"everything_up_to_date_starts_game_at_once",
     {{1, 0, 0}},
     std::string(DAMAGED_CLIENT) + FINAL_PROMPT,
     0,
     0,
     true,
     true},
    {"all_planned_files_saved_first_time",
     {{1, 4, 4}},
     count_line(4, 4) + DAMAGED_CLIENT + FINAL_PROMPT,
     0,
     0,
     true,
     true},
    {"five_expected_three_saved_then_retry_succeeds",
     {{1, 5, 3}, {1, 2, 2}},
     count_line(3, 5) + retry_line(2) + count_line(2, 2) + DAMAGED_CLIENT + FINAL_PROMPT,
     0,
     1,
     true,
     true},
    {"third_attempt_succeeds",
     {{1, 4, 1}, {1, 3, 2}, {1, 1, 1}},
     count_line(1, 4) + retry_line(2) + count_line(2, 3) + retry_line(3) + count_line(1, 1) +
         DAMAGED_CLIENT + FINAL_PROMPT,
     0,
     2,
     true,
     true},
    {"three_short_attempts_give_up",
     {{1, 5, 3}, {1, 2, 1}, {1, 1, 0}},
     count_line(3, 5) + retry_line(2) + count_line(1, 2) + retry_line(3) + count_line(0, 1) +
         GIVE_UP + FINAL_PROMPT,
     0,
     2,
     false,
     false},
    {"server_unreachable_is_not_retried",
     {{0, 0, 0}},
     std::string(NO_SERVER) + UNABLE_TO_START + FINAL_PROMPT,
     1,
     0,
     true,
     // start_game itself releases the lock; the flow does not before it.
     false},
    {"counts_of_a_failed_run_are_ignored",
     {{0, 7, 2}},
     std::string(NO_SERVER) + UNABLE_TO_START + FINAL_PROMPT,
     1,
     0,
     true,
     false},
    {"server_lost_on_retry_ends_with_failure",
     {{1, 5, 3}, {0, 0, 0}},
     count_line(3, 5) + retry_line(2) + NO_SERVER + UNABLE_TO_START + FINAL_PROMPT,
     1,
     1,
     true,
     false},
};

INSTANTIATE_TEST_SUITE_P(table, attempt_loop_test, testing::ValuesIn(ATTEMPT_CASES),
                         [](const testing::TestParamInfo<attempt_case> &info) {
                           return std::string(info.param.label);
                         });

TEST_F(launcher_main_flow_test, verbose_run_leaves_diagnostics_unmasked) {
  record_.script = {{1, 0, 0}};
  EXPECT_EQ(run({"-v"}), 0);
  ASSERT_EQ(record_.masks_during_update.size(), 1u);
  EXPECT_EQ(record_.masks_during_update[0], QARN_MASK_NONE);
}

TEST_F(launcher_main_flow_test, help_ends_before_the_lock_and_the_update) {
  platform_lock_handle other_holder = 0;
  ASSERT_EQ(platform_lock_acquire(TEST_LOCK_NAME, &other_holder), PLATFORM_LOCK_ACQUIRED);

  EXPECT_EQ(run({"-q", "-h"}), 1);

  platform_lock_release(other_holder);
  EXPECT_EQ(output_.substr(output_.size() - std::strlen(PRODUCT_LINE)), PRODUCT_LINE);
  EXPECT_EQ(output_.find("Sorry, it looks like"), std::string::npos);
  EXPECT_EQ(record_.update_calls, 0u);
  EXPECT_EQ(record_.return_waits, 0);
}

TEST_F(launcher_main_flow_test, unknown_option_ends_with_the_product_line) {
  EXPECT_EQ(run({"-x"}), 1);
  EXPECT_EQ(output_.substr(0, 24), "Sorry, unknown option.\n\n");
  EXPECT_EQ(output_.substr(output_.size() - std::strlen(PRODUCT_LINE) - 1),
            std::string("\n") + PRODUCT_LINE);
  EXPECT_EQ(record_.update_calls, 0u);
}

TEST_F(launcher_main_flow_test, refused_lock_waits_for_return_and_touches_nothing) {
  platform_lock_handle other_holder = 0;
  ASSERT_EQ(platform_lock_acquire(TEST_LOCK_NAME, &other_holder), PLATFORM_LOCK_ACQUIRED);

  int exit_code = run();

  EXPECT_FALSE(lock_is_free(TEST_LOCK_NAME)) << "the other holder keeps its lock";
  platform_lock_release(other_holder);
  EXPECT_EQ(exit_code, 1);
  EXPECT_EQ(output_, LOCK_REFUSED);
  EXPECT_EQ(record_.return_waits, 1);
  EXPECT_EQ(record_.update_calls, 0u);
  EXPECT_TRUE(record_.game_starts.empty());
}

TEST(launcher_default_services, are_the_real_ones) {
  launcher_services services = launcher_default_services();
  EXPECT_EQ(services.update, &run_update);
  EXPECT_EQ(services.sleep_ms, &qarn_sleep_ms);
  EXPECT_EQ(services.start_game, &start_game);
  EXPECT_EQ(services.wait_for_return, &wait_for_return);
  EXPECT_STREQ(services.lock_name, "torvane_updater_lock.tmp");
  EXPECT_EQ(services.configuration, g_built_in_configuration);
  EXPECT_EQ(services.release_key, g_built_in_release_key);
}

// Without a configuration there is nothing to decipher: no update, and the
// counts stay as they were.
TEST(run_update, without_a_configuration_bails_and_leaves_the_counts_alone) {
  ovu_update_stats stats;
  std::memset(&stats, 0, sizeof(stats));
  testing::internal::CaptureStdout();
  int result = run_update(nullptr, "update_manifest.lst", "update_exclude.lst", "tmp/update.tmp",
                          &stats, nullptr);
  std::string output = testing::internal::GetCapturedStdout();
  EXPECT_NE(output.find("Segmentation fault.  Attempting to bail.\n"), std::string::npos) << output;
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(all_bytes_zero(&stats, sizeof(stats)));
}

}  // namespace
