// ovu_updater: one update of the installation. It holds the file names and
// the destination directory, the local manifest and the exclude list, the
// callbacks through which it reports to its owner, and the statistics of
// the run. The owner builds one per attempt:
//
//   construct; set verbose, callback_data, the callbacks, pause_ms;
//   set_destination_path; set_temporary_file; load_manifest;
//   load_exclude_manifest; run once; read stats; destroy.
//
// run fetches the remote manifest, plans every file that is new or whose
// size or hash token changed, and installs the plan (file_installation.cc):
// each file is downloaded into a temporary file (by up to parallel_downloads
// helper threads ahead of the installation, each over a connection of its
// own while the server keeps it: download_pipeline.h), the old version
// removed, the new one renamed into place and recorded in the local
// manifest, which is saved at most every 10 seconds while there are changes,
// and at the end. Installation, messages, progress and saves happen on the
// caller's thread, in the plan's order.
#ifndef TORVANE_UPDATER_UPDATER_H
#define TORVANE_UPDATER_UPDATER_H

#include <cstdint>

#include "http/body_check.h"
#include "support/growable_array.h"
#include "updater/file_manifest.h"
#include "updater/release_check.h"
#include "updater/release_signature.h"
#include "updater/remote_manifest_fetch.h"
#include "updater/manifest_entry.h"
#include "updater/partial_downloads.h"
#include "updater/update_stats.h"
#include "updater/download_pipeline.h"
#include "updater/file_fetch.h"

// Results of run and install_files.
enum ovu_update_result : int {
  OVU_UPDATE_DONE = 0,                 // the run reached its end (see the statistics)
  OVU_UPDATE_NO_TEMPORARY_FILE = 1,    // no temporary download file name set
  OVU_UPDATE_NO_DESTINATION = 2,       // no destination path set
  OVU_UPDATE_NO_MANIFEST_FILE = 3,     // no manifest file name set
  OVU_UPDATE_FETCH_FAILED = 4,         // the remote manifest could not be fetched
  OVU_UPDATE_NOT_WRITABLE = 5,         // temporary file or destination not writable
};

// A loaded manifest longer than this gets a message that the check may take
// a while.
constexpr int32_t OVU_MANY_ENTRIES = 100;
// Seconds between saves of a manifest with unsaved changes.
constexpr int64_t OVU_MANIFEST_SAVE_INTERVAL_S = 10;
// Exit code of a process that cannot save its manifest.
constexpr int OVU_EXIT_MANIFEST_NOT_SAVED = 1;
// A remote manifest held until its signature is checked moves, when it is
// long, into the temporary file's name + this.
constexpr char OVU_HELD_MANIFEST_SUFFIX[] = ".manifest";

class qarn_http_downloader;

using ovu_file_progress_function = void (*)(void *data, int64_t received, int64_t total);
using ovu_overall_progress_function = void (*)(void *data, double done, double expected);
using ovu_message_function = void (*)(void *data, const char *text);
using ovu_filter_function = int (*)(const char *name);

class ovu_updater {
 public:
  ovu_updater();
  // Frees the three texts, the manifest and the exclude list.
  ~ovu_updater();
  ovu_updater(const ovu_updater &) = delete;
  ovu_updater &operator=(const ovu_updater &) = delete;

  // set_destination_path keeps a copy of |path| (empty: the current
  // directory) and creates and proves the directory writable. Returns 1 when
  // both worked, else 0; the path stays set either way.
  int set_destination_path(const char *path);
  // set_temporary_file keeps a copy of |path|, creates its directories and
  // creates or empties the file. Returns 1 when all of that worked, else 0;
  // the name stays set either way.
  int set_temporary_file(const char *path);
  // load_manifest reads the local manifest at |path| (and keeps the name for
  // saving), then drops the entries whose files are missing or have another
  // size under the destination path. Returns 1, or 0 when the file could
  // not be read.
  int load_manifest(const char *path);
  // load_exclude_manifest reads the exclude file at |path|. Returns 1, or 0
  // when it cannot be opened (the run then excludes nothing).
  int load_exclude_manifest(const char *path);

  // run fetches |root_path| + "/" + |manifest_name| from |host|, plans and
  // installs. Returns an ovu_update_result. A manifest that cannot be saved
  // ends the process with exit code 1.
  int run(const char *host, const char *root_path, const char *manifest_name);
  // file_needs_update returns 1 when |remote| is missing from the manifest
  // or differs in size or hash token, else 0.
  int file_needs_update(const ovu_manifest_entry *remote);
  // is_excluded returns 1 when an exclude entry has exactly |remote|'s name.
  int is_excluded(const ovu_manifest_entry *remote) const;

