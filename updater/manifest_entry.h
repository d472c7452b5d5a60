// ovu_manifest_entry: one line of a manifest (name, hash token, size), and
// the manifest line syntax that the local manifest file and the remote
// manifest share.
//
//   hash  size  name
//
// Leading spaces and tabs are skipped; a line that is then empty or starts
// with "#" is a comment. The hash token starts with at least 10 characters
// from 0-9 and a-f and runs to the next blank; the size is a decimal number
// (its first digits count) from 0 to QARN_LARGEST_FILE_SIZE; the name is
// the whole rest of the line, inner and trailing blanks included.
#ifndef TORVANE_UPDATER_MANIFEST_ENTRY_H
#define TORVANE_UPDATER_MANIFEST_ENTRY_H

#include <cstddef>
#include <cstdint>

#include "support/memory_arena.h"

// How many leading characters of a hash token must be lower-case hex.
constexpr int OVU_HASH_CHECKED_CHARS = 10;

// Line buffer for reading the local manifest and the exclude file with
// fget_line: a longer line is cut to its first 1023 characters.
constexpr int32_t OVU_MANIFEST_LINE_BUFFER_LEN = 1024;

// Contexts of parse_manifest_line, named in its syntax reports.
constexpr char OVU_LOCAL_MANIFEST_CONTEXT[] = "file manifest";
constexpr char OVU_REMOTE_MANIFEST_CONTEXT[] = "downloaded data";

// One record per entry; name and hash are copies (either may be null),
// owned by the entry on the heap or by the arena the entry lives in; next
// links the entries of one list.
struct ovu_manifest_entry {
  char *name;
  char *hash;
  int64_t size;
  ovu_manifest_entry *next;
};

// ovu_new_manifest_entry returns a new entry with every field empty, owned
// by the caller (free it with ovu_free_manifest_entry); null when memory is
// exhausted.
ovu_manifest_entry *ovu_new_manifest_entry();

// ovu_free_manifest_entry wipes and frees the entry's texts and the entry;
// null does nothing. The next link is not followed.
void ovu_free_manifest_entry(ovu_manifest_entry *entry);

// ovu_free_manifest_list frees every entry of the list that starts at
// |*head| and sets |*head| to null.
void ovu_free_manifest_list(ovu_manifest_entry **head);

// The three fields of an entry line, as views into the line: the hash
// token's |hash_len| bytes at |hash|, the size, and the name, which runs to
// the end of the line and so ends at its NUL.
struct ovu_manifest_line_fields {
  const char *hash;
  size_t hash_len;
  int64_t size;
  const char *name;
};

enum ovu_manifest_line_kind {
  OVU_MANIFEST_LINE_COMMENT,    // a comment or an empty line
  OVU_MANIFEST_LINE_ENTRY,      // an entry line; its fields are set
  OVU_MANIFEST_LINE_MALFORMED,  // a syntax error, reported
};

// ovu_scan_manifest_line reads one manifest line without copying any of
// it. For an entry line it sets |*fields| to views into |line|, valid while
// |line| is. |context| names the line's source in the reports.
ovu_manifest_line_kind ovu_scan_manifest_line(const char *context, const char *line,
                                              ovu_manifest_line_fields *fields);

// ovu_make_arena_entry returns a new entry with copies of |fields|' hash
// token and name, all three carved from |arena|: they live until the
// arena's release, and are never freed on their own. A hash token too long
// for a bounded string is cut as parse_manifest_line cuts it. Null when
// memory is exhausted (reported).
ovu_manifest_entry *ovu_make_arena_entry(qarn_memory_arena &arena, const ovu_manifest_line_fields &fields);

// parse_manifest_line reads one manifest line. It sets |*out| to null
// first; returns 1 with |*out| null for a comment or an empty line, 1 with
// |*out| set to a new entry (owned by the caller) for an entry line, and 0
// after reporting a syntax error (or when memory is exhausted). |context|
// names the line's source in the reports.
int parse_manifest_line(const char *context, const char *line, ovu_manifest_entry **out);

#endif
