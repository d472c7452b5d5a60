#include "launcher/game_start.h"

#include "support/diagnostics.h"
#include "support/file_system.h"
#include "support/process_control.h"

namespace {

// A client too short to be real, or one the system refuses to start, is
// removed: the next update run then finds its manifest entry without a
// matching file and downloads it again. A failure to remove changes nothing
// for the player.
void remove_damaged_client(const char *image) {
  if (image != nullptr) {
    qarn_remove(image);
  }
}

}  // namespace

int start_game(const char *image) {
  qarn_release_instance_lock();
  if (qarn_is_boot_file_bad(image)) {
    remove_damaged_client(image);
    return 0;
  }
  // Keep the "trying to boot" notice quiet but let a failed exec show.
  qarn_set_diagnostic_mask(QARN_MASK_BOOT);
  char *const argv[] = {const_cast<char *>(image), nullptr};
  qarn_boot_exec(image, argv);
  qarn_set_diagnostic_mask(QARN_MASK_NONE);
  remove_damaged_client(image);
  return 0;
}
