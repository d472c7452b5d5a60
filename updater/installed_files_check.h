// ovu_check_installed_files: whether the files that local manifest entries
// record are still installed as recorded: a regular file of the entry's
// size under the installation's base path, links followed. The check of an
// installation of 100000 files is mostly these file statuses, and they
// need no order among themselves: on a machine with two processors or
// more, a long list is split in two halves, checked side by side on this
// thread and a helper thread, each walking its half in list order so that
// the entries of one directory still share its lookup
// (support/file_status_walker.h).
#ifndef TORVANE_UPDATER_INSTALLED_FILES_CHECK_H
#define TORVANE_UPDATER_INSTALLED_FILES_CHECK_H

#include <cstdint>

#include "updater/manifest_entry.h"

// A shorter list is checked on this thread alone: starting a thread would
// cost more than it saves.
constexpr int32_t OVU_SHARED_CHECK_MIN_ENTRIES = 1024;

// ovu_check_installed_files sets matches[i] to 1 when the i-th of the
// |count| entries of the list that starts at |first| (borrowed, unchanged)
// has its file under |base_path| ("" is the current directory) as
// recorded, else to 0. A name whose path would not fit a bounded string
// counts as missing: it cannot be a file that was installed.
void ovu_check_installed_files(const char *base_path, const ovu_manifest_entry *first, int32_t count,
                               unsigned char *matches);

#endif
