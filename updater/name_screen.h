// ovu_name_screen: which entries of a remote manifest the updater never
// installs because of their names, each with the line that tells the
// player why. An entry is refused when its name is unsafe under the
// system's rules (file_name_safety.h), when its line in the local manifest
// would be too long to read back whole, or when it is the same file on
// Windows as an earlier entry of another spelling (case_collisions.h; the
// first one listed is installed). Every rule holds for any manifest, so a
// refused entry is refused again at every start and never downloaded.
//
// Use: examine the whole list once, then ask refuses for each entry in
// list order.
#ifndef TORVANE_UPDATER_NAME_SCREEN_H
#define TORVANE_UPDATER_NAME_SCREEN_H

#include <cstdint>

#include "support/bounded_string.h"
#include "support/growable_array.h"
#include "updater/file_name_safety.h"
#include "updater/manifest_entry.h"

class ovu_name_screen {
 public:
  explicit ovu_name_screen(ovu_name_rules rules);
  ~ovu_name_screen();
  ovu_name_screen(const ovu_name_screen &) = delete;
  ovu_name_screen &operator=(const ovu_name_screen &) = delete;

  // examine finds the case collisions of the list that starts at |head|
  // (borrowed; it must stay unchanged while the screen is used). Returns 1,
  // or 0 when memory ran out.
  int examine(const ovu_manifest_entry *head);

  // refuses tells whether |entry|, the next entry of the examined list,
  // must not be installed; if so it sets |line| to the message that names
  // it. Entries must be asked about in list order, each once.
  bool refuses(const ovu_manifest_entry *entry, qarn_bounded_string_base &line);

 private:
  bool collides(const ovu_manifest_entry *entry, qarn_bounded_string_base &line);

  ovu_name_rules rules_;
  const char **names_ = nullptr;    // the examined names by position, an owned array
  qarn_growable_array collisions_;  // ovu_case_collision, by position
  int32_t position_ = 0;            // of the next entry asked about
  int32_t next_collision_ = 0;      // first collision not yet reached
};

#endif
