#include "support/disk_flush.h"

#include "platform/file_sync.h"
#include "platform/file_system.h"
#include "support/file_system.h"

namespace {

int flush_new_file_on_the_system(const char *path) {
  if (platform_can_flush_file_systems()) {
    return 0;
  }
  // For writing: Windows flushes a file only through a handle that may
  // write it. The file's data is flushed whichever handle wrote it.
  FILE *file = qarn_fopen(path, "r+b");
  if (file == nullptr) {
    return -1;
  }
  int flushed = platform_flush_file_to_disk(file);
  int closed = qarn_fclose(file);
  return flushed == 0 && closed == 0 ? 0 : -1;
}

int flush_new_files_on_the_system(const char *path) {
  if (!platform_can_flush_file_systems()) {
    return 0;
  }
  return platform_flush_file_system(path);
}

const qarn_disk_flush_calls SYSTEM_CALLS = {platform_flush_file_to_disk, flush_new_file_on_the_system,
                                            flush_new_files_on_the_system};

qarn_disk_flush_calls g_calls = SYSTEM_CALLS;

}  // namespace

int qarn_flush_to_disk(FILE *file) { return g_calls.flush_to_disk(file); }

int qarn_flush_new_file(const char *path) { return g_calls.flush_new_file(path); }

int qarn_flush_new_files(const char *path) { return g_calls.flush_new_files(path); }

void qarn_set_disk_flush_calls(const qarn_disk_flush_calls *calls) {
  g_calls = SYSTEM_CALLS;
  if (calls == nullptr) {
    return;
  }
  if (calls->flush_to_disk != nullptr) {
    g_calls.flush_to_disk = calls->flush_to_disk;
  }
  if (calls->flush_new_file != nullptr) {
    g_calls.flush_new_file = calls->flush_new_file;
  }
  if (calls->flush_new_files != nullptr) {
    g_calls.flush_new_files = calls->flush_new_files;
  }
}
