// The updater's settings, the loading of the two local lists, and the run
// with its plan. The installation of the plan is in file_installation.cc.
#include "updater/updater.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "platform/file_system.h"
#include "support/bounded_string.h"
#include "support/diagnostics.h"
#include "support/file_system.h"
#include "support/held_reports.h"
#include "support/text_scan.h"
#include "updater/exclude_list.h"
#include "updater/file_name_safety.h"
#include "updater/name_screen.h"
#include "updater/remote_manifest_fetch.h"

namespace {

// Replaces |*field| by a copy of |text|; 1 when the copy exists.
int store_text(char **field, const char *text) {
  qarn_free_text(field);
  *field = qarn_strdup(text);
  return *field != nullptr;
}

// The fetcher's progress goes on to the owner's file progress callback.
void forward_fetch_progress(void *data, int64_t received, int64_t total) {
  ovu_updater &updater = *static_cast<ovu_updater *>(data);
  if (updater.file_progress_callback != nullptr) {
    updater.file_progress_callback(updater.callback_data, received, total);
  }
}

}  // namespace

ovu_updater::ovu_updater() { std::memset(&stats, 0, sizeof(stats)); }

ovu_updater::~ovu_updater() {
  qarn_free_text(&manifest_file_name);
  qarn_free_text(&temporary_file_name);
  qarn_free_text(&destination_path);
  manifest.clear();
  ovu_free_manifest_list(&exclude_list);
}

void ovu_updater::say(const char *text) const {
  // A download ahead of its turn (download_pipeline.h) holds its messages
  // for the turn, when the installing thread shows them.
  if (qarn_held_reports *held = qarn_reports_holder()) {
    held->add_line(OVU_HELD_MESSAGE, 0, 0, text);
    return;
  }
  if (message_callback != nullptr) {
    message_callback(callback_data, text);
  }
}

void ovu_updater::say_verbose(const char *text) const {
  if (verbose) {
    say(text);
  }
}

int ovu_updater::set_destination_path(const char *path) {
  if (!store_text(&destination_path, path)) {
    return 0;
  }
  return qarn_create_and_check_writeable_directory(destination_path, QARN_DIRECTORY_MODE, nullptr);
}

int ovu_updater::set_temporary_file(const char *path) {
  if (!store_text(&temporary_file_name, path)) {
    return 0;
  }
  return prepare_temporary_file();
}

// Creates the temporary file's directories and the file itself, empty.
int ovu_updater::prepare_temporary_file() const {
  if (!qarn_recursive_mkdir(temporary_file_name, QARN_DIRECTORY_MODE, nullptr)) {
    return 0;
  }
  FILE *file = qarn_fopen(temporary_file_name, "wb");
  if (file == nullptr) {
    return 0;
  }
  return qarn_fclose(file) == 0;
}

int ovu_updater::load_manifest(const char *path) {
  store_text(&manifest_file_name, path);
  int32_t count = manifest.load_file(path);
  if (count < 0) {
    return 0;
  }
  qarn_bounded_string message;
  message.append_format("Loaded %d entries from current manifest file '", static_cast<int>(count));
  message.append(path).append("'.");
  say_verbose(message.text());
  if (count > OVU_MANY_ENTRIES) {
    message.clear();
    message.append_format("Checking %d files for updates...", static_cast<int>(count));
    say(message.text());
  }
  stats.local_manifest_initial_entry_count = count;
  int32_t kept = manifest.prune_missing(destination_path);
  if (kept != count) {
    message.clear();
    message.append_format("Some files were deleted.  Only %d entries remain.", static_cast<int>(kept));
    say_verbose(message.text());
  }
  // An earlier launcher may have recorded one file under two spellings;
  // neither record can be trusted.
  int32_t collided = manifest.forget_case_collisions();
  if (collided > 0) {
    kept -= collided;
    message.clear();
    message.append_format("%d entries recorded files under a second spelling.  Only %d entries remain.",
                          static_cast<int>(collided), static_cast<int>(kept));
    say_verbose(message.text());
  }
  stats.local_manifest_pruned_entry_count = kept;
  return 1;
}

int ovu_updater::load_exclude_manifest(const char *path) {
  int32_t count = load_exclude_file(&exclude_list, path);
  if (count < 0) {
    return 0;
  }
  qarn_bounded_string message;
  message.append_format("Loaded %d entries from current exclude manifest file '", static_cast<int>(count));
  message.append(path).append("'.");
  say_verbose(message.text());
  return 1;
}

