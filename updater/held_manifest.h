// ovu_held_manifest: the compressed bytes of a remote manifest, kept as
// they arrived until their signature has been checked, so that a launcher
// with a release key builds no entry from bytes it does not trust yet.
// Up to memory_len bytes stay in memory; a longer manifest moves into a
// spill file (under the launcher's tmp/), which the holder removes again.
// At most max_len bytes are kept.
//
// Use: begin; append each piece; replay as often as wanted; discard (or
// destroy, or begin again).
#ifndef TORVANE_UPDATER_HELD_MANIFEST_H
#define TORVANE_UPDATER_HELD_MANIFEST_H

#include <cstdint>
#include <cstdio>

// Bytes kept in memory before they move into the spill file: a manifest of
// tens of thousands of files, compressed.
constexpr int64_t OVU_HELD_MANIFEST_MEMORY_LEN = int64_t{4} << 20;
// A compressed manifest longer than this is refused. A release of
// 1,000,000 files compresses to well under a quarter of it.
constexpr int64_t OVU_MAX_HELD_MANIFEST_LEN = int64_t{256} << 20;
// Pieces of a replay from the spill file.
constexpr int32_t OVU_HELD_MANIFEST_READ_LEN = 65536;

// Receives one piece of a replay (valid during the call). Returns 1 to go
// on, 0 to stop the replay.
using ovu_held_bytes_function = int (*)(void *context, const char *bytes, int32_t length);

class ovu_held_manifest {
 public:
  ovu_held_manifest() = default;
  // Discards what is held.
  ~ovu_held_manifest();
  ovu_held_manifest(const ovu_held_manifest &) = delete;
  ovu_held_manifest &operator=(const ovu_held_manifest &) = delete;

  // begin discards what is held and keeps a copy of |spill_path|, the file
  // that a manifest longer than memory_len moves into (a file left there
  // by an earlier process is removed). Returns 1, or 0 when memory is
  // exhausted.
  int begin(const char *spill_path);
  // append keeps |length| more bytes. Returns 1, or 0 after a report when
  // they would pass max_len or could not be kept (memory exhausted and the
  // spill file not writable).
  int append(const char *bytes, int32_t length);
  // replay hands every byte held, in order, to |consume| with |context|.
  // Returns 1 when all of them were taken; 0 when |consume| stopped the
  // replay or the spill file could not be read back (reported).
  int replay(ovu_held_bytes_function consume, void *context);
  // discard frees the memory and removes the spill file.
  void discard();

  // length returns the number of bytes held.
  int64_t length() const { return length_; }
  // spilled tells whether the bytes are in the spill file.
  bool spilled() const { return spill_file_ != nullptr; }

  // The bounds; tests make them small.
  int64_t memory_len = OVU_HELD_MANIFEST_MEMORY_LEN;
  int64_t max_len = OVU_MAX_HELD_MANIFEST_LEN;

 private:
  int keep_in_memory(const char *bytes, int32_t length);
  int move_to_spill_file();
  int write_to_spill_file(const char *bytes, int64_t length);
  int replay_spill_file(ovu_held_bytes_function consume, void *context);

  char *spill_path_ = nullptr;   // owned
  FILE *spill_file_ = nullptr;   // open once the bytes moved into it
  char *bytes_ = nullptr;        // the bytes in memory, owned
  int64_t capacity_ = 0;         // of bytes_
  int64_t length_ = 0;           // bytes held
};

#endif
