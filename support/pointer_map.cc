#include "support/pointer_map.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/diagnostics.h"
#include "support/keyed_hash.h"
#include "support/text_scan.h"

namespace {

constexpr uint32_t HASH_SEED = 0x5D3B915Du;
constexpr uint32_t HASH_STEP_MULTIPLIER = 1025u;
constexpr int HASH_STEP_SHIFT = 6;
constexpr int LENGTH_BYTES = 4;
constexpr int BITS_PER_BYTE = 8;
constexpr uint32_t HASH_FINISH_MULTIPLIER_1 = 9u;
constexpr int HASH_FINISH_SHIFT = 11;
constexpr uint32_t HASH_FINISH_MULTIPLIER_2 = 32769u;

// Room of the duplicate-key report, terminator included.
constexpr size_t DUPLICATE_MESSAGE_SIZE = 1024;

const char DUPLICATE_PREFIX[] =
    "Error in qarn_void_pointer_map::store(), attempt to store duplicate thing at key '";
const char DUPLICATE_SUFFIX[] = "'.";

uint32_t hash_step(uint32_t h, uint32_t byte) {
  h += byte;
  h *= HASH_STEP_MULTIPLIER;
  return h ^ (h >> HASH_STEP_SHIFT);
}

void report(const char *text, int32_t category) {
  qarn_diagnostic(text, category, QARN_MODULE_SUPPORT);
}

}  // namespace

uint32_t qarn_string_hash(const char *text) {
  uint32_t h = HASH_SEED;
  uint32_t length = 0;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p != 0; p++) {
    h = hash_step(h, *p);
    length++;
  }
  for (int i = 0; i < LENGTH_BYTES; i++) {
    h = hash_step(h, (length >> (i * BITS_PER_BYTE)) & 0xFFu);
  }
  h *= HASH_FINISH_MULTIPLIER_1;
  h ^= h >> HASH_FINISH_SHIFT;
  return h * HASH_FINISH_MULTIPLIER_2;
}

uint32_t qarn_pointer_map_hash(const char *text) {
  uint64_t h = qarn_keyed_hash(qarn_process_hash_key(), text, std::strlen(text));
  return static_cast<uint32_t>(h ^ (h >> 32));
}

qarn_void_pointer_map::qarn_void_pointer_map(qarn_map_keys keys)
    : keys_(keys), table_(nullptr), capacity_(0), mask_(0), count_(0) {
  allocate_initial_table();
}

void qarn_void_pointer_map::drop_key(slot &s) const {
  if (keys_ == qarn_map_keys::copied) {
    qarn_free_text(&s.key);
  }
  s.key = nullptr;
}

qarn_void_pointer_map::~qarn_void_pointer_map() { clear(); }

void qarn_void_pointer_map::clear() {
  if (table_ == nullptr) {
    return;
  }
  for (uint32_t i = 0; i < capacity_; i++) {
    table_[i].value = nullptr;
    drop_key(table_[i]);
  }
  std::free(table_);
  table_ = nullptr;
  capacity_ = 0;
  mask_ = 0;
  count_ = 0;
}

qarn_void_pointer_map::slot *qarn_void_pointer_map::allocate_slots(uint32_t slot_count) {
  // calloc leaves every value and key null, which is what empty means.
  return static_cast<slot *>(std::calloc(slot_count, sizeof(slot)));
}

int qarn_void_pointer_map::allocate_initial_table() {
  table_ = allocate_slots(QARN_POINTER_MAP_INITIAL_CAPACITY);
  if (table_ == nullptr) {
    report("Error in qarn_void_pointer_map(), initial table alloc failed.", QARN_DIAG_RESOURCE);
    return 0;
  }
  capacity_ = QARN_POINTER_MAP_INITIAL_CAPACITY;
  mask_ = capacity_ - 1;
  count_ = 0;
  return 1;
}

int qarn_void_pointer_map::grow() {
  if (capacity_ > UINT32_MAX / 2) {
    return 0;
  }
  uint32_t new_capacity = capacity_ * 2;
  slot *new_table = allocate_slots(new_capacity);
  if (new_table == nullptr) {
    return 0;
  }
  slot *old_table = table_;
  uint32_t old_capacity = capacity_;
  table_ = new_table;
  capacity_ = new_capacity;
  mask_ = new_capacity - 1;
  for (uint32_t i = 0; i < old_capacity; i++) {
    if (old_table[i].value != nullptr) {
      move_insert(old_table[i]);
      old_table[i].value = nullptr;
      old_table[i].key = nullptr;
    }
  }
  std::free(old_table);
  return 1;
}

void qarn_void_pointer_map::move_insert(const slot &entry) {
  uint32_t home = entry.hash & mask_;
  uint32_t i = home;
  do {
    if (table_[i].value == nullptr) {
      table_[i] = entry;
      return;
    }
    i = (i + 1) & mask_;
  } while (i != home);
  report("Error in qarn_void_pointer_map::move_insert(), table full?", QARN_DIAG_MISUSE);
  // The entry is lost to the map; its key copy must not leak with it.
  slot lost = entry;
  drop_key(lost);
  count_--;
}

