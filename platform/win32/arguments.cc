// The arguments from the wide command line, which holds every name as it
// is, split by the shell's rules.
#include "platform/arguments.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdlib>

#include "platform/win32/wide_text.h"

namespace {

// Frees the first |count| texts of |texts| and the array itself.
void free_texts(char **texts, int count) {
  for (int i = 0; i < count; i++) {
    std::free(texts[i]);
  }
  std::free(texts);
}

// The UTF-8 copy of the |count| texts of |wide|, null-terminated; null when
// one of them cannot be converted or no memory is left.
char **utf8_copies(wchar_t **wide, int count) {
  char **texts = static_cast<char **>(std::calloc(static_cast<size_t>(count) + 1, sizeof(char *)));
  if (texts == nullptr) {
    return nullptr;
  }
  for (int i = 0; i < count; i++) {
    texts[i] = win32_utf8_copy(wide[i]);
    if (texts[i] == nullptr) {
      free_texts(texts, i);
      return nullptr;
    }
  }
  return texts;
}

}  // namespace

char **platform_utf8_arguments(int argc, char **argv) {
  int count = 0;
  wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) {
    return argv;
  }
  char **texts = count == argc ? utf8_copies(wide, count) : nullptr;
  LocalFree(wide);
  // The copy is the program's argument vector from here on: it lives, like
  // argv, until the process ends.
  return texts != nullptr ? texts : argv;
}
