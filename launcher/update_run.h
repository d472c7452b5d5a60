// One complete update attempt for the launcher.
#ifndef TORVANE_LAUNCHER_UPDATE_RUN_H
#define TORVANE_LAUNCHER_UPDATE_RUN_H

#include <cstdint>

#include "updater/update_stats.h"

// The built-in configuration: key material, then the enciphered block with
// the update server's host, root path and remote manifest name.
constexpr int32_t LAUNCHER_KEY_MATERIAL_LEN = 16;
constexpr int32_t LAUNCHER_CONFIGURATION_BLOCK_LEN = 1008;
constexpr int32_t LAUNCHER_CONFIGURATION_LEN =
    LAUNCHER_KEY_MATERIAL_LEN + LAUNCHER_CONFIGURATION_BLOCK_LEN;

// run_update brings the installation in the current directory in line with
// the update server named by |configuration| (LAUNCHER_CONFIGURATION_LEN
// bytes, borrowed), using the local manifest |manifest_file|, the exclude
// list |exclude_file| and the download file |temporary_file|.
// |root_path_suffix| (may be null) is appended to the server's root path.
// Returns 1 when the updater ran to its end, whatever each file's outcome;
// its statistics are then copied to |*stats_out| if |stats_out| is not null.
// Returns 0 when no update happened.
//
// This build has no update server to contact: every call reports that no
// update happened.
int run_update(const unsigned char *configuration, const char *manifest_file,
               const char *exclude_file, const char *temporary_file,
               ovu_update_stats *stats_out, const char *root_path_suffix);

// The signature of run_update, for callers that take the update as a
// parameter.
typedef int (*launcher_update_function)(const unsigned char *configuration,
                                        const char *manifest_file, const char *exclude_file,
                                        const char *temporary_file, ovu_update_stats *stats_out,
                                        const char *root_path_suffix);

#endif
