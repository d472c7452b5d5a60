// Text between the system's two encodings on Windows: everything above the
// platform layer holds UTF-8 (names come that way from the publisher), and
// the wide Windows calls take UTF-16. The conversions are strict: text that
// is not valid in its encoding is refused, never turned into some other
// text, so a damaged name can never open or replace another file.
#ifndef TORVANE_PLATFORM_WIN32_WIDE_TEXT_H
#define TORVANE_PLATFORM_WIN32_WIDE_TEXT_H

#include <cstddef>

// The longest text converted, in UTF-16 units with the terminator: the
// longest path that the wide file calls take.
constexpr size_t WIN32_WIDE_TEXT_MAX_UNITS = 32768;

// win32_wide_copy returns the UTF-16 form of the UTF-8 text |utf8|, which
// the caller frees with free(); null when the conversion failed, and then
// errno says why: EFAULT for a null text, EILSEQ for one that is not valid
// UTF-8, ENAMETOOLONG past WIN32_WIDE_TEXT_MAX_UNITS, ENOMEM when no memory
// was left.
wchar_t *win32_wide_copy(const char *utf8);

// win32_wide_text holds the UTF-16 form of one UTF-8 text for the life of
// the object.
class win32_wide_text {
 public:
  // Converts |utf8| (borrowed; may be null) with win32_wide_copy.
  explicit win32_wide_text(const char *utf8) : text_(win32_wide_copy(utf8)) {}
  ~win32_wide_text();
  win32_wide_text(const win32_wide_text &) = delete;
  win32_wide_text &operator=(const win32_wide_text &) = delete;

  // text returns the UTF-16 text, owned by this object; null when the
  // conversion failed, and then errno says why.
  const wchar_t *text() const { return text_; }

 private:
  wchar_t *text_;  // owned, from malloc; null when the conversion failed
};

// win32_utf8_copy returns a UTF-8 copy of the UTF-16 text |wide|, which the
// caller frees with free(); null for a null text, one holding a lone
// surrogate, one longer than WIN32_WIDE_TEXT_MAX_UNITS, or no memory.
char *win32_utf8_copy(const wchar_t *wide);

#endif
