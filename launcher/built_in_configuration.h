// The configuration block of this build: the update server, its root path
// and the remote manifest name, enciphered. The build generates its
// definition from the CMake cache variables TORVANE_UPDATE_HOST,
// TORVANE_UPDATE_ROOT, TORVANE_UPDATE_MANIFEST and the key material
// (TORVANE_CONFIG_KEY, or random per build directory).
#ifndef TORVANE_LAUNCHER_BUILT_IN_CONFIGURATION_H
#define TORVANE_LAUNCHER_BUILT_IN_CONFIGURATION_H

#include "launcher/configuration_block.h"

extern const unsigned char g_built_in_configuration[LAUNCHER_CONFIGURATION_LEN];

#endif