int ovu_updater::run(const char *host, const char *root_path, const char *manifest_name) {
  if (manifest_file_name == nullptr) {
    say("No manifest filename set.");
    return OVU_UPDATE_NO_MANIFEST_FILE;
  }
  if (temporary_file_name == nullptr) {
    say("No temporary download filename set.");
    return OVU_UPDATE_NO_TEMPORARY_FILE;
  }
  if (destination_path == nullptr) {
    say("No destination path set to store downloaded files.");
    return OVU_UPDATE_NO_DESTINATION;
  }
  qarn_bounded_string request_path;
  request_path.append(root_path).append("/").append(manifest_name);
  http_fetch_remote_manifest_data fetcher;
  fetcher.progress_data = this;
  fetcher.progress_forward = forward_fetch_progress;
  fetcher.deadline_ms = manifest_deadline_ms;
  // With a release key, no entry is built before the manifest's signature
  // is checked; the fetcher frees the entries with itself.
  int fetched = release_key != nullptr ? fetch_signed_release(host, request_path.text(), fetcher)
                                       : fetch_release(host, request_path.text(), fetcher);
  if (!fetched) {
    return OVU_UPDATE_FETCH_FAILED;
  }
  int32_t count = fetcher.entry_count();
  stats.remote_manifest_entry_count = count;
  verify_downloads_ = fetcher.declarations().sha256_tokens != 0;
  qarn_bounded_string message;
  message.append_format("Retrieved %d records from remote server.", static_cast<int>(count));
  say_verbose(message.text());

  qarn_growable_array plan;
  plan.init(sizeof(ovu_manifest_entry *));
  int planned = plan_updates(fetcher.entries(), plan);
  stats.expected_download_file_count = planned;
  int result = OVU_UPDATE_DONE;
  if (planned == 0) {
    say_verbose("Everything appears to be up to date already.");
  } else {
    message.clear();
    if (planned == 1) {
      message.append("One file to update.");
    } else {
      message.append_format("%d files to update.", planned);
    }
    say(message.text());
    result = install_files(host, root_path, plan);
  }
  plan.release();
  return result;
}

// Fetches a release without a release key: its entries are parsed as the
// manifest arrives. Returns 1, or 0 after telling the player.
int ovu_updater::fetch_release(const char *host, const char *manifest_path,
                               http_fetch_remote_manifest_data &fetcher) {
  if (fetcher.fetch(host, manifest_path) < 0) {
    say_fetch_failed(manifest_path);
    return 0;
  }
  return 1;
}

void ovu_updater::say_fetch_failed(const char *manifest_path) const {
  qarn_bounded_string message;
  message.append("Error fetching update file '").append(manifest_path);
  message.append("' from remote server, aborting update.");
  say(message.text());
}

// Appends every remote entry that must be downloaded to |plan|, in manifest
// order. Returns the number planned.
int ovu_updater::plan_updates(const ovu_manifest_entry *remote, qarn_growable_array &plan) {
  ovu_name_screen screen(platform_has_windows_file_names() ? OVU_NAME_RULES_WINDOWS : OVU_NAME_RULES_EVERYWHERE);
  if (!screen.examine(remote)) {
    qarn_diagnostic("Error in ovu_updater::run(), out of memory for the name checks.", QARN_DIAG_RESOURCE,
                    QARN_MODULE_UPDATER);
    return 0;
  }
  qarn_bounded_string message;
  for (; remote != nullptr; remote = remote->next) {
    // A name from the server is joined to the destination directory: one
    // that could reach outside it, name a device or the launcher's own
    // files, or that the local manifest could not keep, is never planned.
    if (screen.refuses(remote, message)) {
      say(message.text());
      continue;
    }
    if (is_excluded(remote)) {
      message.assign("Skipping file '").append(remote->name).append("'.");
      say(message.text());
      stats.exclude_manifest_file_count++;
      continue;
    }
    if (!file_needs_update(remote)) {
      continue;
    }
    if (filter_callback != nullptr && !filter_callback(remote->name)) {
      continue;
    }
    if (!plan.append(&remote)) {
      qarn_diagnostic("Error in ovu_updater::run(), out of memory for the update plan.", QARN_DIAG_RESOURCE,
                      QARN_MODULE_UPDATER);
      break;
    }
  }
  return plan.count;
}

int ovu_updater::file_needs_update(const ovu_manifest_entry *remote) {
  const ovu_manifest_entry *local = manifest.find(remote->name);
  if (local == nullptr) {
    qarn_bounded_string message;
    message.append("File '").append(remote->name).append("' missing, should update.");
    say_verbose(message.text());
    return 1;
  }
  if (local->size == remote->size && local->hash != nullptr && remote->hash != nullptr &&
      std::strcmp(local->hash, remote->hash) == 0) {
    return 0;
  }
  if (verbose) {
    qarn_bounded_string message;
    message.append_format("Expected %8" PRId64 ", ", remote->size).append(remote->hash);
    say(message.text());
    message.clear();
    message.append_format("Previous %8" PRId64 ", ", local->size).append(local->hash);
    message.append(" - file '").append(remote->name).append("'");
    say(message.text());
  }
  return 1;
}

int ovu_updater::is_excluded(const ovu_manifest_entry *remote) const {
  for (const ovu_manifest_entry *excluded = exclude_list; excluded != nullptr; excluded = excluded->next) {
    if (excluded->name != nullptr && remote->name != nullptr && std::strcmp(excluded->name, remote->name) == 0) {
      return 1;
    }
  }
  return 0;
}
