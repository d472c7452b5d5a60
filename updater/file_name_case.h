// File names as Windows compares them. Its file systems find a file by its
// name with every UTF-16 unit upper-cased through a table that follows
// Unicode's simple upper-case mapping, and its calls read "\" as "/"; two
// names equal in that sense are one file there, however their bytes differ.
// The names are UTF-8, as the publisher writes them.
#ifndef TORVANE_UPDATER_FILE_NAME_CASE_H
#define TORVANE_UPDATER_FILE_NAME_CASE_H

#include <cstddef>
#include <cstdint>

#include "support/bounded_string.h"

// A byte that does not begin a whole UTF-8 character reads as itself plus
// this, beyond every character: equal only to the same byte.
constexpr uint32_t OVU_NOT_A_CHARACTER = 0x110000;

// ovu_next_name_char reads the character at |*cursor|, moves |*cursor| past
// it and returns it as Windows compares it: upper-cased, with "\" read as
// "/". At the terminating NUL it returns 0 and leaves |*cursor| there.
uint32_t ovu_next_name_char(const char **cursor);

// ovu_compare_names_ignoring_case orders two names by the characters that
// ovu_next_name_char reads: below 0, 0 (one file on Windows) or above 0.
int ovu_compare_names_ignoring_case(const char *a, const char *b);

// ovu_equal_ignoring_case tells whether the |length| bytes at |text| read
// as the NUL-terminated |word|, ignoring case.
bool ovu_equal_ignoring_case(const char *text, size_t length, const char *word);

// ovu_name_case_hash returns a hash of what ovu_next_name_char reads from
// |name|: names that compare equal have equal hashes.
uint32_t ovu_name_case_hash(const char *name);

// ovu_append_comparison_key appends to |out| the text of what
// ovu_next_name_char reads from |name|: upper-cased characters in UTF-8,
// "/" for "\", and bytes that begin no whole character as they are. Two
// names compare equal exactly when their keys are equal byte for byte.
void ovu_append_comparison_key(qarn_bounded_string_base &out, const char *name);

// ovu_comparison_key_room returns the characters that the key of a name of
// |name_len| bytes may need: a few two-byte letters have three-byte
// capitals, so a key may be half as long again as its name.
constexpr size_t ovu_comparison_key_room(size_t name_len) { return name_len + name_len / 2; }

// ovu_is_utf8 tells whether |text| is valid UTF-8: no stray or missing
// continuation bytes, no overlong forms, no surrogates, nothing beyond
// U+10FFFF. Windows cannot turn any other text into a name.
bool ovu_is_utf8(const char *text);

#endif
