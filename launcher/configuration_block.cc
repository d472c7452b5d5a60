#include "launcher/configuration_block.h"

#include <cstring>

#include "support/block_scrambler.h"
#include "support/bounded_string.h"
#include "support/hex_text.h"
#include "support/memory_wipe.h"

namespace {

// Builds the key text from the key material in a heap string that wipes
// itself when it goes.
void build_key_text(const unsigned char *key_material, qarn_heap_bounded_string &key_text) {
  char hex[LAUNCHER_KEY_TEXT_LEN + 1];
  qarn_hex_encode(key_material, LAUNCHER_KEY_MATERIAL_LEN, hex);
  key_text.append(hex);
  qarn_wipe_bytes(hex, sizeof(hex));
}

bool put_field(unsigned char *block, int32_t offset, int32_t field_len, const char *text) {
  size_t length = std::strlen(text);
  if (length + 1 > static_cast<size_t>(field_len)) {
    return false;
  }
  std::memcpy(block + offset, text, length + 1);
  return true;
}

bool field_is_terminated(const launcher_plain_configuration &plain, int32_t offset, int32_t field_len) {
  return std::memchr(plain.bytes + offset, '\0', static_cast<size_t>(field_len)) != nullptr;
}

bool check_bytes_are_zero(const launcher_plain_configuration &plain) {
  for (int32_t i = 0; i < LAUNCHER_CHECK_LEN; i++) {
    if (plain.bytes[LAUNCHER_CHECK_OFFSET + i] != 0) {
      return false;
    }
  }
  return true;
}

}  // namespace

int encipher_configuration(const unsigned char *key_material, const char *host, const char *root_path,
                           const char *manifest_name, unsigned char *out) {
  launcher_plain_configuration plain;
  std::memset(&plain, 0, sizeof(plain));
  bool fits = put_field(plain.bytes, LAUNCHER_HOST_OFFSET, LAUNCHER_HOST_FIELD_LEN, host) &&
              put_field(plain.bytes, LAUNCHER_ROOT_OFFSET, LAUNCHER_ROOT_FIELD_LEN, root_path) &&
              put_field(plain.bytes, LAUNCHER_MANIFEST_OFFSET, LAUNCHER_MANIFEST_FIELD_LEN, manifest_name);
  int result = 0;
  if (fits) {
    qarn_heap_bounded_string key_text(QARN_BOUNDED_STRING_CAPACITY);
    build_key_text(key_material, key_text);
    std::memcpy(out, key_material, LAUNCHER_KEY_MATERIAL_LEN);
    result = qarn_trivial_crypt_block(out + LAUNCHER_KEY_MATERIAL_LEN, LAUNCHER_CONFIGURATION_BLOCK_LEN, plain.bytes,
                                      LAUNCHER_CONFIGURATION_BLOCK_LEN,
                                      key_text.text()) == LAUNCHER_CONFIGURATION_BLOCK_LEN;
  }
  qarn_wipe_bytes(&plain, sizeof(plain));
  return result;
}

int decipher_configuration(const unsigned char *configuration, launcher_plain_configuration *plain) {
  qarn_heap_bounded_string key_text(QARN_BOUNDED_STRING_CAPACITY);
  build_key_text(configuration, key_text);
  int32_t written = qarn_trivial_crypt_block(plain->bytes, LAUNCHER_CONFIGURATION_BLOCK_LEN,
                                             configuration + LAUNCHER_KEY_MATERIAL_LEN,
                                             LAUNCHER_CONFIGURATION_BLOCK_LEN, key_text.text());
  return written == LAUNCHER_CONFIGURATION_BLOCK_LEN && check_bytes_are_zero(*plain) &&
         field_is_terminated(*plain, LAUNCHER_HOST_OFFSET, LAUNCHER_HOST_FIELD_LEN) &&
         field_is_terminated(*plain, LAUNCHER_ROOT_OFFSET, LAUNCHER_ROOT_FIELD_LEN) &&
         field_is_terminated(*plain, LAUNCHER_MANIFEST_OFFSET, LAUNCHER_MANIFEST_FIELD_LEN);
}
