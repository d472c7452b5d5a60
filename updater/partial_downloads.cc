#include "updater/partial_downloads.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "support/file_system.h"
#include "support/hex_text.h"
#include "support/sha256.h"
#include "updater/release_declarations.h"

namespace {

const char PARTIAL_SUFFIX[] = ".part";
const char TAG_SUFFIX[] = ".entry";
// A tag: the hex SHA-256 of what names the entry.
constexpr int32_t TAG_LEN = 2 * QARN_SHA256_DIGEST_LEN;

// The tag of |entry|: the SHA-256 over its name, its size in decimal and
// its hash token, each ended by a NUL byte so that no two entries run
// together into one text.
void entry_tag(const ovu_manifest_entry *entry, char tag[TAG_LEN + 1]) {
  qarn_sha256_context context;
  qarn_sha256_init(&context);
  qarn_sha256_update(&context, entry->name, std::strlen(entry->name) + 1);
  char size[32];
  std::snprintf(size, sizeof(size), "%" PRId64, entry->size);
  qarn_sha256_update(&context, size, std::strlen(size) + 1);
  qarn_sha256_update(&context, entry->hash, std::strlen(entry->hash) + 1);
  unsigned char digest[QARN_SHA256_DIGEST_LEN];
  qarn_sha256_final(&context, digest);
  qarn_hex_encode(digest, QARN_SHA256_DIGEST_LEN, tag);
}

// Only a file whose bytes are verified at the end may be resumed: kept
// bytes that went wrong on the disk would otherwise be installed.
bool can_be_kept(const ovu_manifest_entry *entry) {
  unsigned char digest[QARN_SHA256_DIGEST_LEN];
  return entry->size > 1 && entry->hash != nullptr &&
         std::strlen(entry->hash) == static_cast<size_t>(OVU_SHA256_TOKEN_LEN) &&
         qarn_hex_decode(entry->hash, QARN_SHA256_DIGEST_LEN, digest);
}

void append_directory_of(qarn_bounded_string_base &directory, const char *path) {
  const char *last_separator = nullptr;
  for (const char *c = path; *c != '\0'; c++) {
    if (*c == '/' || *c == '\\') {
      last_separator = c;
    }
  }
  if (last_separator != nullptr) {
    directory.append_bytes(path, static_cast<int32_t>(last_separator - path + 1));
  }
}

}  // namespace

ovu_partial_downloads::ovu_partial_downloads() {
  for (const ovu_manifest_entry *&owner : owners_) {
    owner = nullptr;
  }
}

void ovu_partial_downloads::prepare(const char *temporary_file, const qarn_growable_array &plan, bool verified) {
  directory_.clear();
  append_directory_of(directory_, temporary_file);
  directory_.append(OVU_PARTIAL_DIRECTORY);
  for (const ovu_manifest_entry *&owner : owners_) {
    owner = nullptr;
  }
  if (directory_.is_full()) {
    return;  // no store: nothing is kept
  }
  if (verified) {
    choose_owners(plan);
  }
  // The slots whose tags name a chosen entry keep their partial files;
  // the others are cleared and given to the chosen entries left.
  const ovu_manifest_entry *chosen[OVU_PARTIAL_SLOTS];
  std::memcpy(chosen, owners_, sizeof(chosen));
  bool placed[OVU_PARTIAL_SLOTS] = {};
  qarn_file_info info;
  const bool store_exists = qarn_filename_get_file_info(directory_.text(), &info) && info.is_directory;
  for (int32_t slot = 0; slot < OVU_PARTIAL_SLOTS && store_exists; slot++) {
    owners_[slot] = nullptr;
    for (int32_t i = 0; i < OVU_PARTIAL_SLOTS && chosen[i] != nullptr; i++) {
      if (!placed[i] && tag_names(slot, chosen[i])) {
        owners_[slot] = chosen[i];
        placed[i] = true;
        break;
      }
    }
  }
  int32_t next = 0;
  for (int32_t slot = 0; slot < OVU_PARTIAL_SLOTS; slot++) {
    if (owners_[slot] != nullptr) {
      continue;
    }
    if (store_exists) {
      forget(slot);
    }
    while (next < OVU_PARTIAL_SLOTS && chosen[next] != nullptr && placed[next]) {
      next++;
    }
    if (next < OVU_PARTIAL_SLOTS && chosen[next] != nullptr) {
      owners_[slot] = chosen[next];
      placed[next] = true;
    }
  }
}

