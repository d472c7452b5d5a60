// Test helper: the real launcher with its update attempts scripted. Each
// attempt takes the next line "R E S" of the file "update_script.txt" in the
// current directory: the result, the expected and the saved file count.
// Anything wrong with the call or the script is printed, so that a process
// test comparing the output notices it.
//
// A line with the result 5 stands for an installation that this user cannot
// write: like the update run, the attempt starts the launcher again with
// administrator rights and "-a", and ends this process with exit code 1.
// The elevated copy (-a) passes over such lines.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "launcher/launcher_flags.h"
#include "launcher/launcher_main_flow.h"
#include "platform/arguments.h"
#include "support/process_control.h"

namespace {

const char SCRIPT_FILE[] = "update_script.txt";
// The updater's result for an installation it cannot write.
constexpr int RESULT_NOT_WRITABLE = 5;
const char ELEVATED_PARAMETERS[] = "-a";

int g_attempts_made = 0;

bool stats_are_zero(const ovu_update_stats *stats) {
  const unsigned char *bytes = reinterpret_cast<const unsigned char *>(stats);
  for (size_t i = 0; i < sizeof(*stats); i++) {
    if (bytes[i] != 0) {
      return false;
    }
  }
  return true;
}

// Reads line |index| (from 0) of the script into |result|, |expected| and
// |saved|; the elevated copy does not count the lines that elevated. Returns
// false when there is no such line.
bool read_script_line(int index, int *result, int *expected, int *saved) {
  std::FILE *script = std::fopen(SCRIPT_FILE, "r");
  if (script == nullptr) {
    return false;
  }
  bool found = false;
  for (int line = 0; line <= index; line++) {
    found = std::fscanf(script, "%d %d %d", result, expected, saved) == 3;
    if (!found) {
      break;
    }
    if (g_launcher_flags.admin_mode && *result == RESULT_NOT_WRITABLE) {
      line--;
    }
  }
  std::fclose(script);
  return found;
}

// What the update run does for an installation it cannot write.
[[noreturn]] void start_elevated_copy() {
  qarn_win32_exec_with_admin_permissions(g_launcher_flags.program_path, ELEVATED_PARAMETERS);
  std::fflush(nullptr);
  std::exit(1);
}

int scripted_update(const unsigned char *configuration, const char *manifest_file,
                    const char *exclude_file, const char *temporary_file,
                    ovu_update_stats *stats_out, const char *root_path_suffix) {
  (void)configuration;
  int index = g_attempts_made++;
  if (std::strcmp(manifest_file, "update_manifest.lst") != 0 ||
      std::strcmp(exclude_file, "update_exclude.lst") != 0 ||
      std::strcmp(temporary_file, "tmp/update.tmp") != 0 || root_path_suffix != nullptr) {
    std::printf("scripted update: unexpected file names\n");
  }
  if (stats_out == nullptr || !stats_are_zero(stats_out)) {
    std::printf("scripted update: statistics not zeroed\n");
    return 0;
  }
  int result = 0;
  int expected = 0;
  int saved = 0;
  if (!read_script_line(index, &result, &expected, &saved)) {
    std::printf("scripted update: no line %d in %s\n", index + 1, SCRIPT_FILE);
    return 0;
  }
  if (result == RESULT_NOT_WRITABLE) {
    start_elevated_copy();
  }
  stats_out->expected_download_file_count = expected;
  stats_out->successfully_saved_file_count = saved;
  return result;
}

}  // namespace

int main(int argc, char **argv) {
  launcher_services services = launcher_default_services();
  services.update = scripted_update;
  return launcher_main(argc, platform_utf8_arguments(argc, argv), services);
}
