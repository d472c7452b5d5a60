// Fuzz target for the manifest line parser: any bytes, cut at the first NUL
// as a line is. Besides the sanitizers it checks what an entry must hold:
// a name and a hash token whose first ten characters are lower-case hex.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "support/diagnostics.h"
#include "updater/manifest_entry.h"

namespace {

constexpr int32_t MASK_EVERYTHING = 0x7FFFFFFF;

bool is_lower_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  qarn_set_diagnostic_mask(MASK_EVERYTHING);
  std::string line(reinterpret_cast<const char *>(data), size);
  ovu_manifest_entry *entry = reinterpret_cast<ovu_manifest_entry *>(1);
  int result = parse_manifest_line("downloaded data", line.c_str(), &entry);
  if (result == 0 && entry != nullptr) {
    __builtin_trap();
  }
  if (entry != nullptr) {
    if (entry->name == nullptr || entry->hash == nullptr || entry->name[0] == '\0' ||
        std::strlen(entry->hash) < OVU_HASH_CHECKED_CHARS) {
      __builtin_trap();
    }
    for (int i = 0; i < OVU_HASH_CHECKED_CHARS; i++) {
      if (!is_lower_hex(entry->hash[i])) {
        __builtin_trap();
      }
    }
    ovu_free_manifest_entry(entry);
  }
  return 0;
}
