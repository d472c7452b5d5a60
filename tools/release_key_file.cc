#include "tools/release_key_file.h"

#include <cstdio>
#include <cstring>

#include "platform/file_system.h"
#include "support/atomic_file.h"
#include "support/file_system.h"
#include "support/hex_text.h"
#include "support/memory_wipe.h"
#include "support/sha256.h"
#include "tools/file_digest.h"
#include "updater/release_signature.h"

namespace {

const char KEY_FILE_HEADER[] = "torvane-release-key ecdsa-p256";
const char PRIVATE_KEY[] = "private ";
const char PUBLIC_KEY[] = "public ";
// Room for the longest line of a key file (the public key's, 137
// characters), its line feed and the terminator.
constexpr size_t KEY_FILE_LINE_LEN = 256;

// Reads the next line of |file| into |line| without its line feed. False
// at the end of the file and for a line too long for |line|, which no key
// file has.
bool read_key_line(std::FILE *file, char (&line)[KEY_FILE_LINE_LEN]) {
  if (std::fgets(line, sizeof(line), file) == nullptr) {
    return false;
  }
  size_t length = std::strlen(line);
  if (length > 0 && line[length - 1] == '\n') {
    line[length - 1] = '\0';
    return true;
  }
  return std::feof(file) != 0;
}

bool read_hex_line(std::FILE *file, const char *key, unsigned char *out, int32_t count) {
  char line[KEY_FILE_LINE_LEN];
  const size_t key_length = std::strlen(key);
  bool read = read_key_line(file, line) && std::strncmp(line, key, key_length) == 0 &&
              std::strlen(line + key_length) == 2 * static_cast<size_t>(count) &&
              qarn_hex_decode(line + key_length, count, out);
  qarn_wipe_bytes(line, sizeof(line));
  return read;
}

}  // namespace

bool make_release_key(const std::string &path, std::string *public_hex, std::string *why) {
  release_key_pair pair;
  if (!platform_p256_generate_key(pair.private_key, pair.public_key)) {
    *why = "no key pair could be made";
    return false;
  }
  std::FILE *file = platform_create_private_file(path.c_str());
  if (file == nullptr) {
    qarn_wipe_bytes(&pair, sizeof(pair));
    *why = "cannot create " + path + " (it must not exist yet)";
    return false;
  }
  std::string private_hex = hex_of(pair.private_key, PLATFORM_P256_PRIVATE_KEY_LEN);
  *public_hex = hex_of(pair.public_key, PLATFORM_P256_PUBLIC_KEY_LEN);
  std::fprintf(file, "%s\n%s%s\n%s%s\n", KEY_FILE_HEADER, PRIVATE_KEY, private_hex.c_str(), PUBLIC_KEY,
               public_hex->c_str());
  bool written = std::ferror(file) == 0;
  written = std::fclose(file) == 0 && written;
  qarn_wipe_bytes(&private_hex[0], private_hex.size());
  qarn_wipe_bytes(&pair, sizeof(pair));
  if (!written) {
    qarn_remove(path.c_str());
    *why = "cannot write " + path;
    return false;
  }
  qarn_atomic_file public_file;
  std::FILE *out = public_file.open((path + ".pub").c_str());
  if (out == nullptr) {
    *why = "cannot write " + path + ".pub";
    return false;
  }
  std::fprintf(out, "%s\n", public_hex->c_str());
  if (!public_file.commit()) {
    *why = "cannot write " + path + ".pub";
    return false;
  }
  return true;
}

bool read_release_key(const std::string &path, release_key_pair *pair, std::string *why) {
  std::FILE *file = qarn_fopen(path.c_str(), "rb");
  // An empty file has nothing to read, like one that cannot be opened.
  int first = file != nullptr ? std::fgetc(file) : EOF;
  if (first == EOF || std::ungetc(first, file) == EOF) {
    if (file != nullptr) {
      qarn_fclose(file);
    }
    *why = "cannot read " + path;
    return false;
  }
  char header[KEY_FILE_LINE_LEN];
  bool read = read_key_line(file, header) && std::strcmp(header, KEY_FILE_HEADER) == 0 &&
              read_hex_line(file, PRIVATE_KEY, pair->private_key, PLATFORM_P256_PRIVATE_KEY_LEN) &&
              read_hex_line(file, PUBLIC_KEY, pair->public_key, PLATFORM_P256_PUBLIC_KEY_LEN);
  qarn_fclose(file);
  if (!read) {
    qarn_wipe_bytes(pair, sizeof(*pair));
    *why = path + " is not a release key file";
    return false;
  }
  return true;
}

bool sign_manifest(const std::string &path, const unsigned char digest[QARN_SHA256_DIGEST_LEN],
                   const release_key_pair &pair, std::string *why) {
  unsigned char signature[OVU_SIGNATURE_LEN];
  if (!platform_p256_sign_digest(pair.private_key, pair.public_key, digest, signature)) {
    *why = "the key pair cannot sign (is the key file damaged?)";
    return false;
  }
  const std::string text = format_release_signature(signature);
  qarn_atomic_file signature_file;
  const std::string signature_path = path + OVU_SIGNATURE_SUFFIX;
  std::FILE *out = signature_file.open(signature_path.c_str());
  if (out == nullptr || std::fwrite(text.data(), 1, text.size(), out) != text.size() || !signature_file.commit()) {
    *why = "cannot write " + signature_path;
    return false;
  }
  return true;
}
