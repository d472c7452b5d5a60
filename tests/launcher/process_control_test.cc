#include "support/process_control.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/instance_lock.h"
#include "support/diagnostics.h"
#include "tests/common/current_directory.h"
#include "tests/common/scratch_directory.h"
#include "tests/launcher/client_image.h"
#include "tests/launcher/exec_failure.h"
#include "tests/launcher/lock_check.h"

namespace {

const char TEST_LOCK_NAME[] = "torvane_process_control_test.lock";

// Exit codes of the lock probe (tests/launcher/lock_probe.cc).
constexpr int PROBE_ACQUIRED = 0;
constexpr int PROBE_REFUSED = 3;

// The exit code inside a std::system() status: POSIX shifts it left by 8
// bits, Windows returns it as it is.
int exit_code_of(int status) { return status > 255 ? (status >> 8) & 0xff : status; }

// Runs the lock probe as a separate process that asks for |name|.
int probe_lock_from_another_process(const char *name) {
  std::string command = std::string("\"") + LOCK_PROBE_PATH + "\" " + name;
  return exit_code_of(std::system(command.c_str()));
}

// Every lock test runs in an installation of its own: on POSIX the lock is
// a file of the current directory.
class instance_lock_test : public testing::Test {
 protected:
  void SetUp() override { qarn_release_instance_lock(); }
  void TearDown() override { qarn_release_instance_lock(); }
  scratch_directory installation_;
  current_directory_change in_installation_{installation_.path()};
};

TEST_F(instance_lock_test, second_acquire_in_this_process_is_refused_and_keeps_the_first) {
  ASSERT_EQ(qarn_acquire_instance_lock(TEST_LOCK_NAME), 1);
  EXPECT_EQ(qarn_acquire_instance_lock(TEST_LOCK_NAME), 0);
  EXPECT_FALSE(lock_is_free(TEST_LOCK_NAME)) << "the refused acquire dropped the hold";
  qarn_release_instance_lock();
  EXPECT_TRUE(lock_is_free(TEST_LOCK_NAME)) << "the first hold could not be released";
}

TEST_F(instance_lock_test, another_holder_in_this_process_refuses_it) {
  platform_lock_handle other = 0;
  ASSERT_EQ(platform_lock_acquire(TEST_LOCK_NAME, &other), PLATFORM_LOCK_ACQUIRED);
  EXPECT_EQ(qarn_acquire_instance_lock(TEST_LOCK_NAME), 0);
  // The refused process's own release must not free the holder's lock.
  qarn_release_instance_lock();
  EXPECT_FALSE(lock_is_free(TEST_LOCK_NAME));
  platform_lock_release(other);
  EXPECT_EQ(qarn_acquire_instance_lock(TEST_LOCK_NAME), 1);
}

TEST_F(instance_lock_test, another_process_is_refused_while_held) {
  ASSERT_EQ(qarn_acquire_instance_lock(TEST_LOCK_NAME), 1);
  EXPECT_EQ(probe_lock_from_another_process(TEST_LOCK_NAME), PROBE_REFUSED);
  qarn_release_instance_lock();
  EXPECT_EQ(probe_lock_from_another_process(TEST_LOCK_NAME), PROBE_ACQUIRED);
}

TEST_F(instance_lock_test, ending_process_frees_its_lock) {
  // The probe exits holding the lock without releasing it.
  ASSERT_EQ(probe_lock_from_another_process(TEST_LOCK_NAME), PROBE_ACQUIRED);
  EXPECT_EQ(qarn_acquire_instance_lock(TEST_LOCK_NAME), 1);
}

TEST_F(instance_lock_test, locks_of_other_names_are_independent) {
  ASSERT_EQ(qarn_acquire_instance_lock(TEST_LOCK_NAME), 1);
  std::string other_name = std::string(TEST_LOCK_NAME) + ".other";
  EXPECT_EQ(probe_lock_from_another_process(other_name.c_str()), PROBE_ACQUIRED);
}

TEST_F(instance_lock_test, release_without_hold_and_twice_is_harmless) {
  qarn_release_instance_lock();
  ASSERT_EQ(qarn_acquire_instance_lock(TEST_LOCK_NAME), 1);
  qarn_release_instance_lock();
  qarn_release_instance_lock();
  EXPECT_TRUE(lock_is_free(TEST_LOCK_NAME));
  EXPECT_EQ(qarn_acquire_instance_lock(TEST_LOCK_NAME), 1);
}

#ifndef _WIN32
namespace fs = std::filesystem;

constexpr fs::perms OWNER_READ_WRITE = fs::perms::owner_read | fs::perms::owner_write;
constexpr fs::perms GROUP_READ_WRITE = fs::perms::group_read | fs::perms::group_write;

// Runs the lock probe from the directory |installation|, as a launcher of
// that installation.
int probe_lock_in(const fs::path &installation, const char *name) {
  current_directory_change in_installation(installation);
  return probe_lock_from_another_process(name);
}

TEST_F(instance_lock_test, lock_is_a_file_of_the_installation_and_outlives_the_hold) {
  ASSERT_EQ(qarn_acquire_instance_lock(TEST_LOCK_NAME), 1);
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(installation_.file(TEST_LOCK_NAME))));
  qarn_release_instance_lock();
  // Removing it would let a launcher that opened the old file and one that
  // makes a new file hold their locks side by side.
  EXPECT_TRUE(installation_.exists(TEST_LOCK_NAME)) << "release removed the lock file";
}

