// How many downloads the launcher's updater keeps in flight: the default,
// or the number in the environment variable TORVANE_PARALLEL_DOWNLOADS for
// players on networks that want fewer connections (1 fetches one file after
// the other) and for tests.
#ifndef TORVANE_LAUNCHER_PARALLEL_DOWNLOADS_SETTING_H
#define TORVANE_LAUNCHER_PARALLEL_DOWNLOADS_SETTING_H

#include <cstdint>

constexpr char LAUNCHER_PARALLEL_DOWNLOADS_VARIABLE[] = "TORVANE_PARALLEL_DOWNLOADS";

// parallel_downloads_from returns the number |value| spells when it is one
// of 1 .. OVU_MAX_PARALLEL_DOWNLOADS written as plain decimal digits, else
// (null, empty, signs, spaces, anything more) OVU_DEFAULT_PARALLEL_DOWNLOADS.
int32_t parallel_downloads_from(const char *value);

// launcher_parallel_downloads reads the environment variable.
int32_t launcher_parallel_downloads();

#endif
