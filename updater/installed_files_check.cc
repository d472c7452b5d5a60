#include "updater/installed_files_check.h"

#include <cstring>
#include <system_error>
#include <thread>

#include "platform/processors.h"
#include "support/bounded_string.h"
#include "support/file_status_walker.h"

namespace {

// Whether the path of |entry| fits a bounded string. One that would be cut
// is made all the same, so that the diagnostics say so, as every full
// string does.
bool path_fits(const char *base_path, size_t base_len, const ovu_manifest_entry *entry) {
  size_t path_len = base_len + (base_len > 0 ? 1 : 0) + std::strlen(entry->name);
  if (path_len < static_cast<size_t>(QARN_BOUNDED_STRING_CAPACITY)) {
    return true;
  }
  qarn_bounded_string path;
  if (base_len > 0) {
    path.append(base_path).append("/");
  }
  path.append(entry->name);
  return !path.is_full();
}

// Checks |count| entries from |first| on the calling thread.
void check_in_order(const char *base_path, const ovu_manifest_entry *first, int32_t count, unsigned char *matches) {
  size_t base_len = std::strlen(base_path);
  qarn_file_status_walker files(base_path);
  const ovu_manifest_entry *entry = first;
  for (int32_t i = 0; i < count; i++, entry = entry->next) {
    qarn_file_info info;
    matches[i] = path_fits(base_path, base_len, entry) && files.get_file_info(entry->name, &info) &&
                         info.is_regular_file && info.size == entry->size
                     ? 1
                     : 0;
  }
}

}  // namespace

void ovu_check_installed_files(const char *base_path, const ovu_manifest_entry *first, int32_t count,
                               unsigned char *matches) {
  if (count < OVU_SHARED_CHECK_MIN_ENTRIES || platform_processor_count() < 2) {
    check_in_order(base_path, first, count, matches);
    return;
  }
  int32_t half = count / 2;
  const ovu_manifest_entry *second_half = first;
  for (int32_t i = 0; i < half; i++) {
    second_half = second_half->next;
  }
  std::thread helper;
  // The standard library reports a thread it could not create only by
  // throwing; this thread then checks the second half too.
  try {
    helper = std::thread(check_in_order, base_path, second_half, count - half, matches + half);
  } catch (const std::system_error &) {
    check_in_order(base_path, first, count, matches);
    return;
  }
  check_in_order(base_path, first, half, matches);
  helper.join();
}