TEST_F(instance_lock_test, locks_of_other_installations_are_independent) {
  scratch_directory other_installation;
  ASSERT_EQ(qarn_acquire_instance_lock(TEST_LOCK_NAME), 1);
  EXPECT_EQ(probe_lock_in(other_installation.path(), TEST_LOCK_NAME), PROBE_ACQUIRED);
  EXPECT_EQ(probe_lock_in(installation_.path(), TEST_LOCK_NAME), PROBE_REFUSED);
}

TEST_F(instance_lock_test, existing_lock_file_is_used_as_it_is) {
  const std::string content = "left by an earlier launcher";
  std::string path = installation_.write_file(TEST_LOCK_NAME, content);
  const fs::perms mode = OWNER_READ_WRITE | fs::perms::group_read;
  fs::permissions(path, mode);
  ASSERT_EQ(qarn_acquire_instance_lock(TEST_LOCK_NAME), 1);
  EXPECT_EQ(probe_lock_from_another_process(TEST_LOCK_NAME), PROBE_REFUSED);
  qarn_release_instance_lock();
  EXPECT_EQ(read_file(path), content);
  EXPECT_EQ(fs::status(path).permissions(), mode) << "only a new lock file gets its access set";
}

// A new lock file may be opened for writing, and so locked, only by those
// who may write the installation: its owner, and its group when the group
// may write there.
struct lock_file_access_case {
  const char *label;
  fs::perms installation_mode;
  fs::perms expected_file_mode;
};

class lock_file_access_test : public instance_lock_test,
                              public testing::WithParamInterface<lock_file_access_case> {};

TEST_P(lock_file_access_test, new_lock_file_grants_writing_to_who_may_write_the_installation) {
  const lock_file_access_case &c = GetParam();
  fs::permissions(installation_.path(), c.installation_mode);
  ASSERT_EQ(qarn_acquire_instance_lock(TEST_LOCK_NAME), 1);
  EXPECT_EQ(fs::status(installation_.file(TEST_LOCK_NAME)).permissions(), c.expected_file_mode);
}

const lock_file_access_case LOCK_FILE_ACCESS_CASES[] = {
    {"private_installation", fs::perms::owner_all, OWNER_READ_WRITE},
    {"installation_others_may_read", fs::perms::owner_all | fs::perms::group_read |
                                         fs::perms::group_exec | fs::perms::others_read |
                                         fs::perms::others_exec,
     OWNER_READ_WRITE},
    {"installation_of_a_group", fs::perms::owner_all | fs::perms::group_all,
     OWNER_READ_WRITE | GROUP_READ_WRITE},
    {"installation_of_a_group_others_may_read",
     fs::perms::owner_all | fs::perms::group_all | fs::perms::others_read | fs::perms::others_exec,
     OWNER_READ_WRITE | GROUP_READ_WRITE},
};

INSTANTIATE_TEST_SUITE_P(table, lock_file_access_test, testing::ValuesIn(LOCK_FILE_ACCESS_CASES),
                         [](const testing::TestParamInfo<lock_file_access_case> &info) {
                           return std::string(info.param.label);
                         });

// Something planted under the lock name: the lock is refused, and nothing
// is made or changed where a link points.
struct planted_name_case {
  const char *label;
  void (*plant)(const scratch_directory &installation, const scratch_directory &elsewhere);
};

const char PLANTED_TARGET[] = "target";
const char TARGET_CONTENT[] = "not a lock";