  // install_files downloads and installs the |plan| (an array of
  // ovu_manifest_entry pointers, borrowed). Returns OVU_UPDATE_DONE,
  // OVU_UPDATE_NO_TEMPORARY_FILE, OVU_UPDATE_NO_DESTINATION or
  // OVU_UPDATE_NOT_WRITABLE.
  int install_files(const char *host, const char *root_path, const qarn_growable_array &plan);
  // download_file fetches |root_path| + "/" + |name| into the file
  // |destination| with |downloader|, its body judged by |check| when that
  // is not null; progress goes to the downloader's own progress callback.
  // Returns nonzero when the whole file arrived (and passed the check),
  // else 0.
  int download_file(qarn_http_downloader &downloader, const char *host, const char *root_path, const char *name,
                    const char *destination, qarn_body_check *check = nullptr);
  // download_entry downloads the file of |entry| into |destination|; when
  // the release declared SHA-256 hash tokens, the bytes must be the
  // published ones. Returns nonzero when they arrived whole, else 0. It may
  // run on a helper thread that holds its reports (download_pipeline.h):
  // its messages are then held too.
  int download_entry(qarn_http_downloader &downloader, const char *host, const char *root_path,
                     const ovu_manifest_entry *entry, const char *destination);
  // on_file_progress is the downloaders' progress callback; |updater| is
  // the ovu_updater.
  static void on_file_progress(void *updater, int64_t received, int64_t total);
  // progress_tick saves a manifest whose changes are older than the save
  // interval, and reports the overall progress.
  void progress_tick();

  ovu_manifest_entry *exclude_list = nullptr;  // excluded names, owned
  ovu_file_manifest manifest;                  // the local manifest
  char *manifest_file_name = nullptr;          // owned, or null when not set
  char *temporary_file_name = nullptr;         // owned, or null when not set
  char *destination_path = nullptr;            // owned; "" is the current directory
  int manifest_dirty = 0;                      // changes not yet saved
  int64_t last_save_time = 0;                  // seconds clock at the last save or reset
  int verbose = 0;                             // nonzero: send the verbose messages too
  int pause_ms = 0;                            // pause after each file attempt; <= 0: none
  // Downloads in flight at once, 1 .. OVU_MAX_PARALLEL_DOWNLOADS (others
  // are clamped to that range); 1 fetches each file in its turn.
  int parallel_downloads = OVU_DEFAULT_PARALLEL_DOWNLOADS;
  double current_file_bytes = 0;               // received of the file in progress
  // Received of the files downloaded ahead of the one in progress; the
  // overall progress counts them, the statistics do not.
  double bytes_ahead = 0;
  void *callback_data = nullptr;               // first argument of the first three callbacks
  ovu_file_progress_function file_progress_callback = nullptr;
  ovu_overall_progress_function overall_progress_callback = nullptr;
  ovu_message_function message_callback = nullptr;
  ovu_filter_function filter_callback = nullptr;  // nonzero keeps a planned file
  // The key that releases must be signed with (an uncompressed P-256 point,
  // borrowed), or null to take releases unsigned. With a key, run parses
  // no line of the manifest before its signature matches the manifest's
  // bytes (which wait compressed, long ones in the temporary file's name +
  // OVU_HELD_MANIFEST_SUFFIX), and installs the release only when it
  // declares SHA-256 hash tokens, its serial is not below the last one
  // this installation accepted (kept beside the local manifest), and it
  // has not expired.
  const unsigned char *release_key = nullptr;
  // The longest time, from request to last byte, that the remote manifest
  // and its signature may take: a server that trickles an endless manifest
  // is given up then. File downloads have no such bound.
  int32_t manifest_deadline_ms = OVU_MANIFEST_FETCH_DEADLINE_MS;
  int32_t signature_deadline_ms = OVU_SIGNATURE_FETCH_DEADLINE_MS;
  ovu_update_stats stats;

 private:
  void say(const char *text) const;
  void say_verbose(const char *text) const;
  int plan_updates(const ovu_manifest_entry *remote, qarn_growable_array &plan);
  int fetch_release(const char *host, const char *manifest_path, http_fetch_remote_manifest_data &fetcher);
  int fetch_signed_release(const char *host, const char *manifest_path, http_fetch_remote_manifest_data &fetcher);
  int refuse_release(ovu_release_verdict verdict, const ovu_release_evidence &evidence,
                     const char *manifest_path) const;
  void say_fetch_failed(const char *manifest_path) const;
  int prepare_temporary_file() const;
  friend class ovu_download_pipeline;  // shows its helpers' messages through say
  void install_planned(ovu_file_fetch &fetch, const qarn_growable_array &plan);
  void install_one(ovu_file_fetch &fetch, int32_t index, const ovu_manifest_entry *entry);
  int put_in_place(const ovu_manifest_entry *entry, const char *source, const char *target);
  int download_verified(qarn_http_downloader &downloader, const char *host, const char *root_path,
                        const ovu_manifest_entry *entry, const unsigned char *digest, const char *temporary_path);
  int fetch_verified(qarn_http_downloader &downloader, const char *host, const char *root_path,
                     const ovu_manifest_entry *entry, const unsigned char *digest, const char *destination,
                     int64_t resume_offset, int keep_partial);
  int take_completed_partial(int32_t slot, const char *partial_path, const char *temporary_path) const;
  void save_manifest_or_exit();
  [[noreturn]] void exit_unfinished();

  // Where the files of the installation under way come from; stopped
  // before the process exits with it unfinished.
  ovu_file_fetch *fetch_ = nullptr;

  // The remote manifest declared its hash tokens SHA-256: every download
  // is checked against its entry's size and token before it is installed.
  bool verify_downloads_ = false;
  // The partial files of broken verified downloads: prepared once per
  // install_files, read only while the files download.
  ovu_partial_downloads partials_;
};

#endif
