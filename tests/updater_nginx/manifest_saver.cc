// manifest_saver: saves a manifest of ENTRY_COUNT entries over and over to
// "update_manifest.lst" in the current directory, each time with other
// hash tokens, until it is ended. For the test that kills a save at any
// moment.
//
// Usage: manifest_saver ENTRY_COUNT
#include <cstdio>
#include <cstdlib>
#include <string>

#include "updater/file_manifest.h"

int main(int argc, char **argv) {
  if (argc != 2) {
    return 2;
  }
  int count = std::atoi(argv[1]);
  for (unsigned generation = 0;; generation++) {
    ovu_file_manifest manifest;
    for (int i = 0; i < count; i++) {
      char hash[65];
      std::snprintf(hash, sizeof(hash), "%08x%08x0123456789abcdef0123456789abcdef0123456789abcdef", generation,
                    static_cast<unsigned>(i));
      std::string name = "data/file " + std::to_string(i) + ".dat";
      ovu_manifest_entry entry = {&name[0], hash, i, nullptr};
      manifest.set_entry(&entry);
    }
    if (!manifest.save_file("update_manifest.lst")) {
      return 1;
    }
  }
}
