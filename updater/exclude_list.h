// The exclude list: names of files that the updater never downloads, one
// per line of the exclude file "update_exclude.lst".
#ifndef TORVANE_UPDATER_EXCLUDE_LIST_H
#define TORVANE_UPDATER_EXCLUDE_LIST_H

#include <cstdint>

#include "updater/manifest_entry.h"

// load_exclude_file appends an entry (only its name set) to the list that
// starts at |*list| for every name in the file at |path|. Leading spaces
// and tabs are skipped; empty lines and lines starting with "#" are
// ignored; otherwise the rest of the line is the name. Returns the number
// appended, or -1 when the file cannot be opened.
int32_t load_exclude_file(ovu_manifest_entry **list, const char *path);

#endif
