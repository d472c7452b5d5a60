#include "tools/file_digest.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "support/file_system.h"
#include "support/hex_text.h"
#include "support/sha256.h"

namespace {

constexpr size_t READ_BLOCK_LEN = 256 * 1024;

}  // namespace

std::string hex_of(const unsigned char *bytes, size_t length) {
  std::string hex(2 * length + 1, '\0');
  qarn_hex_encode(bytes, static_cast<int32_t>(length), &hex[0]);
  hex.pop_back();
  return hex;
}

bool sha256_of_file(const std::string &path, unsigned char digest[QARN_SHA256_DIGEST_LEN], uint64_t *size,
                    std::string *why) {
  std::FILE *file = qarn_fopen(path.c_str(), "rb");
  if (file == nullptr) {
    *why = std::string("cannot open it: ") + std::strerror(errno);
    return false;
  }
  std::vector<unsigned char> block(READ_BLOCK_LEN);
  qarn_sha256_context context;
  qarn_sha256_init(&context);
  uint64_t total = 0;
  size_t n = 0;
  while ((n = std::fread(block.data(), 1, block.size(), file)) > 0) {
    qarn_sha256_update(&context, block.data(), n);
    total += n;
  }
  bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) {
    *why = "cannot read it";
    return false;
  }
  qarn_sha256_final(&context, digest);
  *size = total;
  return true;
}

bool digest_file(const std::string &path, std::string *hex, uint64_t *size, std::string *why) {
  unsigned char digest[QARN_SHA256_DIGEST_LEN];
  if (!sha256_of_file(path, digest, size, why)) {
    return false;
  }
  *hex = hex_of(digest, sizeof(digest));
  return true;
}
