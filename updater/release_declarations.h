// Release declarations: comment lines at the top of a published manifest
// that say what its hash tokens are and which release it is. Launchers that
// do not know them read them as comments ("#" first) and skip them.
//
//   #torvane-hash sha256          hash tokens are SHA-256 digests in hex
//   #torvane-serial 1765372800    release serial, only ever grows
//   #torvane-expires 1766000000   the release is not valid after this time
//                                 (seconds since 1970-01-01 00:00 UTC)
#ifndef TORVANE_UPDATER_RELEASE_DECLARATIONS_H
#define TORVANE_UPDATER_RELEASE_DECLARATIONS_H

#include <cstdint>

constexpr char OVU_DECLARATION_PREFIX[] = "#torvane-";
constexpr char OVU_HASH_KEY[] = "#torvane-hash ";
constexpr char OVU_HASH_DECLARATION[] = "#torvane-hash sha256";
constexpr char OVU_SERIAL_DECLARATION[] = "#torvane-serial ";
constexpr char OVU_EXPIRES_DECLARATION[] = "#torvane-expires ";
// Hex digits of a SHA-256 hash token.
constexpr int32_t OVU_SHA256_TOKEN_LEN = 64;

struct ovu_release_declarations {
  int sha256_tokens;      // 1 when the hash tokens are declared SHA-256
  int has_serial;         // 1 when a serial was declared
  uint64_t serial;
  int has_expiry;         // 1 when an expiry time was declared
  int64_t expires;        // seconds since 1970-01-01 00:00 UTC
};

enum ovu_declaration_result {
  OVU_NOT_A_DECLARATION,  // any other line: an entry or an ordinary comment
  OVU_DECLARATION_TAKEN,  // a declaration, recorded
  OVU_DECLARATION_BAD,    // a known declaration that is malformed or given twice
};

// parse_release_number reads a plain decimal number of 1 to 18 digits that
// makes up the whole of |text|. Returns 1 with it in |*value|, else 0.
int parse_release_number(const char *text, uint64_t *value);

// parse_release_declaration looks at one manifest line (its line feed
// already removed) and records a declaration in |declarations|. One of the
// three declarations must be well formed and given once; a malformed one is
// bad, so that a damaged line cannot silently switch a check off. Other
// lines under the "#torvane-" prefix are left to later launchers and read
// as comments.
ovu_declaration_result parse_release_declaration(const char *line, ovu_release_declarations *declarations);

#endif
