// What the Windows shell is handed for the elevated re-run. The consent
// dialog of a real elevation cannot run in a test, and Wine does not
// elevate, so the shell call is replaced by one that records its texts.
#ifdef _WIN32
#include "platform/win32/elevated_start.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/common/current_directory.h"
#include "tests/common/scratch_directory.h"

namespace {

namespace fs = std::filesystem;

// A shell result above 32: the start was handed over.
constexpr intptr_t SHELL_STARTED = 42;

struct shell_call {
  int count = 0;
  std::wstring verb;
  std::wstring program;
  std::wstring parameters;
  bool has_parameters = false;
  std::wstring directory;
  bool has_directory = false;
};

shell_call g_call;

intptr_t record_shell_start(const wchar_t *verb, const wchar_t *program, const wchar_t *parameters,
                            const wchar_t *directory) {
  g_call.count++;
  g_call.verb = verb;
  g_call.program = program;
  g_call.has_parameters = parameters != nullptr;
  g_call.parameters = parameters != nullptr ? parameters : L"";
  g_call.has_directory = directory != nullptr;
  g_call.directory = directory != nullptr ? directory : L"";
  return SHELL_STARTED;
}

class elevated_start_test : public testing::Test {
 protected:
  void SetUp() override { g_call = shell_call(); }
};

// The installation's name and the program's path hold letters of every
// width: UTF-16 needs a surrogate pair for the last one.
TEST_F(elevated_start_test, runs_as_administrator_in_the_installation_directory) {
  scratch_directory scratch;
  const fs::path installation = scratch.path() / fs::u8path(u8"Torvané Spiele 😀");
  ASSERT_TRUE(fs::create_directory(installation));
  current_directory_change into(installation);
  const std::string program = (installation / fs::u8path(u8"torvane-launcher-ü.exe")).u8string();

  EXPECT_EQ(SHELL_STARTED, win32_start_elevated(record_shell_start, program.c_str(), "-a -v"));
  ASSERT_EQ(1, g_call.count);
  EXPECT_EQ(L"runas", g_call.verb);
  EXPECT_EQ(fs::u8path(program).wstring(), g_call.program);
  EXPECT_TRUE(g_call.has_parameters);
  EXPECT_EQ(L"-a -v", g_call.parameters);
  ASSERT_TRUE(g_call.has_directory) << "an elevated start without a directory begins in the system folder";
  EXPECT_EQ(fs::current_path().wstring(), g_call.directory);
  EXPECT_TRUE(fs::equivalent(installation, fs::path(g_call.directory)));
}

TEST_F(elevated_start_test, without_parameters_the_shell_gets_none) {
  EXPECT_EQ(SHELL_STARTED, win32_start_elevated(record_shell_start, "torvane-launcher.exe", nullptr));
  ASSERT_EQ(1, g_call.count);
  EXPECT_FALSE(g_call.has_parameters);
  EXPECT_EQ(fs::current_path().wstring(), g_call.directory);
}

TEST_F(elevated_start_test, a_program_name_that_is_not_utf8_is_not_found_and_never_started) {
  EXPECT_EQ(2, win32_start_elevated(record_shell_start, "torvane-launcher-\xE9.exe", "-a"));
  EXPECT_EQ(0, g_call.count);
}

}  // namespace
#endif
