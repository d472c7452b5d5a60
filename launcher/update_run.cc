// One update attempt: the built-in configuration deciphered, an updater
// set up with the console callbacks, run once, its result interpreted.
#include "launcher/update_run.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "launcher/launcher_flags.h"
#include "launcher/parallel_downloads_setting.h"
#include "launcher/release_key.h"
#include "launcher/update_console.h"
#include "net/ssl_startup.h"
#include "support/bounded_string.h"
#include "support/clock.h"
#include "support/diagnostics.h"
#include "support/memory_wipe.h"
#include "support/process_control.h"
#include "updater/updater.h"

const unsigned char *g_launcher_release_key = nullptr;

namespace {

// The elevated copy and a run that already has administrator rights never
// ask for them again.
bool has_or_asked_for_admin() { return g_launcher_flags.admin_mode || qarn_is_user_admin(); }

void set_up_updater(ovu_updater &updater) {
  updater.verbose = g_launcher_flags.verbose;
  updater.message_callback = print_message_line;
  updater.file_progress_callback = print_download_dots;
  updater.overall_progress_callback = print_percent_complete;
  updater.callback_data = nullptr;
  updater.pause_ms = 0;
  updater.parallel_downloads = launcher_parallel_downloads();
  updater.release_key = g_launcher_release_key;
}

void set_up_locations(ovu_updater &updater, const char *temporary_file) {
  if (!updater.set_destination_path("") && has_or_asked_for_admin()) {
    std::printf("Warning - failed to set download target directory to pwd.\n");
  }
  if (!updater.set_temporary_file(temporary_file) && has_or_asked_for_admin()) {
    std::printf("Warning - failed to set temporary download file '%s'.\n", temporary_file);
  }
}

// Starts the launcher again with administrator rights and ends this
// process; the lock goes with it.
[[noreturn]] void rerun_elevated() {
  if (g_launcher_flags.verbose) {
    std::printf("Trying to get admin permissions.\n");
  }
  qarn_bounded_string parameters;
  parameters.append(LAUNCHER_ELEVATED_PARAMETERS);
  if (g_launcher_flags.verbose) {
    parameters.append(LAUNCHER_ELEVATED_VERBOSE_PARAMETER);
  }
  std::fflush(nullptr);
  qarn_win32_exec_with_admin_permissions(g_launcher_flags.program_path, parameters.text());
  std::fflush(nullptr);
  std::exit(LAUNCHER_EXIT_ELEVATED);
}

// Runs the updater with the deciphered values. Returns run_update's result.
int update_with(const char *host, const char *root_path, const char *manifest_name, const char *manifest_file,
                const char *exclude_file, const char *temporary_file, ovu_update_stats *stats_out) {
  if (g_launcher_flags.verbose > 0) {
    std::printf("Updater got server name '%s', root path '%s', update list file name '%s'.\n", host, root_path,
                manifest_name);
  }
  ovu_updater updater;
  set_up_updater(updater);
  set_up_locations(updater, temporary_file);
  if (!updater.load_manifest(manifest_file)) {
    std::printf("Error loading manifest file '%s', aborting update.\n", manifest_file);
    return 0;
  }
  updater.load_exclude_manifest(exclude_file);
  g_last_percent_time = qarn_clock_seconds();
  int result = updater.run(host, root_path, manifest_name);
  if (result == OVU_UPDATE_NOT_WRITABLE) {
    if (has_or_asked_for_admin()) {
      std::printf("Update failed.\n");
      return 0;
    }
    rerun_elevated();
  }
  if (result != OVU_UPDATE_DONE) {
    return 0;
  }
  if (stats_out != nullptr) {
    std::memcpy(stats_out, &updater.stats, sizeof(*stats_out));
  }
  if (g_launcher_flags.verbose) {
    print_update_statistics(updater.stats);
  }
  return 1;
}

}  // namespace

int run_update(const unsigned char *configuration, const char *manifest_file, const char *exclude_file,
               const char *temporary_file, ovu_update_stats *stats_out, const char *root_path_suffix) {
  if (!g_launcher_flags.verbose) {
    qarn_set_diagnostic_mask(QARN_MASK_QUIET);
  }
  init_ssl();
  launcher_plain_configuration plain;
  if (configuration == nullptr || !decipher_configuration(configuration, &plain)) {
    qarn_wipe_bytes(&plain, sizeof(plain));
    std::printf("%s", LAUNCHER_BAD_CONFIGURATION);
    return 0;
  }
  qarn_heap_bounded_string root_path(configuration_root_path(plain), QARN_BOUNDED_STRING_CAPACITY);
  if (root_path_suffix != nullptr) {
    root_path.append(root_path_suffix);
  }
  int result = update_with(configuration_host(plain), root_path.text(), configuration_manifest_name(plain),
                           manifest_file, exclude_file, temporary_file, stats_out);
  qarn_wipe_bytes(&plain, sizeof(plain));
  return result;
}
