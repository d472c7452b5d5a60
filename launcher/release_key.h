// The public key that releases must be signed with, or none. The build sets
// it from TORVANE_RELEASE_KEY; without it, releases are installed without a
// signature check.
#ifndef TORVANE_LAUNCHER_RELEASE_KEY_H
#define TORVANE_LAUNCHER_RELEASE_KEY_H

#include <cstdint>

// The uncompressed P-256 point: 0x04, then X and Y.
constexpr int32_t LAUNCHER_RELEASE_KEY_LEN = 65;

// This build's key, LAUNCHER_RELEASE_KEY_LEN bytes, or null.
extern const unsigned char *const g_built_in_release_key;

// The key that the update runs of this process check releases with; the
// launcher's main flow sets it from its services (the built-in key).
extern const unsigned char *g_launcher_release_key;

#endif
