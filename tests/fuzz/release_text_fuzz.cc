// Fuzz target for the release texts a server sends besides the file list:
// the declaration lines of the manifest and the signature file. Besides the
// sanitizers it checks that a parsed signature formats back to the text it
// came from (up to the case of its hex digits), and that a declaration is
// never taken twice.
#include <cstddef>
#include <cstdint>
#include <string>

#include "updater/release_declarations.h"
#include "updater/release_signature.h"

namespace {

std::string lower(std::string text) {
  for (char &c : text) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string input(reinterpret_cast<const char *>(data), size);

  unsigned char signature[OVU_SIGNATURE_LEN];
  if (size <= static_cast<size_t>(OVU_SIGNATURE_FILE_MAX_LEN) &&
      parse_release_signature(input.data(), static_cast<int32_t>(size), signature)) {
    std::string text = format_release_signature(signature);
    std::string given = input.back() == '\n' ? input : input + "\n";
    if (lower(text) != lower(given)) {
      __builtin_trap();
    }
  }

  ovu_release_declarations declarations = {};
  size_t start = 0;
  while (start <= size) {
    size_t end = input.find('\n', start);
    if (end == std::string::npos) {
      end = size;
    }
    std::string line = input.substr(start, end - start);
    ovu_release_declarations before = declarations;
    ovu_declaration_result result = parse_release_declaration(line.c_str(), &declarations);
    if (result == OVU_DECLARATION_TAKEN &&
        ((before.sha256_tokens && declarations.sha256_tokens != before.sha256_tokens) ||
         (before.has_serial && declarations.serial != before.serial) ||
         (before.has_expiry && declarations.expires != before.expires))) {
      __builtin_trap();
    }
    if (declarations.has_expiry && declarations.expires < 0) {
      __builtin_trap();
    }
    start = end + 1;
  }
  return 0;
}
