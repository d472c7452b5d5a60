#include "launcher/launcher_flags.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char PROGRAM[] = "some/dir/torvane-launcher";

std::string usage_text(const std::string &program) {
  return "Usage:  " + program + " [-h]       - this help\n" +
         "Usage:  " + program + " [-v]       - be more verbose\n" +
         "Usage:  " + program + " [-q]       - don't display certain startup messages\n" +
         "Usage:  " + program + " [-a]       - run with admin permissions\n" + "\n";
}

const char UNKNOWN_OPTION[] = "Sorry, unknown option.\n\n";

struct options_case {
  const char *label;
  std::vector<const char *> arguments;  // after argv[0]
  int expected_result;
  int verbose;
  int quiet;
  int admin_mode;
  bool shows_usage;
  bool unknown_option;
};

class parse_options_test : public testing::TestWithParam<options_case> {
 protected:
  void SetUp() override { g_launcher_flags = launcher_flags{}; }
  void TearDown() override { g_launcher_flags = launcher_flags{}; }
};

TEST_P(parse_options_test, sets_flags_and_prints_usage_only_when_stopping) {
  const options_case &c = GetParam();
  std::vector<char *> argv;
  argv.push_back(const_cast<char *>(PROGRAM));
  for (const char *argument : c.arguments) {
    argv.push_back(const_cast<char *>(argument));
  }
  argv.push_back(nullptr);

  testing::internal::CaptureStdout();
  int result = parse_options(static_cast<int>(argv.size()) - 1, argv.data());
  std::string output = testing::internal::GetCapturedStdout();

  std::string expected_output;
  if (c.unknown_option) {
    expected_output += UNKNOWN_OPTION;
  }
  if (c.shows_usage) {
    expected_output += usage_text(PROGRAM);
  }
  EXPECT_EQ(result, c.expected_result);
  EXPECT_EQ(output, expected_output);
  EXPECT_EQ(g_launcher_flags.verbose, c.verbose);
  EXPECT_EQ(g_launcher_flags.quiet, c.quiet);
  EXPECT_EQ(g_launcher_flags.admin_mode, c.admin_mode);
  EXPECT_STREQ(g_launcher_flags.program_path, PROGRAM);
}

const options_case OPTIONS_CASES[] = {
    {"no_options", {}, 1, 0, 0, 0, false, false},
    {"verbose", {"-v"}, 1, 1, 0, 0, false, false},
    {"quiet", {"-q"}, 1, 0, 1, 0, false, false},
    {"admin", {"-a"}, 1, 0, 0, 1, false, false},
    {"upper_case_verbose_and_admin", {"-V", "-A"}, 1, 1, 0, 1, false, false},
    {"upper_case_quiet", {"-Q"}, 1, 0, 1, 0, false, false},
    {"all_three", {"-a", "-q", "-v"}, 1, 1, 1, 1, false, false},
    {"help_alone", {"-h"}, 0, 0, 0, 0, true, false},
    {"help_upper_case", {"-H"}, 0, 0, 0, 0, true, false},
    {"help_after_flags_keeps_them", {"-v", "-a", "-h"}, 0, 1, 0, 1, true, false},
    {"help_stops_before_unknown", {"-h", "-x"}, 0, 0, 0, 0, true, false},
    {"help_stops_before_later_flags", {"-h", "-v"}, 0, 0, 0, 0, true, false},
    {"unknown_option", {"-x"}, 0, 0, 0, 0, true, true},
    {"unknown_after_flags_keeps_them", {"-q", "-v", "-x", "-a"}, 0, 1, 1, 0, true, true},
    {"unknown_before_help", {"-x", "-h"}, 0, 0, 0, 0, true, true},
    {"option_without_dash", {"v"}, 0, 0, 0, 0, true, true},
    {"longer_word", {"-verbose"}, 0, 0, 0, 0, true, true},
    {"empty_argument", {""}, 0, 0, 0, 0, true, true},
    // Words end at a blank, so an argument with a trailing blank still names
    // the option; a carriage return is part of the word.
    {"trailing_blank", {"-v "}, 1, 1, 0, 0, false, false},
    {"trailing_carriage_return", {"-v\r"}, 0, 0, 0, 0, true, true},
};

INSTANTIATE_TEST_SUITE_P(table, parse_options_test, testing::ValuesIn(OPTIONS_CASES),
                         [](const testing::TestParamInfo<options_case> &info) {
                           return std::string(info.param.label);
                         });

TEST(parse_options, stops_at_a_null_entry_before_argc) {
  g_launcher_flags = launcher_flags{};
  char *argv[] = {const_cast<char *>(PROGRAM), const_cast<char *>("-v"), nullptr,
                  const_cast<char *>("-x")};
  testing::internal::CaptureStdout();
  int result = parse_options(4, argv);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(result, 1);
  EXPECT_EQ(g_launcher_flags.verbose, 1);
  g_launcher_flags = launcher_flags{};
}

TEST(print_usage, names_the_program_as_given) {
  const char *programs[] = {"torvane-launcher", "./a b/torvane-launcher", "C:\\Games\\x.exe"};
  for (const char *program : programs) {
    testing::internal::CaptureStdout();
    print_usage(program);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), usage_text(program));
  }
}

}  // namespace
