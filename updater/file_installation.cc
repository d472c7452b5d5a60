// Installation of the update plan: download each file into a temporary
// file, remove the old version, rename the new one into place, record it in
// the local manifest; statistics, progress and the timed manifest saves.
// The files are downloaded one after the other here, or ahead of their turn
// by the helpers of a download pipeline; installed, they are one after the
// other here, in the plan's order, either way.
//
// Crash safety rests on the order of these steps: the old version is
// removed only after its replacement arrived whole, a file is recorded only
// once it is in place and its bytes are on the disk, and the manifest is
// replaced in one step. A process ended, or a machine stopped, at any
// moment leaves files that the next run either keeps (recorded with the
// published size and hash) or downloads again.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "http/http_downloader.h"
#include "support/bounded_string.h"
#include "support/clock.h"
#include "support/disk_flush.h"
#include "support/file_system.h"
#include "support/hex_text.h"
#include "support/process_control.h"
#include "support/sha256.h"
#include "updater/release_declarations.h"
#include "updater/remote_manifest_fetch.h"
#include "updater/updater.h"

namespace {

ovu_updater &updater_of(void *data) { return *static_cast<ovu_updater *>(data); }

void append_target_path(qarn_bounded_string_base &target, const char *destination_path, const char *name) {
  if (destination_path[0] != '\0') {
    target.append(destination_path).append("/");
  }
  target.append(name);
}

// The directory of the file |path|: "." for a bare name.
void append_directory_of(qarn_bounded_string_base &directory, const char *path) {
  const char *last_separator = nullptr;
  for (const char *c = path; *c != '\0'; c++) {
    if (*c == '/' || *c == '\\') {
      last_separator = c;
    }
  }
  if (last_separator == nullptr) {
    directory.append(".");
  } else if (last_separator == path) {
    directory.append("/");
  } else {
    directory.append_bytes(path, static_cast<int32_t>(last_separator - path));
  }
}

// Flushes the files put in place through |temporary_file_name| (null when
// none was). Returns 1 when their bytes are on the disk, else 0.
int flush_installed_files(const char *temporary_file_name) {
  if (temporary_file_name == nullptr) {
    return 1;
  }
  qarn_bounded_string directory;
  append_directory_of(directory, temporary_file_name);
  return !directory.is_full() && qarn_flush_new_files(directory.text()) == 0 ? 1 : 0;
}

void append_request_path(qarn_bounded_string_base &request, const char *root_path, const char *name) {
  request.append(root_path);
  if (name[0] != '/') {
    request.append("/");
  }
  request.append(name);
}

// The plan's files fetched in their turn on the installing thread, one
// after the other over one connection while the server keeps it open.
class fetch_in_turn : public ovu_file_fetch {
 public:
  fetch_in_turn(ovu_updater &updater, const char *host, const char *root_path)
      : updater_(updater), host_(host), root_path_(root_path) {
    downloader_.keep_connection = 1;
    downloader_.progress_callback = ovu_updater::on_file_progress;
    downloader_.callback_context = &updater;
  }
  int fetch(int32_t, const ovu_manifest_entry *entry, const char **file_name) override {
    *file_name = updater_.temporary_file_name;
    return updater_.download_entry(downloader_, host_, root_path_, entry, updater_.temporary_file_name);
  }
  void skip(int32_t) override {}
  void done(int32_t) override {}
  void stop_before_exit() override {}

 private:
  ovu_updater &updater_;
  const char *host_;
  const char *root_path_;
  qarn_http_downloader downloader_;
};

int32_t clamped_parallel_downloads(int32_t wanted) {
  if (wanted < 1) {
    return 1;
  }
  return wanted > OVU_MAX_PARALLEL_DOWNLOADS ? OVU_MAX_PARALLEL_DOWNLOADS : wanted;
}

}  // namespace

