// The game client image that the boot tests put in a scratch directory.
#ifndef TORVANE_TESTS_LAUNCHER_CLIENT_IMAGE_H
#define TORVANE_TESTS_LAUNCHER_CLIENT_IMAGE_H

#include <string>

#include "tests/common/scratch_directory.h"

const char CLIENT_IMAGE_NAME[] = "BRUXclient.exe";

// A size that stands for no client image at all.
constexpr long NO_CLIENT_IMAGE = -1;

// place_client_image writes a client image of |size| bytes into |scratch|,
// or none for NO_CLIENT_IMAGE, and returns its path either way.
inline std::string place_client_image(const scratch_directory &scratch, long size) {
  if (size == NO_CLIENT_IMAGE) {
    return scratch.file(CLIENT_IMAGE_NAME);
  }
  return scratch.write_filled_file(CLIENT_IMAGE_NAME, size);
}

#endif
