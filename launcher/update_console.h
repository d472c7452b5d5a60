// What an update run shows on the console: the updater's messages, a dot
// per received block in verbose mode, a percentage line at most every 3
// seconds otherwise, and the statistics block of a verbose run.
#ifndef TORVANE_LAUNCHER_UPDATE_CONSOLE_H
#define TORVANE_LAUNCHER_UPDATE_CONSOLE_H

#include <cstdint>

#include "updater/update_stats.h"

// Seconds between two percentage lines.
constexpr int64_t LAUNCHER_PERCENT_INTERVAL_S = 3;

// Seconds clock at the last percentage line, or at the start of the run;
// process-wide, reset by every update run.
extern int64_t g_last_percent_time;

// print_message_line prints |text| and a line end.
void print_message_line(void *data, const char *text);

// print_download_dots prints, in verbose mode only, "." for a block of a
// download in progress and ".\n" once it is complete.
void print_download_dots(void *data, int64_t received, int64_t total);

// print_percent_complete prints "%5.1f%% complete." when the last line is
// at least 3 seconds old, and only in normal mode; in verbose mode it just
// moves the time of the last line along.
void print_percent_complete(void *data, double done, double total);

// print_update_statistics prints the statistics block of a verbose run.
void print_update_statistics(const ovu_update_stats &stats);

#endif