void qarn_void_pointer_map::report_duplicate(const char *key) const {
  // A key too long for the report is cut so that the closing quote stays.
  char message[DUPLICATE_MESSAGE_SIZE];
  size_t room = DUPLICATE_MESSAGE_SIZE - 1 - (sizeof(DUPLICATE_PREFIX) - 1) -
                (sizeof(DUPLICATE_SUFFIX) - 1);
  std::snprintf(message, sizeof(message), "%s%.*s%s", DUPLICATE_PREFIX, static_cast<int>(room),
                key, DUPLICATE_SUFFIX);
  report(message, QARN_DIAG_MISUSE);
}

int qarn_void_pointer_map::store(void *value, const char *key) {
  if (key == nullptr) {
    report("Error in qarn_void_pointer_map::store(), got null key.", QARN_DIAG_MISUSE);
    return 0;
  }
  // A null value would read as an empty slot and lose its key copy.
  if (value == nullptr) {
    report("Error in qarn_void_pointer_map::store(), got null value.", QARN_DIAG_MISUSE);
    return 0;
  }
  if (table_ == nullptr && !allocate_initial_table()) {
    return 0;
  }
  if (count_ > capacity_ / 2 && !grow()) {
    // Still usable while a slot is free; lookups just probe longer.
    report("Error in qarn_void_pointer_map::store(), table growth alloc failed.",
           QARN_DIAG_RESOURCE);
  }
  uint32_t h = qarn_pointer_map_hash(key);
  uint32_t home = h & mask_;
  uint32_t i = home;
  do {
    probes_++;
    slot &s = table_[i];
    if (s.value == nullptr) {
      char *copy = keys_ == qarn_map_keys::copied ? qarn_strdup(key) : const_cast<char *>(key);
      if (copy == nullptr) {
        report("Error in qarn_void_pointer_map::store(), key copy alloc failed.",
               QARN_DIAG_RESOURCE);
        return 0;
      }
      s.value = value;
      s.hash = h;
      s.key = copy;
      count_++;
      return 1;
    }
    if (s.hash == h && std::strcmp(s.key, key) == 0) {
      report_duplicate(key);
      return 0;
    }
    i = (i + 1) & mask_;
  } while (i != home);
  report("Error in qarn_void_pointer_map::store(), table full?", QARN_DIAG_MISUSE);
  return 0;
}

int64_t qarn_void_pointer_map::find_index(const char *key, uint32_t hash, bool *cycled) const {
  *cycled = false;
  if (table_ == nullptr) {
    return -1;
  }
  uint32_t home = hash & mask_;
  uint32_t i = home;
  do {
    probes_++;
    const slot &s = table_[i];
    if (s.value == nullptr) {
      return -1;
    }
    if (s.hash == hash && std::strcmp(s.key, key) == 0) {
      return i;
    }
    i = (i + 1) & mask_;
  } while (i != home);
  *cycled = true;
  return -1;
}

void *qarn_void_pointer_map::lookup(const char *key) const {
  if (key == nullptr) {
    return nullptr;
  }
  bool cycled = false;
  int64_t index = find_index(key, qarn_pointer_map_hash(key), &cycled);
  return index < 0 ? nullptr : table_[index].value;
}

void *qarn_void_pointer_map::remove(const char *key) {
  if (key == nullptr) {
    return nullptr;
  }
  bool cycled = false;
  int64_t index = find_index(key, qarn_pointer_map_hash(key), &cycled);
  if (index < 0) {
    if (cycled) {
      report("Error in qarn_void_pointer_map::remove(), table full?", QARN_DIAG_MISUSE);
    }
    return nullptr;
  }
  slot &s = table_[index];
  void *value = s.value;
  s.value = nullptr;
  drop_key(s);
  count_--;
  compact_after_remove(static_cast<uint32_t>(index));
  return value;
}

bool qarn_void_pointer_map::may_move_into_hole(uint32_t j, uint32_t hole) const {
  // The entry at j may move back only if its home is not in the cyclic
  // range (hole, j]; otherwise the move would put it before its home.
  uint32_t home = table_[j].hash & mask_;
  if (j > hole) {
    return home > j || home <= hole;
  }
  return home > j && home <= hole;
}

void qarn_void_pointer_map::compact_after_remove(uint32_t hole) {
  uint32_t j = (hole + 1) & mask_;
  while (table_[j].value != nullptr) {
    if (may_move_into_hole(j, hole)) {
      table_[hole] = table_[j];
      table_[j].value = nullptr;
      table_[j].key = nullptr;
      hole = j;
    }
    j = (j + 1) & mask_;
    if (j == hole) {
      report("Error in qarn_void_pointer_map::compact_after_remove(), table full?",
             QARN_DIAG_MISUSE);
      return;
    }
  }
}
