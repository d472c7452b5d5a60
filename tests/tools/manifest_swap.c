/* Preloaded into torvane-publish by its tests: it plays a process that can
 * write the release directory. Right after the publisher renames a file
 * into place as manifest.lst.z, and before anything else happens, it moves
 * what was put there aside (to manifest.lst.z.as_written) and puts other
 * bytes under the name. A publisher that signs what it wrote signs the
 * aside file; one that reads the manifest back signs the swapped one. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

static const char MANIFEST_NAME[] = "/manifest.lst.z";
static const char ASIDE_SUFFIX[] = ".as_written";
static const char SWAPPED_BYTES[] = "a manifest of someone else's";

typedef int (*rename_function)(const char *from, const char *to);

static int ends_with(const char *text, const char *end) {
  size_t text_len = strlen(text);
  size_t end_len = strlen(end);
  return text_len >= end_len && strcmp(text + text_len - end_len, end) == 0;
}

int rename(const char *from, const char *to) {
  rename_function real_rename = (rename_function)dlsym(RTLD_NEXT, "rename");
  int result = real_rename(from, to);
  if (result != 0 || !ends_with(to, MANIFEST_NAME)) {
    return result;
  }
  char aside[4096];
  if (snprintf(aside, sizeof(aside), "%s%s", to, ASIDE_SUFFIX) >= (int)sizeof(aside) ||
      real_rename(to, aside) != 0) {
    return result;
  }
  FILE *swapped = fopen(to, "wb");
  if (swapped != NULL) {
    fputs(SWAPPED_BYTES, swapped);
    fclose(swapped);
  }
  return result;
}
