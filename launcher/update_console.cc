#include "launcher/update_console.h"

#include <cstdio>

#include "launcher/launcher_flags.h"
#include "support/clock.h"

int64_t g_last_percent_time = 0;

void print_message_line(void *, const char *text) { std::printf("%s\n", text); }

void print_download_dots(void *, int64_t received, int64_t total) {
  if (!g_launcher_flags.verbose) {
    return;
  }
  if (received != total) {
    std::printf(".");
    std::fflush(nullptr);
  } else {
    std::printf(".\n");
  }
}

void print_percent_complete(void *, double done, double total) {
  int64_t now = qarn_clock_seconds();
  if (g_last_percent_time > now - LAUNCHER_PERCENT_INTERVAL_S) {
    return;
  }
  if (!g_launcher_flags.verbose) {
    std::printf("%5.1f%% complete.\n", done * 100 / (total > 0 ? total : 1.0));
  }
  g_last_percent_time = now;
}

void print_update_statistics(const ovu_update_stats &stats) {
  std::printf("\n");
  std::printf("local_manifest_initial_entry_count: %d\n", stats.local_manifest_initial_entry_count);
  std::printf("local_manifest_pruned_entry_count:  %d\n", stats.local_manifest_pruned_entry_count);
  std::printf("remote_manifest_entry_count:        %d\n", stats.remote_manifest_entry_count);
  std::printf("\n");
  std::printf("exclude_manifest_file_count         %d\n", stats.exclude_manifest_file_count);
  std::printf("expected_download_file_count:       %d\n", stats.expected_download_file_count);
  std::printf("successfully_saved_file_count:      %d\n", stats.successfully_saved_file_count);
  std::printf("failed_download_file_count:         %d\n", stats.failed_download_file_count);
  std::printf("failed_save_file_count:             %d\n", stats.failed_save_file_count);
  std::printf("\n");
  std::printf("expected_download_byte_count:       %.0f\n", stats.expected_download_byte_count);
  std::printf("current_download_byte_count:        %.0f\n", stats.current_download_byte_count);
  std::printf("downloaded_bytes:                   %.0f\n", stats.downloaded_bytes);
  std::printf("saved_bytes:                        %.0f\n", stats.saved_bytes);
}
