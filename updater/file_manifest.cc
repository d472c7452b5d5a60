#include "updater/file_manifest.h"

#include <cinttypes>
#include <cstdlib>
#include <cstring>

#include "support/atomic_file.h"
#include "support/bounded_string.h"
#include "support/diagnostics.h"
#include "support/file_system.h"
#include "support/text_scan.h"
#include "updater/case_collisions.h"
#include "updater/file_name_case.h"
#include "updater/installed_files_check.h"

namespace {

const char *const HEADER_LINES[] = {
    "# This is an automatically generated file - do not modify\n",
    "# It contains a list of the files currently managed by the\n",
    "# updater.  Changing or deleting it may cause your next\n",
    "# update to download far more things than it needs.\n",
    "\n",
};

void report(const char *text, int32_t category) { qarn_diagnostic(text, category, QARN_MODULE_UPDATER); }

void report_short_hash(const ovu_manifest_entry *entry, size_t hash_len) {
  qarn_bounded_string message;
  message.append("Error in ovu_file_manifest::save_file(), file '").append(entry->name);
  message.append("' had short hash len of ").append_format("%d.\n", static_cast<int>(hash_len));
  report(message.text(), QARN_DIAG_SHORT_HASH_OR_ELEVATION);
}

void report_save_failure(const char *path) {
  qarn_bounded_string message;
  message.append("Error in ovu_file_manifest::save_file() - unable to save file '").append(path).append("'.");
  report(message.text(), QARN_DIAG_MANIFEST);
}

// The format of an entry line: the size takes at least ten columns, more
// when it has more digits.
const char ENTRY_LINE_FORMAT[] = "%s %10" PRId64 " %s\n";
constexpr size_t SIZE_COLUMNS = 10;
constexpr size_t SEPARATORS_PER_LINE = 2;

// Characters of |size| in decimal, its minus sign included.
size_t decimal_length(int64_t size) {
  uint64_t magnitude = size < 0 ? 0 - static_cast<uint64_t>(size) : static_cast<uint64_t>(size);
  size_t length = size < 0 ? 2 : 1;
  while (magnitude >= 10) {
    magnitude /= 10;
    length++;
  }
  return length;
}

}  // namespace

// Names by their comparison keys (file_name_case.h): names that are one
// file on Windows share a key.
class ovu_comparison_key_index {
 public:
  // Stores the key of |entry|'s name unless it is stored already. Returns
  // 0 when memory ran out.
  int store(const ovu_manifest_entry *entry) {
    qarn_heap_bounded_string key(key_room(entry->name));
    ovu_append_comparison_key(key, entry->name);
    return !key.is_full() &&
           (map_.lookup(key.text()) != nullptr || map_.store(const_cast<ovu_manifest_entry *>(entry), key.text()));
  }
  // Whether no key is stored.
  bool empty() const { return map_.count() == 0; }
  // Whether an entry is stored under the key of |name|.
  bool holds(const char *name) const {
    qarn_heap_bounded_string key(key_room(name));
    ovu_append_comparison_key(key, name);
    return !key.is_full() && map_.lookup(key.text()) != nullptr;
  }

 private:
  // One character more than any key needs, so that a full string shows a
  // key that could not be made.
  static int32_t key_room(const char *name) {
    return static_cast<int32_t>(ovu_comparison_key_room(std::strlen(name)) + 1);
  }

  qarn_void_pointer_map map_;
};

size_t ovu_local_manifest_line_length(size_t hash_len, int64_t size, size_t name_len) {
  size_t size_len = decimal_length(size);
  return hash_len + (size_len > SIZE_COLUMNS ? size_len : SIZE_COLUMNS) + name_len + SEPARATORS_PER_LINE;
}

ovu_file_manifest::~ovu_file_manifest() { clear(); }

void ovu_file_manifest::append(ovu_manifest_entry *entry) {
  entry->next = nullptr;
  if (tail_ == nullptr) {
    head_ = entry;
  } else {
    tail_->next = entry;
  }
  tail_ = entry;
  if (!index_.store(entry, entry->name) && index_.lookup(entry->name) != nullptr) {
    has_duplicates_ = true;
  }
}