void plant_link_to_missing_file(const scratch_directory &installation,
                                const scratch_directory &elsewhere) {
  fs::create_symlink(elsewhere.file(PLANTED_TARGET), installation.file(TEST_LOCK_NAME));
}

void plant_link_to_file(const scratch_directory &installation,
                        const scratch_directory &elsewhere) {
  fs::create_symlink(elsewhere.write_file(PLANTED_TARGET, TARGET_CONTENT),
                     installation.file(TEST_LOCK_NAME));
}

void plant_relative_link(const scratch_directory &installation,
                         const scratch_directory &elsewhere) {
  (void)elsewhere;
  installation.write_file(PLANTED_TARGET, TARGET_CONTENT);
  fs::create_symlink(PLANTED_TARGET, installation.file(TEST_LOCK_NAME));
}

void plant_link_to_directory(const scratch_directory &installation,
                             const scratch_directory &elsewhere) {
  fs::create_directory_symlink(elsewhere.path(), installation.file(TEST_LOCK_NAME));
}

void plant_directory(const scratch_directory &installation, const scratch_directory &elsewhere) {
  (void)elsewhere;
  fs::create_directory(installation.file(TEST_LOCK_NAME));
}

class planted_name_test : public instance_lock_test,
                          public testing::WithParamInterface<planted_name_case> {
 protected:
  scratch_directory elsewhere_;
};

// The content of |name| in |directory|, MISSING_FILE_CONTENT when absent.
std::string content_of(const scratch_directory &directory, const char *name) {
  return read_file(directory.file(name));
}

TEST_P(planted_name_test, is_refused_and_not_followed) {
  GetParam().plant(installation_, elsewhere_);
  const std::string target_elsewhere = content_of(elsewhere_, PLANTED_TARGET);
  const std::string target_inside = content_of(installation_, PLANTED_TARGET);
  const fs::file_type planted_type = fs::symlink_status(installation_.file(TEST_LOCK_NAME)).type();

  EXPECT_EQ(qarn_acquire_instance_lock(TEST_LOCK_NAME), 0);
  EXPECT_EQ(content_of(elsewhere_, PLANTED_TARGET), target_elsewhere) << "made or changed";
  EXPECT_EQ(content_of(installation_, PLANTED_TARGET), target_inside) << "made or changed";
  EXPECT_EQ(fs::symlink_status(installation_.file(TEST_LOCK_NAME)).type(), planted_type)
      << "the planted name was replaced";
  // The refused acquire holds nothing: release must not close anything.
  qarn_release_instance_lock();
}

const planted_name_case PLANTED_NAMES[] = {
    {"link_to_missing_file", plant_link_to_missing_file},
    {"link_to_file", plant_link_to_file},
    {"relative_link_in_the_installation", plant_relative_link},
    {"link_to_directory", plant_link_to_directory},
    {"directory", plant_directory},
};

INSTANTIATE_TEST_SUITE_P(table, planted_name_test, testing::ValuesIn(PLANTED_NAMES),
                         [](const testing::TestParamInfo<planted_name_case> &info) {
                           return std::string(info.param.label);
                         });

TEST_F(instance_lock_test, name_that_leads_out_of_the_installation_is_refused) {
  scratch_directory elsewhere;
  std::string name = elsewhere.file(TEST_LOCK_NAME);
  EXPECT_EQ(qarn_acquire_instance_lock(name.c_str()), 0);
  EXPECT_EQ(qarn_acquire_instance_lock(""), 0);
  EXPECT_FALSE(elsewhere.exists(TEST_LOCK_NAME));
}
#endif

// Boot image check. With nothing masked every report shows, so the table
// also proves which category each report uses.
struct boot_file_case {
  const char *label;
  long size;  // NO_CLIENT_IMAGE: no file
  int expected_bad;
  const char *report_before_path;  // null: no report
  const char *report_after_path;
  int32_t category;
};

class boot_file_test : public testing::TestWithParam<boot_file_case> {
 protected:
  void TearDown() override { qarn_set_diagnostic_mask(QARN_MASK_NONE); }
  scratch_directory scratch_;
};

