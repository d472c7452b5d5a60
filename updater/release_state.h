// The release state of an installation: the serial of the last signed
// release it accepted, kept in a small file beside the local manifest
// (the manifest's name + ".release"), so that a server cannot hand it an
// older signed release again (a rollback).
//
//   # Torvane release state - do not modify
//   serial 1765372800
#ifndef TORVANE_UPDATER_RELEASE_STATE_H
#define TORVANE_UPDATER_RELEASE_STATE_H

#include <cstdint>

#include "support/bounded_string.h"

constexpr char OVU_RELEASE_STATE_SUFFIX[] = ".release";

// release_state_path sets |path| to the state file of the local manifest
// |manifest_path|.
void release_state_path(const char *manifest_path, qarn_bounded_string_base &path);

// load_release_serial reads the state file at |path|. Returns 1 with the
// serial in |*serial|; 0 when there is no state yet (no file, or a file
// that is not a state file, which is reported and then counts as none).
int load_release_serial(const char *path, uint64_t *serial);

// save_release_serial replaces the state file at |path| in one step.
// Returns 1, or 0 when it could not be written (the old state stays).
int save_release_serial(const char *path, uint64_t serial);

#endif
