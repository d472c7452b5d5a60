// ovu_download_pipeline: the files of an update plan fetched by helper
// threads ahead of their installation, each thread over a connection of its
// own that it keeps from file to file while the server lets it. The
// installation takes the files one by one in the plan's order (ovu_file_fetch)
// and sees every line of a file's download in that file's turn, as if the
// download had run there and then:
//
// - a helper holds its reports (support/held_reports.h): the downloader's
//   diagnostics, the updater's messages and the progress events of the file
//   it fetches go into that file's holder, and the installing thread shows
//   them through the updater's callbacks and qarn_diagnostic when the
//   file's turn comes, live while the file is still arriving;
// - the installing thread alone calls the progress and message callbacks
//   and saves the manifest; between the events of the file in turn it
//   reports the bytes that arrived for the files after it.
//
// Bounds: at most OVU_MAX_PARALLEL_DOWNLOADS helpers, and at most
// helpers + OVU_DOWNLOAD_LOOKAHEAD files fetched or being fetched that are
// not installed yet (the window): a helper waits while the window is full.
// File i of the plan arrives in the temporary file's name + "." + (i modulo
// the window), which is free again once file i is installed or given up.
#ifndef TORVANE_UPDATER_DOWNLOAD_PIPELINE_H
#define TORVANE_UPDATER_DOWNLOAD_PIPELINE_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "support/bounded_string.h"
#include "support/growable_array.h"
#include "support/held_reports.h"
#include "updater/file_fetch.h"

class ovu_updater;
class qarn_http_downloader;

// Downloads in flight at once: the default and the most the updater takes.
constexpr int32_t OVU_DEFAULT_PARALLEL_DOWNLOADS = 4;
constexpr int32_t OVU_MAX_PARALLEL_DOWNLOADS = 8;
// Files that may wait downloaded for their turn beyond those in flight.
constexpr int32_t OVU_DOWNLOAD_LOOKAHEAD = 4;
constexpr int32_t OVU_MAX_DOWNLOAD_WINDOW = OVU_MAX_PARALLEL_DOWNLOADS + OVU_DOWNLOAD_LOOKAHEAD;
// Longest wait of the installing thread before it shows what arrived of
// the file in turn and reports the progress of the others.
constexpr int32_t OVU_PIPELINE_POLL_MS = 100;
// Longest wait for the helpers to end before the process exits unfinished.
constexpr int32_t OVU_PIPELINE_STOP_WAIT_MS = 2000;

// Kinds of the entries a helper holds beside the diagnostics.
enum ovu_held_kind : int32_t {
  OVU_HELD_MESSAGE = QARN_HELD_OWNER_KINDS,  // a line for the message callback
  OVU_HELD_PROGRESS,                         // progress within the body (value: bytes received)
  OVU_HELD_PROGRESS_END,                     // the whole body arrived (value: bytes received)
};

class ovu_download_pipeline : public ovu_file_fetch {
 public:
  // The pipeline fetches the |plan| (ovu_manifest_entry pointers, borrowed)
  // from |host| under |root_path| for |updater|; all three outlive it.
  ovu_download_pipeline(ovu_updater &updater, const char *host, const char *root_path,
                        const qarn_growable_array &plan);
  // Stops and joins the helpers and removes the temporary files left.
  ~ovu_download_pipeline() override;
  ovu_download_pipeline(const ovu_download_pipeline &) = delete;
  ovu_download_pipeline &operator=(const ovu_download_pipeline &) = delete;

  // start starts |helpers| helper threads (clamped to 1 ..
  // OVU_MAX_PARALLEL_DOWNLOADS) and returns how many could be started; with
  // none the caller fetches the files itself.
  int32_t start(int32_t helpers);

  int fetch(int32_t index, const ovu_manifest_entry *entry, const char **file_name) override;
  void skip(int32_t index) override;
  void done(int32_t index) override;
  void stop_before_exit() override;

 private:
  // One file of the window.
  struct job {
    int32_t index = -1;     // plan entry, -1 when the slot never held one
    int finished = 0;       // the download ended (under the pipeline's lock)
    int downloaded = 0;     // its result
    std::atomic<int64_t> received{0};   // body bytes so far
    std::atomic<int64_t> expected{-1};  // the response's length, -1 unknown
    qarn_held_reports reports;
    int32_t shown_entries = 0;  // entries shown in full (installing thread)
    int64_t shown_events = 0;   // events shown of the next entry (installing thread)
    qarn_bounded_string file_name;
  };

  void run_helper();
  int32_t take_next(job **slot);
  void download(job &slot, qarn_http_downloader &downloader);
  static void on_progress(void *slot, int64_t received, int64_t total);
  void show_held(job &slot);
  void report_waiting(int32_t index);
  job &slot_of(int32_t index) { return jobs_[index % window_]; }
  void stop_helpers(int32_t wait_ms);
  void remove_temporary_files();

  ovu_updater &updater_;
  const char *host_;
  const char *root_path_;
  const qarn_growable_array &plan_;
  int32_t window_ = 0;
  job jobs_[OVU_MAX_DOWNLOAD_WINDOW];
  std::thread helpers_[OVU_MAX_PARALLEL_DOWNLOADS];
  int32_t helper_count_ = 0;

  std::mutex lock_;
  std::condition_variable changed_;
  int32_t next_ = 0;      // the next plan entry a helper takes
  int32_t turn_ = 0;      // the first plan entry not yet installed or given up
  int32_t running_ = 0;   // helpers not yet ended
  bool stopping_ = false;
  double reported_ahead_ = -1;  // bytes ahead at the last waiting report
};

#endif
