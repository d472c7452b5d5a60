// update_child: one update of the installation in the current directory
// from the update server on 127.0.0.1, as the launcher's update run makes
// it: destination "", "tmp/update.tmp", "update_manifest.lst" and
// "update_exclude.lst". For tests that end an update at any moment.
//
// Usage: update_child ROOT_PATH MANIFEST_NAME
// Exit code: the updater's result (0 to 5), or 100 when the local manifest
// cannot be loaded.
#include "support/diagnostics.h"
#include "updater/updater.h"

namespace {

constexpr int EXIT_USAGE = 101;
constexpr int EXIT_MANIFEST_NOT_LOADED = 100;

}  // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    return EXIT_USAGE;
  }
  qarn_set_diagnostic_mask(QARN_MASK_QUIET);
  ovu_updater updater;
  updater.set_destination_path("");
  updater.set_temporary_file("tmp/update.tmp");
  if (!updater.load_manifest("update_manifest.lst")) {
    return EXIT_MANIFEST_NOT_LOADED;
  }
  updater.load_exclude_manifest("update_exclude.lst");
  return updater.run("127.0.0.1", argv[1], argv[2]);
}
