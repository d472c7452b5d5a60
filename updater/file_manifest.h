// ovu_file_manifest: the updater's record of the files it has installed,
// each with the hash token and size the update server published for it.
// It lives in the local manifest file "update_manifest.lst":
//
//   # This is an automatically generated file - do not modify
//   # It contains a list of the files currently managed by the
//   # updater.  Changing or deleting it may cause your next
//   # update to download far more things than it needs.
//   <empty line>
//   <hash> <size, right-aligned in 10 columns> <name>     one line per entry
//
// A size of more than 10 digits (from 10 GB on) widens its column.
//
// Every line ends with a single line feed.
#ifndef TORVANE_UPDATER_FILE_MANIFEST_H
#define TORVANE_UPDATER_FILE_MANIFEST_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "support/growable_array.h"
#include "support/memory_arena.h"
#include "support/pointer_map.h"
#include "updater/manifest_entry.h"

// A hash token shorter than this is saved all the same, but reported: it is
// too short to tell versions of a file apart reliably.
constexpr int32_t OVU_SHORT_HASH_LEN = 20;

// The longest entry line, without its line feed, that load_file reads back
// whole: the line reader keeps the first 1023 characters of a line. An
// entry whose line is longer would come back with another name, and its
// file would be downloaded again at every start.
constexpr size_t OVU_LOCAL_MANIFEST_LINE_MAX = OVU_MANIFEST_LINE_BUFFER_LEN - 1;

// ovu_local_manifest_line_length returns the length, without its line
// feed, of the line that save_file writes for an entry whose hash token has
// |hash_len| characters, whose size is |size| and whose name has |name_len|
// bytes.
size_t ovu_local_manifest_line_length(size_t hash_len, int64_t size, size_t name_len);

// An index of names by the key under which Windows finds their file
// (file_manifest.cc).
class ovu_comparison_key_index;

class ovu_file_manifest {
 public:
  ovu_file_manifest() = default;
  // Frees every entry (clear).
  ~ovu_file_manifest();
  ovu_file_manifest(const ovu_file_manifest &) = delete;
  ovu_file_manifest &operator=(const ovu_file_manifest &) = delete;

  // load_file appends the entries of the file at |path| in file order and
  // indexes them by name. A name met twice stays twice in the list; the
  // index keeps the first (and reports the second). Returns the number of
  // entries loaded, or -1 when the file cannot be opened or a line has a
  // syntax error (the entries before that line stay loaded).
  int32_t load_file(const char *path);

  // save_file writes the manifest to |path| without ever leaving a broken
  // file there (qarn_atomic_file: the lines go to |path| + ".tmp", which is
  // flushed to the disk and then replaces |path| in one step). Returns 1 when |path| holds
  // the new manifest; 0 after a report when any step failed, |path| then
  // still holds what it held before.
  int save_file(const char *path);

  // find returns the entry named exactly |name| (the first one, if the
  // loaded file held the name twice), or null. Valid until the entry is
  // pruned or the manifest cleared.
  ovu_manifest_entry *find(const char *name) const;

  // set_entry records an installed file: the entry of that name takes a
  // copy of |entry|'s hash and its size and keeps its place; a new name
  // becomes a new first entry. Returns 1, or 0 when memory is exhausted
  // (the manifest is then unchanged).
  int set_entry(const ovu_manifest_entry *entry);

  // forget_entries drops every entry that has the name of one of the
  // |plan|'s entries (an array of ovu_manifest_entry pointers), or a name
  // that is the same file on Windows (file_name_case.h): installing the
  // planned file replaces that file's bytes too. Returns the number
  // dropped, or -1 when memory is exhausted (nothing is dropped).
  int32_t forget_entries(const qarn_growable_array &plan);

  // forget_case_collisions drops every entry whose name is the same file on
  // Windows as another entry's name of other bytes (case_collisions.h):
  // the disk holds one file for both, so neither record can be trusted.
  // Returns the number dropped, or -1 when memory is exhausted (nothing is
  // dropped).
  int32_t forget_case_collisions();

  // prune_missing drops every entry whose file, |base_path| + "/" + name
  // (name alone for a null or empty |base_path|), is missing, is not a
  // regular file, or has another size than recorded. Nothing on disk
  // changes. Returns the number of entries kept.
  int32_t prune_missing(const char *base_path);

  // clear frees every entry and empties the index.
  void clear();

  // first returns the head of the entry list (null when empty), in the
  // order that save_file writes.
  const ovu_manifest_entry *first() const { return head_; }

 private:
  void append(ovu_manifest_entry *entry);
  void unlink(ovu_manifest_entry *previous, ovu_manifest_entry *entry);
  void drop_from_index(ovu_manifest_entry *entry);
  int32_t forget_names_in(const ovu_comparison_key_index &keys);
  int write_entries(FILE *file) const;

  // Every entry of the list, its name and its hash token live here; an
  // entry dropped from the list stays until clear.
  qarn_memory_arena arena_;
  ovu_manifest_entry *head_ = nullptr;
  ovu_manifest_entry *tail_ = nullptr;  // last entry, for appends in file order
  qarn_void_pointer_map index_{qarn_map_keys::borrowed};  // name -> entry, keyed by the entry's name
  bool has_duplicates_ = false;         // a loaded name was met twice
};

#endif
