#include "launcher/launcher_flags.h"

#include <cstdio>

#include "support/text_scan.h"

launcher_flags g_launcher_flags = {};

namespace {

enum option_outcome {
  OPTION_GO_ON,
  OPTION_STOP,
};

option_outcome apply_option(const char *argument) {
  if (word_equal_nocase(argument, "-h")) {
    print_usage(g_launcher_flags.program_path);
    return OPTION_STOP;
  }
  if (word_equal_nocase(argument, "-q")) {
    g_launcher_flags.quiet = 1;
  } else if (word_equal_nocase(argument, "-v")) {
    g_launcher_flags.verbose = 1;
  } else if (word_equal_nocase(argument, "-a")) {
    g_launcher_flags.admin_mode = 1;
  } else {
    std::printf("Sorry, unknown option.\n");
    std::printf("\n");
    print_usage(g_launcher_flags.program_path);
    return OPTION_STOP;
  }
  return OPTION_GO_ON;
}

}  // namespace

int parse_options(int argc, char **argv) {
  if (argc <= 0 || argv == nullptr) {
    g_launcher_flags.program_path = nullptr;
    return 1;
  }
  g_launcher_flags.program_path = argv[0];
  for (int i = 1; i < argc && argv[i] != nullptr; i++) {
    if (apply_option(argv[i]) == OPTION_STOP) {
      return 0;
    }
  }
  return 1;
}

void print_usage(const char *program_path) {
  const char *path = program_path != nullptr ? program_path : "(null)";
  std::printf("Usage:  %s [-h]       - this help\n", path);
  std::printf("Usage:  %s [-v]       - be more verbose\n", path);
  std::printf("Usage:  %s [-q]       - don't display certain startup messages\n", path);
  std::printf("Usage:  %s [-a]       - run with admin permissions\n", path);
  std::printf("\n");
}
