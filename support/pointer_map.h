// qarn_void_pointer_map: text keys to untyped pointers, in an open-addressing
// table with linear probing over a power-of-two slot array. Each slot keeps
// its key's hash, so probes compare hashes before texts and growth never
// rehashes. Removal shifts the following entries back instead of leaving
// deleted markers. The map owns its slots and, unless it borrows them, its
// copies of the keys; never the values.
//
// Keys come from manifests that a server sends, so the slots follow a hash
// under the process's secret key (qarn_keyed_hash): with a hash that anyone
// can compute, a server could send thousands of names that all probe the
// same run of slots, and every store and lookup would walk all of them.
#ifndef TORVANE_SUPPORT_POINTER_MAP_H
#define TORVANE_SUPPORT_POINTER_MAP_H

#include <cstdint>

// Slots of a new map.
constexpr uint32_t QARN_POINTER_MAP_INITIAL_CAPACITY = 32;

// qarn_string_hash returns the 32-bit hash of the NUL-terminated |text|,
// the same in every process. The map does not use it: anyone can compute
// it, and so choose texts that collide.
uint32_t qarn_string_hash(const char *text);

// qarn_pointer_map_hash returns the 32-bit hash that places |text| in a
// map: its keyed hash under the process's key, so it differs from process
// to process.
uint32_t qarn_pointer_map_hash(const char *text);

// Whether a map copies the keys it stores or keeps the caller's: a map of
// names that live as long as their entries, such as an index of manifest
// entries kept in one arena, needs no copy of each.
enum class qarn_map_keys {
  copied,    // store copies the key; the map frees its copy
  borrowed,  // store keeps the caller's pointer
};

class qarn_void_pointer_map {
 public:
  // Builds a map of 32 empty slots; reports when they cannot be allocated.
  // With qarn_map_keys::borrowed, every key stored must stay alive and
  // unchanged until it is removed or the map cleared or destroyed.
  explicit qarn_void_pointer_map(qarn_map_keys keys = qarn_map_keys::copied);
  // Frees every key copy and the slots; the values are the caller's.
  ~qarn_void_pointer_map();
  qarn_void_pointer_map(const qarn_void_pointer_map &) = delete;
  qarn_void_pointer_map &operator=(const qarn_void_pointer_map &) = delete;

  // store files |value| under a copy of |key| and returns 1. It returns 0,
  // after a report, for a null key, a null value, a key already stored (the
  // first entry stays) or no room. The caller keeps ownership of |key| and of
  // what |value| points to, which must stay alive while it is stored.
  int store(void *value, const char *key);
  // lookup returns the value stored under |key| (compared byte for byte), or
  // null when there is none or |key| is null.
  void *lookup(const char *key) const;
  // remove takes the entry for |key| out of the map and returns its value,
  // or null when there is none or |key| is null.
  void *remove(const char *key);

  // clear forgets every entry, frees the key copies and the slots (the
  // values are the caller's). The next store makes a new table.
  void clear();

  // Number of slots, always a power of two (0 after clear, or when
  // allocation failed).
  uint32_t capacity() const { return capacity_; }
  // Number of stored entries.
  uint32_t count() const { return count_; }
  // Slots that store, lookup and remove have looked at since construction:
  // the work that the keys' placement costs.
  uint64_t probe_count() const { return probes_; }

 private:
  struct slot {
    void *value;  // null marks an empty slot
    char *key;    // owned copy or the caller's key (keys_), or null
    uint32_t hash;
  };

  // Forgets the key of |s|, freeing it when it is the map's copy.
  void drop_key(slot &s) const;

  // Allocates |slot_count| empty slots; null when memory is exhausted.
  static slot *allocate_slots(uint32_t slot_count);
  // Makes the initial slot array; 1 on success, else 0 after a report.
  int allocate_initial_table();
  // Doubles the slot array, moving every entry; 0 when it cannot allocate,
  // the table is then unchanged.
  int grow();
  // Places a moved entry at the first empty slot of its run; reports and
  // drops it when the table has no empty slot.
  void move_insert(const slot &entry);
  // Index of the slot that holds |key|, or -1 when absent. |cycled| is set
  // when the probe went round the whole table without meeting an empty slot.
  int64_t find_index(const char *key, uint32_t hash, bool *cycled) const;
  // Shifts the entries after the hole at |hole| back so that every entry
  // stays reachable from its home slot.
  void compact_after_remove(uint32_t hole);
  // Whether the entry at |j| may move into |hole|.
  bool may_move_into_hole(uint32_t j, uint32_t hole) const;
  void report_duplicate(const char *key) const;

  qarn_map_keys keys_;
  slot *table_;
  uint32_t capacity_;
  uint32_t mask_;
  uint32_t count_;
  mutable uint64_t probes_ = 0;
};

#endif
