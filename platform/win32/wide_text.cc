#include "platform/win32/wide_text.h"

#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <cwchar>

wchar_t *win32_wide_copy(const char *utf8) {
  if (utf8 == nullptr) {
    errno = EFAULT;
    return nullptr;
  }
  // The first call only measures (terminator included, as the length -1
  // asks); MB_ERR_INVALID_CHARS makes bad UTF-8 fail instead of becoming
  // replacement characters.
  int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, nullptr, 0);
  if (units <= 0) {
    errno = EILSEQ;
    return nullptr;
  }
  if (static_cast<size_t>(units) > WIN32_WIDE_TEXT_MAX_UNITS) {
    errno = ENAMETOOLONG;
    return nullptr;
  }
  wchar_t *text = static_cast<wchar_t *>(std::malloc(sizeof(wchar_t) * static_cast<size_t>(units)));
  if (text == nullptr) {
    errno = ENOMEM;
    return nullptr;
  }
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, text, units) != units) {
    std::free(text);
    errno = EILSEQ;
    return nullptr;
  }
  return text;
}

win32_wide_text::~win32_wide_text() { std::free(text_); }

char *win32_utf8_copy(const wchar_t *wide) {
  if (wide == nullptr || std::wcslen(wide) >= WIN32_WIDE_TEXT_MAX_UNITS) {
    return nullptr;
  }
  int bytes = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) {
    return nullptr;
  }
  char *text = static_cast<char *>(std::malloc(static_cast<size_t>(bytes)));
  if (text == nullptr) {
    return nullptr;
  }
  if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, -1, text, bytes, nullptr, nullptr) != bytes) {
    std::free(text);
    return nullptr;
  }
  return text;
}
