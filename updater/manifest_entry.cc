#include "updater/manifest_entry.h"

#include <cstdlib>

#include "support/bounded_string.h"
#include "support/diagnostics.h"
#include "support/text_scan.h"

namespace {

const char HASH_ERROR[] = " - bad or missing hash field for line:";
const char SIZE_ERROR[] = " - bad or missing file size for line:";
const char NAME_ERROR[] = " - missing file name for line:";

bool is_lower_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

bool is_blank(char c) { return c == ' ' || c == '\t'; }

const char *skip_blanks(const char *text) {
  while (is_blank(*text)) {
    text++;
  }
  return text;
}

bool has_checked_hash_prefix(const char *token) {
  for (int i = 0; i < OVU_HASH_CHECKED_CHARS; i++) {
    if (!is_lower_hex(token[i])) {
      return false;
    }
  }
  return true;
}

// Two reports: what is wrong and where, then the line itself as it came.
void report_syntax_error(const char *context, const char *what, const char *line) {
  qarn_bounded_string headline;
  headline.append("Syntax error in ").append(context).append(what);
  qarn_diagnostic(headline.text(), QARN_DIAG_MANIFEST, QARN_MODULE_UPDATER);
  qarn_diagnostic(line, QARN_DIAG_MANIFEST, QARN_MODULE_UPDATER);
}

ovu_manifest_entry *make_entry(const char *hash, int32_t size, const char *name) {
  ovu_manifest_entry *entry = ovu_new_manifest_entry();
  if (entry == nullptr) {
    return nullptr;
  }
  entry->hash = qarn_strdup(hash);
  entry->name = qarn_strdup(name);
  entry->size = size;
  if (entry->hash == nullptr || entry->name == nullptr) {
    ovu_free_manifest_entry(entry);
    return nullptr;
  }
  return entry;
}

void report_out_of_memory() {
  qarn_diagnostic("Error in parse_manifest_line(), out of memory.", QARN_DIAG_RESOURCE, QARN_MODULE_UPDATER);
}

}  // namespace

ovu_manifest_entry *ovu_new_manifest_entry() {
  return static_cast<ovu_manifest_entry *>(std::calloc(1, sizeof(ovu_manifest_entry)));
}

void ovu_free_manifest_entry(ovu_manifest_entry *entry) {
  if (entry == nullptr) {
    return;
  }
  qarn_free_text(&entry->name);
  qarn_free_text(&entry->hash);
  std::free(entry);
}

void ovu_free_manifest_list(ovu_manifest_entry **head) {
  ovu_manifest_entry *entry = *head;
  while (entry != nullptr) {
    ovu_manifest_entry *next = entry->next;
    ovu_free_manifest_entry(entry);
    entry = next;
  }
  *head = nullptr;
}

int parse_manifest_line(const char *context, const char *line, ovu_manifest_entry **out) {
  *out = nullptr;
  const char *hash = skip_blanks(line);
  if (*hash == '\0' || *hash == '#') {
    return 1;
  }
  if (!has_checked_hash_prefix(hash)) {
    report_syntax_error(context, HASH_ERROR, line);
    return 0;
  }
  qarn_bounded_string hash_token;
  hash_token.append_word(hash);
  const char *size_token = next_arg(hash);
  int32_t size = 0;
  if (size_token == nullptr || !parse_int(size_token, &size)) {
    report_syntax_error(context, SIZE_ERROR, line);
    return 0;
  }
  const char *name = next_arg(size_token);
  if (name == nullptr) {
    report_syntax_error(context, NAME_ERROR, line);
    return 0;
  }
  *out = make_entry(hash_token.text(), size, name);
  if (*out == nullptr) {
    report_out_of_memory();
    return 0;
  }
  return 1;
}