int32_t ovu_file_manifest::load_file(const char *path) {
  FILE *file = qarn_fopen(path, "rb");
  if (file == nullptr) {
    return -1;
  }
  int32_t count = 0;
  char line[OVU_MANIFEST_LINE_BUFFER_LEN];
  qarn_line_reader lines(file);
  while (lines.next_line(line, sizeof(line)) > 0) {
    ovu_manifest_line_fields fields;
    ovu_manifest_line_kind kind = ovu_scan_manifest_line(OVU_LOCAL_MANIFEST_CONTEXT, line, &fields);
    if (kind == OVU_MANIFEST_LINE_COMMENT) {
      continue;
    }
    ovu_manifest_entry *entry = nullptr;
    if (kind == OVU_MANIFEST_LINE_MALFORMED || (entry = ovu_make_arena_entry(arena_, fields)) == nullptr) {
      count = -1;
      break;
    }
    append(entry);
    count++;
  }
  qarn_fclose(file);
  return count;
}

int ovu_file_manifest::write_entries(FILE *file) const {
  for (const char *header : HEADER_LINES) {
    if (std::fputs(header, file) < 0) {
      return 0;
    }
  }
  for (const ovu_manifest_entry *entry = head_; entry != nullptr; entry = entry->next) {
    size_t hash_len = entry->hash != nullptr ? std::strlen(entry->hash) : 0;
    if (hash_len < static_cast<size_t>(OVU_SHORT_HASH_LEN)) {
      report_short_hash(entry, hash_len);
    }
    if (std::fprintf(file, ENTRY_LINE_FORMAT, entry->hash != nullptr ? entry->hash : "(null)", entry->size,
                     entry->name) < 0) {
      return 0;
    }
  }
  return 1;
}

int ovu_file_manifest::save_file(const char *path) {
  if (path == nullptr) {
    report("Error in ovu_file_manifest::save_file(), NULL path.", QARN_DIAG_MISUSE);
    return 0;
  }
  qarn_atomic_file saved;
  FILE *file = saved.open(path);
  if (file == nullptr || !write_entries(file) || !saved.commit()) {
    report_save_failure(path);
    return 0;
  }
  return 1;
}

ovu_manifest_entry *ovu_file_manifest::find(const char *name) const {
  return static_cast<ovu_manifest_entry *>(index_.lookup(name));
}

int ovu_file_manifest::set_entry(const ovu_manifest_entry *entry) {
  char *hash = nullptr;
  if (entry->hash != nullptr && (hash = arena_.copy_text(entry->hash, std::strlen(entry->hash))) == nullptr) {
    return 0;
  }
  ovu_manifest_entry *known = find(entry->name);
  if (known != nullptr) {
    // The old token stays in the arena, unused, until the manifest is
    // cleared: one per installed file.
    known->hash = hash;
    known->size = entry->size;
    return 1;
  }
  ovu_manifest_entry *added = arena_.make<ovu_manifest_entry>();
  if (added == nullptr || (added->name = arena_.copy_text(entry->name, std::strlen(entry->name))) == nullptr) {
    return 0;
  }
  added->hash = hash;
  added->size = entry->size;
  if (!index_.store(added, added->name)) {
    return 0;
  }
  added->next = head_;
  head_ = added;
  if (tail_ == nullptr) {
    tail_ = added;
  }
  return 1;
}

// Takes |entry| out of the index if the index holds it. When the loaded
// file held its name twice, the next entry of that name takes its place,
// so that find keeps returning the first one still listed.
void ovu_file_manifest::drop_from_index(ovu_manifest_entry *entry) {
  if (index_.lookup(entry->name) != entry) {
    return;
  }
  index_.remove(entry->name);
  if (!has_duplicates_) {
    return;
  }
  for (ovu_manifest_entry *other = head_; other != nullptr; other = other->next) {
    if (other != entry && std::strcmp(other->name, entry->name) == 0) {
      index_.store(other, other->name);
      return;
    }
  }
}

