#include "updater/manifest_entry.h"

#include <cstdlib>
#include <cstring>

#include "support/bounded_string.h"
#include "support/diagnostics.h"
#include "support/file_size_limit.h"
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

// Words end at a NUL, a space, a tab or a line feed.
const char *word_end(const char *text) {
  while (*text != '\0' && *text != ' ' && *text != '\t' && *text != '\n') {
    text++;
  }
  return text;
}

const char *skip_separators(const char *text) {
  while (*text == ' ' || *text == '\t' || *text == '\n') {
    text++;
  }
  return text;
}

// Copies the hash token: a bounded string's worth of it. A longer one is
// cut, and reported the way a bounded string reports what it lost.
char *copy_hash_token(const char *hash, const char *hash_end) {
  size_t length = static_cast<size_t>(hash_end - hash);
  if (length >= static_cast<size_t>(QARN_BOUNDED_STRING_CAPACITY)) {
    qarn_bounded_string cut;
    cut.append_word(hash);
    return qarn_strdup(cut.text());
  }
  char *copy = static_cast<char *>(std::malloc(length + 1));
  if (copy != nullptr) {
    std::memcpy(copy, hash, length);
    copy[length] = '\0';
  }
  return copy;
}

// copy_hash_token's cut, into |arena|.
char *copy_hash_token_into(qarn_memory_arena &arena, const char *hash, size_t length) {
  if (length >= static_cast<size_t>(QARN_BOUNDED_STRING_CAPACITY)) {
    qarn_bounded_string cut;
    cut.append_word(hash);
    return arena.copy_text(cut.text(), std::strlen(cut.text()));
  }
  return arena.copy_text(hash, length);
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Reads a size token: an optional sign, then at least one digit; its first
// digits count. A size below 0 or above the largest file cannot be a file's,
// so the line is refused as any other malformed line; the magnitude stops
// growing past the largest file, so that no number of digits overflows it.
bool parse_size(const char *token, int64_t *size) {
  bool negative = token[0] == '-';
  const char *digits = (token[0] == '-' || token[0] == '+') ? token + 1 : token;
  if (!is_digit(*digits)) {
    return false;
  }
  int64_t magnitude = 0;
  for (; is_digit(*digits); digits++) {
    if (magnitude <= QARN_LARGEST_FILE_SIZE) {
      magnitude = magnitude * 10 + (*digits - '0');
    }
  }
  if ((negative && magnitude > 0) || magnitude > QARN_LARGEST_FILE_SIZE) {
    return false;
  }
  *size = magnitude;
  return true;
}

ovu_manifest_entry *make_entry(const char *hash, const char *hash_end, int64_t size, const char *name) {
  ovu_manifest_entry *entry = ovu_new_manifest_entry();
  if (entry == nullptr) {
    return nullptr;
  }
  entry->hash = copy_hash_token(hash, hash_end);
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

ovu_manifest_line_kind ovu_scan_manifest_line(const char *context, const char *line,
                                              ovu_manifest_line_fields *fields) {
  const char *hash = skip_blanks(line);
  if (*hash == '\0' || *hash == '#') {
    return OVU_MANIFEST_LINE_COMMENT;
  }
  if (!has_checked_hash_prefix(hash)) {
    report_syntax_error(context, HASH_ERROR, line);
    return OVU_MANIFEST_LINE_MALFORMED;
  }
  // The size and the name are the words after the hash, as next_arg finds
  // them; the scans start where the previous word ended.
  const char *hash_end = word_end(hash);
  const char *size_token = skip_separators(hash_end);
  int64_t size = 0;
  if (*size_token == '\0' || !parse_size(size_token, &size)) {
    report_syntax_error(context, SIZE_ERROR, line);
    return OVU_MANIFEST_LINE_MALFORMED;
  }
  const char *name = skip_separators(word_end(size_token));
  if (*name == '\0') {
    report_syntax_error(context, NAME_ERROR, line);
    return OVU_MANIFEST_LINE_MALFORMED;
  }
  fields->hash = hash;
  fields->hash_len = static_cast<size_t>(hash_end - hash);
  fields->size = size;
  fields->name = name;
  return OVU_MANIFEST_LINE_ENTRY;
}

ovu_manifest_entry *ovu_make_arena_entry(qarn_memory_arena &arena, const ovu_manifest_line_fields &fields) {
  ovu_manifest_entry *entry = arena.make<ovu_manifest_entry>();
  if (entry != nullptr) {
    entry->hash = copy_hash_token_into(arena, fields.hash, fields.hash_len);
    entry->name = arena.copy_text(fields.name, std::strlen(fields.name));
    entry->size = fields.size;
  }
  if (entry == nullptr || entry->hash == nullptr || entry->name == nullptr) {
    report_out_of_memory();
    return nullptr;
  }
  return entry;
}

int parse_manifest_line(const char *context, const char *line, ovu_manifest_entry **out) {
  *out = nullptr;
  ovu_manifest_line_fields fields;
  switch (ovu_scan_manifest_line(context, line, &fields)) {
    case OVU_MANIFEST_LINE_COMMENT:
      return 1;
    case OVU_MANIFEST_LINE_MALFORMED:
      return 0;
    case OVU_MANIFEST_LINE_ENTRY:
      break;
  }
  *out = make_entry(fields.hash, fields.hash + fields.hash_len, fields.size, fields.name);
  if (*out == nullptr) {
    report_out_of_memory();
    return 0;
  }
  return 1;
}
