// ovu_partial_downloads: the files of broken verified downloads, kept in
// tmp/partial/ so that the next attempt, in this run or a later one, asks
// only for the rest.
//
// The store has OVU_PARTIAL_SLOTS slots. Slot N is the partial file "N.part"
// and the tag "N.entry", which names the manifest entry whose first bytes
// the partial holds: the hex SHA-256 over the entry's name, size and hash
// token. A changed entry gets another tag, so its old bytes never pass for
// the new version's. Before the downloads start, prepare gives the slots to
// the largest planned entries that can be verified, keeps each partial whose
// tag names one of them, and removes every other partial; a file of an
// entry without a slot is never kept. So at most OVU_PARTIAL_SLOTS partial
// files exist at any time, and none outlives a change of its entry. A slot
// holds files only while its entry's download is broken: the store stays
// empty, and is not even made, while downloads go well.
//
// After prepare the store is read only: downloads of different entries may
// use it from several threads at once, each touching only its own slot's
// files.
#ifndef TORVANE_UPDATER_PARTIAL_DOWNLOADS_H
#define TORVANE_UPDATER_PARTIAL_DOWNLOADS_H

#include <cstdint>

#include "support/bounded_string.h"
#include "support/growable_array.h"
#include "updater/manifest_entry.h"

// Partial files kept at once.
constexpr int32_t OVU_PARTIAL_SLOTS = 8;
// The store's directory, beside the temporary file.
constexpr char OVU_PARTIAL_DIRECTORY[] = "partial";

class ovu_partial_downloads {
 public:
  ovu_partial_downloads();

  // prepare sets the store up in the directory OVU_PARTIAL_DIRECTORY
  // beside |temporary_file| for the |plan| (an array of ovu_manifest_entry
  // pointers, borrowed until the store is prepared again or destroyed).
  // With |verified| (the release declared SHA-256 hash tokens) the slots go
  // to the largest planned entries with a SHA-256 token, the earlier one
  // first among equal sizes; without, to none. Every partial file that no
  // slot keeps is removed. Called once, before any download.
  void prepare(const char *temporary_file, const qarn_growable_array &plan, bool verified);

  // slot_of returns the slot of |entry|, or -1 when its file is never kept.
  int32_t slot_of(const ovu_manifest_entry *entry) const;
  // append_partial_path appends the path of the partial file of |slot|.
  void append_partial_path(int32_t slot, qarn_bounded_string_base &path) const;
  // kept_length returns how many bytes of its entry the partial file of
  // |slot| holds: more than 0 and fewer than the entry's size, else 0, and
  // a file that cannot be resumed is removed.
  int64_t kept_length(int32_t slot) const;
  // keep makes |broken_file|, the bytes of a broken download of the entry
  // of |slot|, that slot's partial file. Returns 1, or 0 when it cannot be
  // kept (|broken_file| is removed then).
  int keep(int32_t slot, const char *broken_file) const;
  // drop removes the partial file of |slot|.
  void drop(int32_t slot) const;
  // forget removes the partial file and the tag of |slot|.
  void forget(int32_t slot) const;

 private:
  void append_tag_path(int32_t slot, qarn_bounded_string_base &path) const;
  void choose_owners(const qarn_growable_array &plan);
  bool tag_names(int32_t slot, const ovu_manifest_entry *entry) const;
  bool write_tag(int32_t slot, const ovu_manifest_entry *entry) const;

  // The store's directory, without a separator at its end: Windows finds
  // no status for such a name.
  qarn_bounded_string directory_;
  const ovu_manifest_entry *owners_[OVU_PARTIAL_SLOTS];
};

#endif
