// The built-in configuration: 16 bytes of key material, then a block of
// 1008 bytes enciphered with the block scrambler under the key text (the
// key material as 32 lower-case hex digits). Deciphered, the block holds
//
//   offset   0, 16 bytes:  check bytes, all zero
//   offset  16, 224 bytes: update server host, NUL-terminated
//   offset 240, 256 bytes: root path of the files on the server, NUL-terminated
//   offset 496, 512 bytes: remote manifest name, NUL-terminated
//
// The build makes the block (tools/config_block_generator.cc); the update
// run deciphers it. The program holds no plain copy of the three texts.
#ifndef TORVANE_LAUNCHER_CONFIGURATION_BLOCK_H
#define TORVANE_LAUNCHER_CONFIGURATION_BLOCK_H

#include <cstdint>

constexpr int32_t LAUNCHER_KEY_MATERIAL_LEN = 16;
constexpr int32_t LAUNCHER_CONFIGURATION_BLOCK_LEN = 1008;
constexpr int32_t LAUNCHER_CONFIGURATION_LEN = LAUNCHER_KEY_MATERIAL_LEN + LAUNCHER_CONFIGURATION_BLOCK_LEN;
// The key text: two lower-case hex digits per key byte.
constexpr int32_t LAUNCHER_KEY_TEXT_LEN = 2 * LAUNCHER_KEY_MATERIAL_LEN;

constexpr int32_t LAUNCHER_CHECK_OFFSET = 0;
constexpr int32_t LAUNCHER_CHECK_LEN = 16;
constexpr int32_t LAUNCHER_HOST_OFFSET = 16;
constexpr int32_t LAUNCHER_HOST_FIELD_LEN = 224;
constexpr int32_t LAUNCHER_ROOT_OFFSET = 240;
constexpr int32_t LAUNCHER_ROOT_FIELD_LEN = 256;
constexpr int32_t LAUNCHER_MANIFEST_OFFSET = 496;
constexpr int32_t LAUNCHER_MANIFEST_FIELD_LEN = 512;

static_assert(LAUNCHER_HOST_OFFSET == LAUNCHER_CHECK_OFFSET + LAUNCHER_CHECK_LEN, "host follows the check bytes");
static_assert(LAUNCHER_ROOT_OFFSET == LAUNCHER_HOST_OFFSET + LAUNCHER_HOST_FIELD_LEN, "root follows the host");
static_assert(LAUNCHER_MANIFEST_OFFSET == LAUNCHER_ROOT_OFFSET + LAUNCHER_ROOT_FIELD_LEN, "manifest follows the root");
static_assert(LAUNCHER_MANIFEST_OFFSET + LAUNCHER_MANIFEST_FIELD_LEN == LAUNCHER_CONFIGURATION_BLOCK_LEN,
              "the three fields fill the block");

// The deciphered block, valid only while it is checked.
struct launcher_plain_configuration {
  unsigned char bytes[LAUNCHER_CONFIGURATION_BLOCK_LEN];
};

// encipher_configuration builds the LAUNCHER_CONFIGURATION_LEN bytes of a
// configuration into |out| from |key_material| (16 bytes) and the three
// texts. Returns 1, or 0 when a text does not fit its field (its NUL
// included) or the scrambler fails.
int encipher_configuration(const unsigned char *key_material, const char *host, const char *root_path,
                           const char *manifest_name, unsigned char *out);

// decipher_configuration turns |configuration| (LAUNCHER_CONFIGURATION_LEN
// bytes) into |plain|. Returns 1 when the check bytes are zero and every
// field ends with its NUL inside the field; else 0 (the block was made with
// other key material or is damaged). |plain| should be wiped after use.
int decipher_configuration(const unsigned char *configuration, launcher_plain_configuration *plain);

// The fields of a deciphered block; valid as long as |plain|.
inline const char *configuration_host(const launcher_plain_configuration &plain) {
  return reinterpret_cast<const char *>(plain.bytes + LAUNCHER_HOST_OFFSET);
}
inline const char *configuration_root_path(const launcher_plain_configuration &plain) {
  return reinterpret_cast<const char *>(plain.bytes + LAUNCHER_ROOT_OFFSET);
}
inline const char *configuration_manifest_name(const launcher_plain_configuration &plain) {
  return reinterpret_cast<const char *>(plain.bytes + LAUNCHER_MANIFEST_OFFSET);
}

#endif