int ovu_updater::install_files(const char *host, const char *root_path, const qarn_growable_array &plan) {
  if (temporary_file_name == nullptr) {
    say("No temporary download filename set.");
    return OVU_UPDATE_NO_TEMPORARY_FILE;
  }
  if (!prepare_temporary_file()) {
    say("Temporary file unwriteable.");
    return OVU_UPDATE_NOT_WRITABLE;
  }
  if (destination_path == nullptr) {
    say("No destination path set to store downloaded files.");
    return OVU_UPDATE_NO_DESTINATION;
  }
  if (!qarn_create_and_check_writeable_directory(destination_path, QARN_DIRECTORY_MODE, nullptr)) {
    say("Download base path appears to be unwriteable.");
    return OVU_UPDATE_NOT_WRITABLE;
  }
  for (int32_t i = 0; i < plan.count; i++) {
    const ovu_manifest_entry *entry = *static_cast<const ovu_manifest_entry *const *>(plan.at(i));
    stats.expected_download_byte_count += entry->size;
  }
  stats.expected_download_file_count = plan.count;
  // The manifest stops vouching for the old version of every planned file
  // before any of them is replaced. Otherwise a process ended between a
  // rename and the next save would leave the new bytes recorded as the old
  // version, which a server that goes back to that release would never
  // repair.
  if (manifest.forget_entries(plan) > 0) {
    save_manifest_or_exit();
  }
  last_save_time = qarn_clock_seconds();
  manifest_dirty = 0;
  partials_.prepare(temporary_file_name, plan, verify_downloads_);
  int32_t helpers = clamped_parallel_downloads(parallel_downloads);
  if (helpers > plan.count) {
    helpers = plan.count;
  }
  bool fetched_ahead = false;
  if (helpers > 1) {
    ovu_download_pipeline pipeline(*this, host, root_path, plan);
    if (pipeline.start(helpers) > 0) {
      install_planned(pipeline, plan);
      fetched_ahead = true;
    }
  }
  if (!fetched_ahead) {
    fetch_in_turn one_by_one(*this, host, root_path);
    install_planned(one_by_one, plan);
  }
  if (manifest_dirty) {
    say_verbose("Saving file manifest due to completion.");
    save_manifest_or_exit();
  }
  return OVU_UPDATE_DONE;
}

void ovu_updater::install_planned(ovu_file_fetch &fetch, const qarn_growable_array &plan) {
  fetch_ = &fetch;
  for (int32_t i = 0; i < plan.count; i++) {
    install_one(fetch, i, *static_cast<const ovu_manifest_entry *const *>(plan.at(i)));
    fetch.done(i);
  }
  fetch_ = nullptr;
}

// Puts one planned file in place; every file ends in exactly one of the
// saved, failed-download and failed-save counts.
void ovu_updater::install_one(ovu_file_fetch &fetch, int32_t index, const ovu_manifest_entry *entry) {
  qarn_bounded_string target;
  append_target_path(target, destination_path, entry->name);
  qarn_bounded_string message;
  message.append("Updating file '").append(entry->name).append("'.");
  say_verbose(message.text());
  if (target.is_full() || !qarn_recursive_mkdir(target.text(), QARN_DIRECTORY_MODE, nullptr)) {
    message.assign("Unable to update file '").append(entry->name).append("' - cannot create directory.");
    say(message.text());
    stats.failed_save_file_count++;
    fetch.skip(index);
    return;
  }
  const char *file_name = nullptr;
  int downloaded = fetch.fetch(index, entry, &file_name);
  stats.current_download_byte_count += entry->size;
  message.clear();
  message.append_format("Received %10.0f / %10.0f bytes.", stats.current_download_byte_count,
                        stats.expected_download_byte_count);
  say_verbose(message.text());
  if (!downloaded) {
    message.assign("Unable to update file '").append(entry->name).append("' - download failed.");
    say(message.text());
    stats.failed_download_file_count++;
  } else if (put_in_place(entry, file_name, target.text())) {
    manifest.set_entry(entry);
    stats.successfully_saved_file_count++;
    manifest_dirty = 1;
    stats.saved_bytes += entry->size;
    progress_tick();
  }
  if (pause_ms > 0) {
    qarn_sleep_ms(pause_ms);
  }
}

// Replaces the old version at |target| by the downloaded temporary file
// |source|, whose bytes go to the disk first where the system flushes file
// by file (qarn_flush_new_file); a new version that cannot get there leaves
// the old one in place. Returns 1, or 0 after counting and reporting the
// failed save.
int ovu_updater::put_in_place(const ovu_manifest_entry *entry, const char *source, const char *target) {
  const char *failure = nullptr;
  if (qarn_flush_new_file(source) != 0) {
    failure = "' - cannot write new version.";
  } else if (qarn_remove(target) != 0 && errno != ENOENT) {
    failure = "' - cannot remove old version.";
  } else if (qarn_rename(source, target) != 0) {
    failure = "' - cannot write new version.";
  }
  if (failure == nullptr) {
    return 1;
  }
  qarn_bounded_string message;
  message.append("Unable to update file '").append(entry->name).append(failure);
  say(message.text());
  stats.failed_save_file_count++;
  return 0;
}

