// ovu_update_stats: the statistics of one update run. The updater fills it;
// the update run copies it out whole to the launcher, which reads the
// planned and the installed file counts.
#ifndef TORVANE_UPDATER_UPDATE_STATS_H
#define TORVANE_UPDATER_UPDATE_STATS_H

#include <cstdint>
#include <type_traits>

// Byte totals are the sizes written in the remote manifest, not bytes
// counted on the wire.
struct ovu_update_stats {
  int32_t local_manifest_initial_entry_count;  // entries read from the local manifest
  int32_t local_manifest_pruned_entry_count;   // entries left after dropping missing files
  int32_t remote_manifest_entry_count;         // entries of the remote manifest
  int32_t exclude_manifest_file_count;         // remote entries skipped as excluded
  int32_t expected_download_file_count;        // files in the update plan
  int32_t successfully_saved_file_count;       // files downloaded and installed
  int32_t failed_download_file_count;          // files whose download failed
  int32_t failed_save_file_count;              // files that could not be put in place
  double expected_download_byte_count;         // sum of the planned sizes
  double current_download_byte_count;          // sum of the sizes attempted so far
  double downloaded_bytes;                     // attempted so far plus the file in progress
  double saved_bytes;                          // sum of the installed sizes
};

// The record is copied and zeroed as plain bytes.
static_assert(std::is_trivially_copyable<ovu_update_stats>::value,
              "ovu_update_stats is copied whole");
static_assert(sizeof(ovu_update_stats) == 8 * sizeof(int32_t) + 4 * sizeof(double),
              "eight 32-bit counts followed by four byte totals, without padding");

#endif
