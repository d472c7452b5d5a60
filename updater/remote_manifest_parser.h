// ovu_remote_manifest_parser: turns the body of the update server's remote
// manifest into manifest entries piece by piece, as it arrives or as it is
// read back: one zlib or gzip stream (told apart by its header) is
// inflated, the text cut into lines, and each line parsed as a release
// declaration or a manifest line.
//
// What a server's bytes can make it hold is bounded: the inflated text, the
// number of entry lines and the memory that the entries take. The bounds
// fit a 32-bit process, whose address space is 2 GiB, with room for the
// local manifest and the plan beside them, and still take a release of
// 1,000,000 files with names of 150 characters on average. Past a bound
// the manifest is refused with a report, as a corrupt one is.
//
// A name listed again is dropped, so that no name is planned twice: the
// first entry of each name is kept, and the repeats are reported once.
//
// Use: begin; take each piece in order; finish; read the entries and the
// declarations; destroy (which frees the entries) or begin again.
#ifndef TORVANE_UPDATER_REMOTE_MANIFEST_PARSER_H
#define TORVANE_UPDATER_REMOTE_MANIFEST_PARSER_H

#include <zlib.h>

#include <cstdint>

#include "support/bounded_string.h"
#include "support/memory_arena.h"
#include "support/pointer_map.h"
#include "updater/manifest_entry.h"
#include "updater/release_declarations.h"

// 15 bits of window (32 KiB), plus 32: zlib or gzip header, detected.
constexpr int OVU_INFLATE_WINDOW_BITS = 15 + 32;
// Output area of one inflate call.
constexpr int32_t OVU_INFLATE_OUTPUT_LEN = 65536;
// A manifest that inflates to more than this is refused: it cannot be a
// real list of files, and inflating it would take the player's time.
constexpr int64_t OVU_MAX_INFLATED_MANIFEST_LEN = int64_t{1} << 30;
// At most this many entry lines, repeats included: twice the largest
// release that a launcher is meant to take.
constexpr int32_t OVU_MAX_REMOTE_ENTRY_COUNT = 2000000;
// The entries kept may take at most this much memory, as
// ovu_remote_entry_memory counts it.
constexpr int64_t OVU_MAX_REMOTE_ENTRY_MEMORY = int64_t{512} << 20;
// What an entry takes besides its texts: the record, the heap's
// bookkeeping of its blocks, and its share of the name index (slots and
// the block of the index's copy of the name), counted for a 64-bit heap,
// so that a 32-bit one takes less.
constexpr int64_t OVU_REMOTE_ENTRY_FIXED_COST = 160;

// ovu_remote_entry_memory returns the memory that the parser counts for
// keeping |entry|: the fixed cost, its hash token, and its name twice
// (the entry's copy and the name index's).
int64_t ovu_remote_entry_memory(const ovu_manifest_entry *entry);

class ovu_remote_manifest_parser {
 public:
  ovu_remote_manifest_parser();
  // Frees the entries and any inflate state left.
  ~ovu_remote_manifest_parser();
  ovu_remote_manifest_parser(const ovu_remote_manifest_parser &) = delete;
  ovu_remote_manifest_parser &operator=(const ovu_remote_manifest_parser &) = delete;

  // begin frees the entries of an earlier manifest, forgets its
  // declarations and starts inflation. Returns 1, or 0 when zlib cannot
  // start (the parser then refuses every piece).
  int begin();
  // take inflates |length| bytes of the body and parses the lines they
  // complete; bytes after the end of the compressed stream are ignored.
  // Returns 1 to go on, or 0 once the manifest is refused (a stream that
  // is not zlib or gzip, a syntax error, a bound passed, memory exhausted;
  // each reported). A refused manifest keeps no entries and refuses every
  // later piece.
  int take(const char *bytes, int32_t length);
  // finish ends inflation. Returns 1 when the compressed stream ended
  // (a last line without its line feed is parsed then) or no byte arrived
  // at all, and nothing was refused; else 0, with no entries kept.
  int finish();
  // discard frees the entries and ends inflation: the manifest counts as
  // refused until the next begin.
  void discard();
  // stream_cut_short tells, after finish, that bytes arrived but the
  // compressed stream did not reach its end.
  bool stream_cut_short() const { return body_started_ && !stream_ended_; }

  // entries returns the first entry (owned by the parser, valid until the
  // next begin or destruction), or null.
  const ovu_manifest_entry *entries() const { return head_; }
  // entry_count returns the number of entries kept.
  int32_t entry_count() const { return entry_count_; }
  // declarations returns the release declarations met in the text (all
  // zero when none).
  const ovu_release_declarations &declarations() const { return declarations_; }

  // The bounds; tests make them small.
  int64_t max_inflated_len = OVU_MAX_INFLATED_MANIFEST_LEN;
  int32_t max_entry_count = OVU_MAX_REMOTE_ENTRY_COUNT;
  int64_t max_entry_memory = OVU_MAX_REMOTE_ENTRY_MEMORY;

 private:
  int inflate_piece(const char *bytes, int32_t length);
  int take_text(const char *text, int32_t length);
  int split_lines(const char *text, int32_t length);
  int parse_line();
  int keep_entry(const ovu_manifest_line_fields &fields);
  void end_inflation();
  void free_entries();
  void report_repeats() const;

  qarn_bounded_string line_;            // the current, unfinished line
  qarn_memory_arena arena_;             // the kept entries and their texts
  ovu_manifest_entry *head_ = nullptr;  // entries kept, in manifest order
  ovu_manifest_entry *tail_ = nullptr;
  int32_t entry_count_ = 0;             // entries kept
  int32_t entry_lines_ = 0;             // entry lines met, repeats included
  int64_t entry_memory_ = 0;            // what the kept entries take
  int32_t repeat_count_ = 0;            // entry lines dropped as repeats
  char *first_repeat_ = nullptr;        // the name first repeated, owned
  qarn_void_pointer_map names_{qarn_map_keys::borrowed};  // name -> kept entry, while lines arrive
  z_stream stream_;                     // inflate state between begin and finish
  ovu_release_declarations declarations_ = {};
  int64_t inflated_len_ = 0;            // text bytes produced so far
  bool inflating_ = false;              // between begin and finish
  bool stream_ended_ = false;           // inflate reported the end of the stream
  bool body_started_ = false;           // a byte arrived
  bool refused_ = false;                // the manifest was refused
};

#endif