TEST_P(boot_file_test, is_bad_below_one_hundred_bytes_or_when_missing) {
  const boot_file_case &c = GetParam();
  std::string path = place_client_image(scratch_, c.size);
  std::string expected;
  if (c.report_before_path != nullptr) {
    expected = std::string(c.report_before_path) + path + c.report_after_path + "\n";
  }

  qarn_set_diagnostic_mask(QARN_MASK_NONE);
  testing::internal::CaptureStdout();
  EXPECT_EQ(qarn_is_boot_file_bad(path.c_str()), c.expected_bad);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), expected);

  // Masking exactly the report's category silences it.
  qarn_set_diagnostic_mask(c.category);
  testing::internal::CaptureStdout();
  EXPECT_EQ(qarn_is_boot_file_bad(path.c_str()), c.expected_bad);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(scratch_.exists(CLIENT_IMAGE_NAME), c.size != NO_CLIENT_IMAGE)
      << "the check deletes nothing";
}

const boot_file_case BOOT_FILES[] = {
    {"missing", NO_CLIENT_IMAGE, 1, "qarn_is_boot_file_bad() - cannot open image file '", "'.",
     QARN_DIAG_TRACE},
    {"empty", 0, 1, "qarn_is_boot_file_bad() - image '", "' is too small to be valid.",
     QARN_DIAG_OPERATION},
    {"ninety_nine_bytes", 99, 1, "qarn_is_boot_file_bad() - image '",
     "' is too small to be valid.", QARN_DIAG_OPERATION},
    {"one_hundred_bytes", 100, 0, nullptr, nullptr, QARN_DIAG_OPERATION},
    {"large", 70000, 0, nullptr, nullptr, QARN_DIAG_OPERATION},
};

INSTANTIATE_TEST_SUITE_P(table, boot_file_test, testing::ValuesIn(BOOT_FILES),
                         [](const testing::TestParamInfo<boot_file_case> &info) {
                           return std::string(info.param.label);
                         });

TEST(boot_file, null_path_is_bad_and_named_null) {
  qarn_set_diagnostic_mask(QARN_MASK_NONE);
  testing::internal::CaptureStdout();
  EXPECT_EQ(qarn_is_boot_file_bad(nullptr), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "qarn_is_boot_file_bad() - cannot open image file '(null)'.\n");
}

// A failed boot returns to the caller with one report; the trace notice in
// front of it shows only when category 256 is not masked.
struct boot_exec_case {
  const char *label;
  long size;  // NO_CLIENT_IMAGE: no file
  int32_t mask;
  std::vector<int> expected_errnos;
};

class boot_exec_test : public testing::TestWithParam<boot_exec_case> {
 protected:
  void TearDown() override { qarn_set_diagnostic_mask(QARN_MASK_NONE); }
  scratch_directory scratch_;
};

TEST_P(boot_exec_test, failure_reports_exec_result_errno_and_file_name) {
  const boot_exec_case &c = GetParam();
  std::string path = place_client_image(scratch_, c.size);
  std::string notice;
  if ((c.mask & QARN_DIAG_TRACE) == 0) {
    notice = "qarn_boot_exec() - trying to boot image '" + path + "'\n";
  }

  char *const argv[] = {const_cast<char *>(path.c_str()), nullptr};
  qarn_set_diagnostic_mask(c.mask);
  testing::internal::CaptureStdout();
  qarn_boot_exec(path.c_str(), argv);
  std::string output = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(matches_with_any_errno(output, c.expected_errnos, [&](int error) {
    return notice + exec_failure_line(error, path);
  })) << output;
}

const boot_exec_case BOOT_EXEC_CASES[] = {
    {"missing_under_boot_mask", NO_CLIENT_IMAGE, QARN_MASK_BOOT, {ENOENT}},
    {"missing_with_nothing_masked", NO_CLIENT_IMAGE, QARN_MASK_NONE, {ENOENT}},
    {"garbage_under_boot_mask", 100, QARN_MASK_BOOT, not_a_program_errnos()},
    {"garbage_with_nothing_masked", 100, QARN_MASK_NONE, not_a_program_errnos()},
};

INSTANTIATE_TEST_SUITE_P(table, boot_exec_test, testing::ValuesIn(BOOT_EXEC_CASES),
                         [](const testing::TestParamInfo<boot_exec_case> &info) {
                           return std::string(info.param.label);
                         });

// Shell results of the elevated start and what the player is told.
struct elevation_case {
  int shell_result;
  int expected;
  const char *reason;  // null: nothing reported
};

class elevation_result_test : public testing::TestWithParam<elevation_case> {
 protected:
  void TearDown() override { qarn_set_diagnostic_mask(QARN_MASK_NONE); }
};

