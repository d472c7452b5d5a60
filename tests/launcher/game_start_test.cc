#include "launcher/game_start.h"

#include <gtest/gtest.h>

#include <string>

#include "support/diagnostics.h"
#include "support/process_control.h"
#include "tests/common/current_directory.h"
#include "tests/common/scratch_directory.h"
#include "tests/launcher/client_image.h"
#include "tests/launcher/exec_failure.h"
#include "tests/launcher/lock_check.h"

namespace {

const char TEST_LOCK_NAME[] = "torvane_launcher_game_start_test.lock";

// A client that must not start: missing, too short, or not a program. Each
// is deleted, and only a failed exec is reported, even under the launcher's
// quiet mask.
struct unstartable_client_case {
  const char *label;
  long size;  // NO_CLIENT_IMAGE: no file at all
  bool exec_failure_reported;
};

class start_game_test : public testing::TestWithParam<unstartable_client_case> {
 protected:
  void SetUp() override { qarn_set_diagnostic_mask(QARN_MASK_QUIET); }
  void TearDown() override {
    qarn_release_instance_lock();
    qarn_set_diagnostic_mask(QARN_MASK_NONE);
  }
  scratch_directory scratch_;
  // The lock is a file of the installation, the current directory.
  current_directory_change in_installation_{scratch_.path()};
};

TEST_P(start_game_test, deletes_the_client_and_returns_zero) {
  const unstartable_client_case &c = GetParam();
  std::string image = place_client_image(scratch_, c.size);
  ASSERT_EQ(qarn_acquire_instance_lock(TEST_LOCK_NAME), 1);

  testing::internal::CaptureStdout();
  int result = start_game(image.c_str());
  std::string output = testing::internal::GetCapturedStdout();

  EXPECT_EQ(result, 0);
  EXPECT_FALSE(scratch_.exists(CLIENT_IMAGE_NAME));
  EXPECT_TRUE(lock_is_free(TEST_LOCK_NAME)) << "the lock is released before the start";
  if (c.exec_failure_reported) {
    EXPECT_TRUE(matches_with_any_errno(output, not_a_program_errnos(), [&](int error) {
      return exec_failure_line(error, image);
    })) << output;
    // Once the exec has failed, nothing is hidden any more.
    EXPECT_EQ(qarn_diagnostic_mask(), QARN_MASK_NONE);
  } else {
    EXPECT_EQ(output, "");
    EXPECT_EQ(qarn_diagnostic_mask(), QARN_MASK_QUIET);
  }
}

const unstartable_client_case UNSTARTABLE_CLIENTS[] = {
    {"missing", NO_CLIENT_IMAGE, false},
    {"empty", 0, false},
    {"ninety_nine_bytes", 99, false},
    {"hundred_bytes_of_garbage", 100, true},
};

INSTANTIATE_TEST_SUITE_P(table, start_game_test, testing::ValuesIn(UNSTARTABLE_CLIENTS),
                         [](const testing::TestParamInfo<unstartable_client_case> &info) {
                           return std::string(info.param.label);
                         });

}  // namespace
