// One complete update attempt for the launcher.
#ifndef TORVANE_LAUNCHER_UPDATE_RUN_H
#define TORVANE_LAUNCHER_UPDATE_RUN_H

#include <cstdint>

#include "launcher/configuration_block.h"
#include "updater/update_stats.h"

// The texts of an update run that the player sees.
constexpr char LAUNCHER_BAD_CONFIGURATION[] = "Segmentation fault.  Attempting to bail.\n";
// Parameters of the elevated re-run, " -v" added when verbose.
constexpr char LAUNCHER_ELEVATED_PARAMETERS[] = "-a";
constexpr char LAUNCHER_ELEVATED_VERBOSE_PARAMETER[] = " -v";
// Exit code of a launcher that handed over to its elevated copy.
constexpr int LAUNCHER_EXIT_ELEVATED = 1;

// run_update brings the installation in the current directory in line with
// the update server named by |configuration| (LAUNCHER_CONFIGURATION_LEN
// bytes, borrowed), using the local manifest |manifest_file|, the exclude
// list |exclude_file| and the download file |temporary_file|.
// |root_path_suffix| (may be null) is appended to the server's root path.
// Returns 1 when the updater ran to its end, whatever each file's outcome;
// its statistics are then copied to |*stats_out| if |stats_out| is not null.
// Returns 0 when no update happened: the configuration block was rejected,
// the local manifest could not be loaded, the server could not be reached,
// or the installation is not writable even with administrator rights. When
// it is not writable and the process has no administrator rights, the
// launcher is started again elevated with "-a" (and " -v") and this process
// ends with exit code 1.
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