// choose_owners fills owners_ with the largest entries of |plan| that can
// be kept, largest first.
void ovu_partial_downloads::choose_owners(const qarn_growable_array &plan) {
  int32_t chosen = 0;
  for (int32_t i = 0; i < plan.count; i++) {
    const ovu_manifest_entry *entry = *static_cast<const ovu_manifest_entry *const *>(plan.at(i));
    if (!can_be_kept(entry)) {
      continue;
    }
    int32_t place = chosen;
    while (place > 0 && owners_[place - 1]->size < entry->size) {
      place--;
    }
    if (place >= OVU_PARTIAL_SLOTS) {
      continue;
    }
    int32_t last = chosen < OVU_PARTIAL_SLOTS ? chosen : OVU_PARTIAL_SLOTS - 1;
    for (int32_t j = last; j > place; j--) {
      owners_[j] = owners_[j - 1];
    }
    owners_[place] = entry;
    if (chosen < OVU_PARTIAL_SLOTS) {
      chosen++;
    }
  }
}

int32_t ovu_partial_downloads::slot_of(const ovu_manifest_entry *entry) const {
  for (int32_t slot = 0; slot < OVU_PARTIAL_SLOTS; slot++) {
    if (owners_[slot] != nullptr && owners_[slot] == entry) {
      return slot;
    }
  }
  return -1;
}

void ovu_partial_downloads::append_partial_path(int32_t slot, qarn_bounded_string_base &path) const {
  path.append(directory_.text()).append("/").append_format("%d", static_cast<int>(slot)).append(PARTIAL_SUFFIX);
}

void ovu_partial_downloads::append_tag_path(int32_t slot, qarn_bounded_string_base &path) const {
  path.append(directory_.text()).append("/").append_format("%d", static_cast<int>(slot)).append(TAG_SUFFIX);
}

int64_t ovu_partial_downloads::kept_length(int32_t slot) const {
  qarn_bounded_string path;
  append_partial_path(slot, path);
  qarn_file_info info;
  if (!qarn_filename_get_file_info(path.text(), &info)) {
    return 0;
  }
  if (info.is_regular_file && info.size > 0 && info.size < owners_[slot]->size) {
    return info.size;
  }
  drop(slot);
  return 0;
}

int ovu_partial_downloads::keep(int32_t slot, const char *broken_file) const {
  qarn_bounded_string path;
  append_partial_path(slot, path);
  int kept = !path.is_full() && qarn_recursive_mkdir(path.text(), QARN_DIRECTORY_MODE, nullptr) &&
             write_tag(slot, owners_[slot]);
  if (kept) {
    qarn_remove(path.text());  // Windows renames onto no existing file
    kept = qarn_rename(broken_file, path.text()) == 0;
  }
  if (!kept) {
    qarn_remove(broken_file);
  }
  return kept;
}

void ovu_partial_downloads::drop(int32_t slot) const {
  qarn_bounded_string path;
  append_partial_path(slot, path);
  qarn_remove(path.text());
}

bool ovu_partial_downloads::tag_names(int32_t slot, const ovu_manifest_entry *entry) const {
  qarn_bounded_string path;
  append_tag_path(slot, path);
  FILE *file = qarn_fopen(path.text(), "rb");
  if (file == nullptr) {
    return false;
  }
  char kept[TAG_LEN + 2];
  size_t got = std::fread(kept, 1, sizeof(kept), file);
  qarn_fclose(file);
  char wanted[TAG_LEN + 1];
  entry_tag(entry, wanted);
  return got == static_cast<size_t>(TAG_LEN) && std::memcmp(kept, wanted, TAG_LEN) == 0;
}

// write_tag names |entry| in the tag of |slot|, before its partial file
// arrives: a tag cut short by a crash names no entry, and its slot is
// cleared again. Returns true when the tag is written.
bool ovu_partial_downloads::write_tag(int32_t slot, const ovu_manifest_entry *entry) const {
  char tag[TAG_LEN + 1];
  entry_tag(entry, tag);
  qarn_bounded_string path;
  append_tag_path(slot, path);
  FILE *file = qarn_fopen(path.text(), "wb");
  if (file == nullptr) {
    return false;
  }
  size_t written = std::fwrite(tag, 1, TAG_LEN, file);
  if (qarn_fclose(file) != 0 || written != static_cast<size_t>(TAG_LEN)) {
    qarn_remove(path.text());
    return false;
  }
  return true;
}

void ovu_partial_downloads::forget(int32_t slot) const {
  drop(slot);
  qarn_bounded_string path;
  append_tag_path(slot, path);
  qarn_remove(path.text());
}