// Takes |entry|, which follows |previous| (null: the head), out of the
// list and the index; its memory stays in the arena until clear.
void ovu_file_manifest::unlink(ovu_manifest_entry *previous, ovu_manifest_entry *entry) {
  if (previous == nullptr) {
    head_ = entry->next;
  } else {
    previous->next = entry->next;
  }
  if (tail_ == entry) {
    tail_ = previous;
  }
  entry->next = nullptr;
  drop_from_index(entry);
}

int32_t ovu_file_manifest::forget_entries(const qarn_growable_array &plan) {
  ovu_comparison_key_index planned;
  for (int32_t i = 0; i < plan.count; i++) {
    // A name the server listed twice is stored once.
    if (!planned.store(*static_cast<ovu_manifest_entry *const *>(plan.at(i)))) {
      return -1;
    }
  }
  return forget_names_in(planned);
}

int32_t ovu_file_manifest::forget_case_collisions() {
  int32_t count = 0;
  for (const ovu_manifest_entry *entry = head_; entry != nullptr; entry = entry->next) {
    count++;
  }
  const char **names = static_cast<const char **>(std::malloc(sizeof(char *) * (static_cast<size_t>(count) + 1)));
  if (names == nullptr) {
    return -1;
  }
  int32_t position = 0;
  for (const ovu_manifest_entry *entry = head_; entry != nullptr; entry = entry->next) {
    names[position++] = entry->name;
  }
  qarn_growable_array collisions;
  collisions.init(sizeof(ovu_case_collision));
  int found = ovu_find_case_collisions(names, count, collisions);
  std::free(names);
  // Every entry of a file that has two spellings goes, the spelling given
  // first and any repetition of it too.
  // The collisions come in list order: one walk finds their entries.
  ovu_comparison_key_index spelled_twice;
  const ovu_manifest_entry *entry = head_;
  position = 0;
  for (int32_t i = 0; found && i < collisions.count; i++) {
    const ovu_case_collision *collision = static_cast<const ovu_case_collision *>(collisions.at(i));
    for (; position < collision->index; position++) {
      entry = entry->next;
    }
    found = spelled_twice.store(entry);
  }
  collisions.release();
  return found ? forget_names_in(spelled_twice) : -1;
}

// Drops every entry whose name is one file on Windows with a name of
// |keys|. Returns the number dropped.
int32_t ovu_file_manifest::forget_names_in(const ovu_comparison_key_index &keys) {
  // With no name to forget, the key of every name would be made (on the
  // heap) for nothing.
  if (keys.empty()) {
    return 0;
  }
  int32_t removed = 0;
  ovu_manifest_entry *previous = nullptr;
  ovu_manifest_entry *entry = head_;
  while (entry != nullptr) {
    ovu_manifest_entry *next = entry->next;
    if (keys.holds(entry->name)) {
      unlink(previous, entry);
      removed++;
    } else {
      previous = entry;
    }
    entry = next;
  }
  return removed;
}

int32_t ovu_file_manifest::prune_missing(const char *base_path) {
  int32_t count = 0;
  for (const ovu_manifest_entry *entry = head_; entry != nullptr; entry = entry->next) {
    count++;
  }
  unsigned char *matches = static_cast<unsigned char *>(std::malloc(static_cast<size_t>(count) + 1));
  if (matches != nullptr) {
    ovu_check_installed_files(base_path != nullptr ? base_path : "", head_, count, matches);
  }
  int32_t kept = 0;
  ovu_manifest_entry *previous = nullptr;
  ovu_manifest_entry *entry = head_;
  for (int32_t i = 0; entry != nullptr; i++) {
    ovu_manifest_entry *next = entry->next;
    unsigned char matched = 0;
    if (matches != nullptr) {
      matched = matches[i];
    } else {
      // Without memory for the whole list, each file is checked alone.
      ovu_check_installed_files(base_path != nullptr ? base_path : "", entry, 1, &matched);
    }
    if (matched) {
      kept++;
      previous = entry;
    } else {
      unlink(previous, entry);
    }
    entry = next;
  }
  std::free(matches);
  return kept;
}

void ovu_file_manifest::clear() {
  index_.clear();
  arena_.release();
  head_ = nullptr;
  tail_ = nullptr;
  has_duplicates_ = false;
}
