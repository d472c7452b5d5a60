#include "updater/exclude_list.h"

#include <cstdio>

#include "support/diagnostics.h"
#include "support/file_system.h"
#include "support/text_scan.h"

namespace {

const char *skip_blanks(const char *text) {
  while (*text == ' ' || *text == '\t') {
    text++;
  }
  return text;
}

ovu_manifest_entry **list_end(ovu_manifest_entry **list) {
  while (*list != nullptr) {
    list = &(*list)->next;
  }
  return list;
}

}  // namespace

int32_t load_exclude_file(ovu_manifest_entry **list, const char *path) {
  FILE *file = qarn_fopen(path, "rb");
  if (file == nullptr) {
    return -1;
  }
  ovu_manifest_entry **end = list_end(list);
  int32_t count = 0;
  char line[OVU_MANIFEST_LINE_BUFFER_LEN];
  qarn_line_reader lines(file);
  while (lines.next_line(line, sizeof(line)) > 0) {
    const char *name = skip_blanks(line);
    if (*name == '\0' || *name == '#') {
      continue;
    }
    ovu_manifest_entry *entry = ovu_new_manifest_entry();
    if (entry != nullptr) {
      entry->name = qarn_strdup(name);
    }
    if (entry == nullptr || entry->name == nullptr) {
      ovu_free_manifest_entry(entry);
      qarn_diagnostic("Error in load_exclude_file(), out of memory.", QARN_DIAG_RESOURCE, QARN_MODULE_UPDATER);
      break;
    }
    *end = entry;
    end = &entry->next;
    count++;
  }
  qarn_fclose(file);
  return count;
}