TEST_P(elevation_result_test, names_the_reason_of_a_failure) {
  const elevation_case &c = GetParam();
  std::string expected;
  if (c.reason != nullptr) {
    expected = std::string("Error in qarn_win32_exec_with_admin_permissions(), ") + c.reason + "\n";
  }
  // The launcher's quiet mask does not hide elevation failures.
  qarn_set_diagnostic_mask(QARN_MASK_QUIET);
  testing::internal::CaptureStdout();
  EXPECT_EQ(qarn_elevation_result(c.shell_result), c.expected);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), expected);
}

const char OUT_OF_RESOURCES[] = "The operating system is out of memory or resources.";
const char DDE_ERROR[] = "DDE error of some sort.";
const char UNKNOWN[] = "Unknown error";

const elevation_case ELEVATION_CASES[] = {
    {0, 0, OUT_OF_RESOURCES},
    {2, 0, "The specified file was not found."},
    {3, 0, "The specified path was not found."},
    {5, 0, "The operating system denied access to the specified file."},
    {8, 0, "There was not enough memory to complete the operation."},
    {11, 0, "The .exe file is invalid."},
    {26, 0, "A sharing violation occurred."},
    {27, 0, "The file name association is incomplete or invalid."},
    {28, 0, DDE_ERROR},
    {29, 0, DDE_ERROR},
    {30, 0, DDE_ERROR},
    {31, 0, "There is no application associated with the given file name extension."},
    {32, 0, "The specified DLL was not found."},
    {1, 0, UNKNOWN},
    {4, 0, UNKNOWN},
    {6, 0, UNKNOWN},
    {7, 0, UNKNOWN},
    {9, 0, UNKNOWN},
    {10, 0, UNKNOWN},
    {12, 0, UNKNOWN},
    {25, 0, UNKNOWN},
    {-1, 0, UNKNOWN},
    {-2147483647 - 1, 0, UNKNOWN},
    {33, 1, nullptr},
    {42, 1, nullptr},
    {2147483647, 1, nullptr},
};

INSTANTIATE_TEST_SUITE_P(table, elevation_result_test, testing::ValuesIn(ELEVATION_CASES),
                         [](const testing::TestParamInfo<elevation_case> &info) {
                           int value = info.param.shell_result;
                           return value < 0 ? "minus_" + std::to_string(-(int64_t)value)
                                            : std::to_string(value);
                         });

TEST(elevated_start, missing_program_is_reported_and_returns) {
  scratch_directory scratch;
  std::string program = scratch.file("no-such-launcher");
  qarn_set_diagnostic_mask(QARN_MASK_NONE);
  testing::internal::CaptureStdout();
  EXPECT_EQ(qarn_win32_exec_with_admin_permissions(program.c_str(), "-a -v"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Error in qarn_win32_exec_with_admin_permissions(), The specified file was not "
            "found.\n");
}

TEST(sleep_ms, pauses_for_the_low_32_bits_of_the_count) {
  constexpr int64_t PAUSE_MS = 60;
  // 2^32 + 60: a count that is not cut to 32 bits would sleep for weeks.
  const int64_t counts[] = {PAUSE_MS, (int64_t{1} << 32) + PAUSE_MS};
  for (int64_t count : counts) {
    auto start = std::chrono::steady_clock::now();
    qarn_sleep_ms(count);
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    EXPECT_GE(elapsed.count(), PAUSE_MS - 1) << count;
    EXPECT_LT(elapsed.count(), 5000) << count;
  }
}

#ifndef _WIN32
// The effective user id as the kernel lists it for this process; -1 when
// the system has no such listing.
long effective_user_id() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Uid:", 0) == 0) {
      std::istringstream ids(line.substr(4));
      long real = -1;
      long effective = -1;
      ids >> real >> effective;
      return effective;
    }
  }
  return -1;
}

TEST(user_admin, is_exactly_the_effective_root_user) {
  long effective = effective_user_id();
  if (effective < 0) {
    GTEST_SKIP() << "needs /proc/self/status";
  }
  EXPECT_EQ(qarn_is_user_admin() != 0, effective == 0) << "effective user " << effective;
}
#endif

TEST(console_title, writes_nothing_into_a_redirected_output) {
  testing::internal::CaptureStdout();
  int result = qarn_set_console_title("Torvane Launcher");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
#ifndef _WIN32
  // Windows reports whether a console took the title; a test whose output
  // is redirected may have none.
  EXPECT_NE(result, 0);
#else
  (void)result;
#endif
}

}  // namespace
