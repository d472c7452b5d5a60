// update_bench: one update of the installation in the current directory
// from the update server on 127.0.0.1:80, configured as the launcher's
// update run configures it, and timed. bench/update_bench.sh runs it beside
// rsync and wget.
//
// Usage: update_bench ROOT_PATH MANIFEST_NAME
// TORVANE_PARALLEL_DOWNLOADS sets the downloads in flight as for the
// launcher.
// Prints one line: result, planned, saved and failed counts, and seconds.
// Exit code 0 when the update ran to its end, 1 otherwise.
#include <cstdio>

#include "launcher/parallel_downloads_setting.h"
#include "support/clock.h"
#include "support/diagnostics.h"
#include "updater/updater.h"

namespace {

constexpr int kArgumentCount = 3;

}  // namespace

int main(int argc, char **argv) {
  if (argc != kArgumentCount) {
    std::fprintf(stderr, "usage: update_bench ROOT_PATH MANIFEST_NAME\n");
    return 1;
  }
  qarn_set_diagnostic_mask(QARN_MASK_QUIET);
  int64_t start = qarn_clock_ms();
  ovu_updater updater;
  updater.parallel_downloads = launcher_parallel_downloads();
  updater.set_destination_path("");
  updater.set_temporary_file("tmp/update.tmp");
  if (!updater.load_manifest("update_manifest.lst")) {
    std::fprintf(stderr, "update_bench: cannot load update_manifest.lst\n");
    return 1;
  }
  updater.load_exclude_manifest("update_exclude.lst");
  int result = updater.run("127.0.0.1", argv[1], argv[2]);
  int64_t elapsed = qarn_clock_ms() - start;
  const ovu_update_stats &s = updater.stats;
  std::printf("result %d remote %d planned %d saved %d failed %d seconds %.3f\n", result,
              s.remote_manifest_entry_count, s.expected_download_file_count, s.successfully_saved_file_count,
              s.failed_download_file_count + s.failed_save_file_count, static_cast<double>(elapsed) / 1000);
  return result == 0 ? 0 : 1;
}