// Downloads the file of |entry|; when the release declared SHA-256 tokens,
// the bytes must be the published ones (size and digest), or they never
// replace the installed version.
int ovu_updater::download_entry(qarn_http_downloader &downloader, const char *host, const char *root_path,
                                const ovu_manifest_entry *entry, const char *destination) {
  if (!verify_downloads_) {
    return download_file(downloader, host, root_path, entry->name, destination);
  }
  qarn_bounded_string message;
  unsigned char digest[QARN_SHA256_DIGEST_LEN];
  if (entry->hash == nullptr || std::strlen(entry->hash) != static_cast<size_t>(OVU_SHA256_TOKEN_LEN) ||
      !qarn_hex_decode(entry->hash, QARN_SHA256_DIGEST_LEN, digest)) {
    message.append("File '").append(entry->name).append("' cannot be verified: its hash token is not a SHA-256.");
    say(message.text());
    return 0;
  }
  return download_verified(downloader, host, root_path, entry, digest, destination);
}

int ovu_updater::download_file(qarn_http_downloader &downloader, const char *host, const char *root_path,
                               const char *name, const char *destination, qarn_body_check *check) {
  if (!downloader.set_connection(host, OVU_UPDATE_SERVER_PORT, 0)) {
    return 0;
  }
  downloader.body_check = check;
  qarn_bounded_string request;
  append_request_path(request, root_path, name);
  qarn_bounded_string message;
  message.append("Starting download of file '").append(request.text()).append("'.");
  say_verbose(message.text());
  int downloaded = downloader.download(host, request.text(), destination);
  downloader.body_check = nullptr;  // |check| ends with the caller
  return downloaded;
}

void ovu_updater::on_file_progress(void *data, int64_t received, int64_t total) {
  ovu_updater &self = updater_of(data);
  if (self.file_progress_callback != nullptr) {
    self.file_progress_callback(self.callback_data, received, total);
  }
  if (received == total) {
    self.current_file_bytes = 0;
    return;
  }
  self.current_file_bytes = received;
  self.progress_tick();
}

void ovu_updater::progress_tick() {
  int64_t now = qarn_clock_seconds();
  if (!manifest_dirty) {
    last_save_time = now;
  } else if (now > last_save_time + OVU_MANIFEST_SAVE_INTERVAL_S) {
    say_verbose("Saving file manifest.");
    save_manifest_or_exit();
  }
  stats.downloaded_bytes = stats.current_download_byte_count + current_file_bytes;
  if (overall_progress_callback != nullptr) {
    overall_progress_callback(callback_data, stats.downloaded_bytes + bytes_ahead,
                              stats.expected_download_byte_count);
  }
}

// A manifest that cannot be written would make every later run believe
// files are missing or current when they are not: the process stops here.
// So it does when the files that the save is to record might not be on the
// disk: after a power loss the manifest would vouch for whatever their
// blocks then hold. Every installed file came from the temporary file's
// directory by a rename, which works only within one file system, so
// flushing that directory's file system flushes them all.
void ovu_updater::save_manifest_or_exit() {
  if (manifest_dirty && !flush_installed_files(temporary_file_name)) {
    say("Error - unable to flush the updated files to disk.  Bailing out.");
    exit_unfinished();
  }
  if (!manifest.save_file(manifest_file_name)) {
    say("Error - unable to save manifest file.  Bailing out.");
    exit_unfinished();
  }
  manifest_dirty = 0;
  last_save_time = qarn_clock_seconds();
}

// Ends the process in the middle of an installation; the helpers that
// download ahead, if any, stop first (within a bounded wait).
void ovu_updater::exit_unfinished() {
  if (fetch_ != nullptr) {
    fetch_->stop_before_exit();
  }
  std::exit(OVU_EXIT_MANIFEST_NOT_SAVED);
}
