// Text scanners and small text helpers. Words are separated by space, tab
// and line feed only (a carriage return is an ordinary character); case
// folding covers A to Z only; comparisons stop after 400 characters.
#ifndef TORVANE_SUPPORT_TEXT_SCAN_H
#define TORVANE_SUPPORT_TEXT_SCAN_H

#include <cstdint>

// Longest word the case-insensitive comparisons look at.
constexpr int QARN_WORD_COMPARE_LIMIT = 400;

// safe_strcpy copies |source| with its terminator into |destination| of
// |destination_size| bytes. Returns 1 if it all fitted, else 0 after a
// report; |destination| then holds a terminated prefix (or is empty).
int safe_strcpy(char *destination, const char *source, int32_t destination_size);

// next_arg returns the start of the word after the first word of |text|, or
// null when there is none (and for a null text, after a report).
const char *next_arg(const char *text);

// last_arg returns the start of the last word of |text|; a text with at most
// one word gives |text| itself. Null for a null text, after a report.
const char *last_arg(const char *text);

// word_prefix_match_nocase returns the length of the first word of |word|
// (1..399) if |text| begins with it, ignoring case; else 0.
int word_prefix_match_nocase(const char *word, const char *text);

// word_equal_nocase returns 1 if the first words of |a| and |b| are equal,
// ignoring case; else 0.
int word_equal_nocase(const char *a, const char *b);

// word_in_list_nocase returns 1 if the first word of |word| is one of the
// words of |list|; else 0.
int word_in_list_nocase(const char *word, const char *list);

// parse_int returns 1 and stores the value through |result| (if given) when
// |text| begins with an optionally signed decimal number; out-of-range
// values saturate. Returns 0 and stores nothing otherwise.
int parse_int(const char *text, int32_t *result);

// qarn_strdup returns a malloc'ed copy of |text|, or null for a null text or
// when memory is exhausted. The caller frees it with qarn_free_text.
char *qarn_strdup(const char *text);

// qarn_free_text frees |*text| and sets it to null; null does nothing.
void qarn_free_text(char **text);

#endif
