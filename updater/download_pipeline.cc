#include "updater/download_pipeline.h"

#include <chrono>
#include <system_error>

#include "http/http_downloader.h"
#include "support/file_system.h"
#include "updater/updater.h"

ovu_download_pipeline::ovu_download_pipeline(ovu_updater &updater, const char *host, const char *root_path,
                                             const qarn_growable_array &plan)
    : updater_(updater), host_(host), root_path_(root_path), plan_(plan) {}

ovu_download_pipeline::~ovu_download_pipeline() {
  stop_helpers(-1);
  remove_temporary_files();
}

int32_t ovu_download_pipeline::start(int32_t helpers) {
  if (helpers < 1) {
    helpers = 1;
  } else if (helpers > OVU_MAX_PARALLEL_DOWNLOADS) {
    helpers = OVU_MAX_PARALLEL_DOWNLOADS;
  }
  // The helpers wait for the lock until the window is known.
  std::lock_guard<std::mutex> hold(lock_);
  for (int32_t i = 0; i < helpers; i++) {
    // The standard library reports a thread it could not create only by
    // throwing; the helpers started so far do the work.
    try {
      helpers_[helper_count_] = std::thread(&ovu_download_pipeline::run_helper, this);
    } catch (const std::system_error &) {
      break;
    }
    helper_count_++;
    running_++;
  }
  window_ = helper_count_ + OVU_DOWNLOAD_LOOKAHEAD;
  for (int32_t slot = 0; slot < window_; slot++) {
    jobs_[slot].file_name.assign(updater_.temporary_file_name).append_format(".%d", static_cast<int>(slot));
  }
  return helper_count_;
}

void ovu_download_pipeline::run_helper() {
  qarn_http_downloader downloader;
  downloader.keep_connection = 1;
  downloader.progress_callback = on_progress;
  job *slot = nullptr;
  while (take_next(&slot) >= 0) {
    download(*slot, downloader);
  }
  std::lock_guard<std::mutex> hold(lock_);
  running_--;
  changed_.notify_all();
}

// Waits until the next plan entry fits the window and hands it out in
// |*slot|. Returns its index, or -1 when the plan is all handed out or the
// pipeline stops.
int32_t ovu_download_pipeline::take_next(job **slot) {
  std::unique_lock<std::mutex> hold(lock_);
  changed_.wait(hold, [this] { return stopping_ || next_ >= plan_.count || next_ < turn_ + window_; });
  if (stopping_ || next_ >= plan_.count) {
    return -1;
  }
  int32_t index = next_++;
  job &taken = slot_of(index);
  taken.index = index;
  taken.finished = 0;
  taken.downloaded = 0;
  taken.received.store(0);
  taken.expected.store(-1);
  taken.shown_entries = 0;
  taken.shown_events = 0;
  *slot = &taken;
  return index;
}

// Fetches |slot|'s file on this helper, its reports held for its turn.
void ovu_download_pipeline::download(job &slot, qarn_http_downloader &downloader) {
  const ovu_manifest_entry *entry = *static_cast<const ovu_manifest_entry *const *>(plan_.at(slot.index));
  downloader.callback_context = &slot;
  qarn_held_reports *previous = qarn_hold_reports(&slot.reports);
  int downloaded = updater_.download_entry(downloader, host_, root_path_, entry, slot.file_name.text());
  qarn_hold_reports(previous);
  std::lock_guard<std::mutex> hold(lock_);
  slot.downloaded = downloaded;
  slot.finished = 1;
  changed_.notify_all();
}

void ovu_download_pipeline::on_progress(void *data, int64_t received, int64_t total) {
  job &slot = *static_cast<job *>(data);
  slot.expected.store(total);
  slot.received.store(received);
  bool whole = received == total;
  slot.reports.add_event(whole ? OVU_HELD_PROGRESS_END : OVU_HELD_PROGRESS, received, !whole);
}

int ovu_download_pipeline::fetch(int32_t index, const ovu_manifest_entry *, const char **file_name) {
  job &slot = slot_of(index);
  // The file in turn is no longer ahead: its own progress counts it.
  updater_.bytes_ahead = 0;
  reported_ahead_ = 0;
  for (;;) {
    bool taken;
    bool finished;
    {
      std::unique_lock<std::mutex> hold(lock_);
      if (slot.index != index || !slot.finished) {
        changed_.wait_for(hold, std::chrono::milliseconds(OVU_PIPELINE_POLL_MS));
      }
      taken = slot.index == index;
      finished = taken && slot.finished;
    }
    // The lock orders the helper's last report before its end: once the
    // end is seen, everything it held is there to show.
    if (taken) {
      show_held(slot);
    }
    if (finished) {
      break;
    }
    report_waiting(index);
  }
  *file_name = slot.file_name.text();
  return slot.downloaded;
}

// Shows what |slot|'s helper held and was not shown yet, in its order.
void ovu_download_pipeline::show_held(job &slot) {
  qarn_held_entry entry;
  while (slot.reports.read(slot.shown_entries, &entry)) {
    if (entry.kind == OVU_HELD_PROGRESS || entry.kind == OVU_HELD_PROGRESS_END) {
      // Each event is shown once, with the latest count of bytes of its run.
      int64_t expected = slot.expected.load();
      for (; slot.shown_events < entry.count; slot.shown_events++) {
        ovu_updater::on_file_progress(&updater_, entry.value, expected);
      }
      qarn_held_entry next;
      if (entry.kind == OVU_HELD_PROGRESS && !slot.reports.read(slot.shown_entries + 1, &next)) {
        // The last run of a download that goes on may still grow.
        bool finished;
        {
          std::lock_guard<std::mutex> hold(lock_);
          finished = slot.finished != 0;
        }
        if (!finished) {
          return;
        }
        slot.reports.read(slot.shown_entries, &entry);
        if (slot.shown_events < entry.count) {
          continue;
        }
      }
    } else if (entry.kind == OVU_HELD_MESSAGE) {
      updater_.say(entry.text);
    } else {
      qarn_replay_diagnostic(entry);
    }
    slot.shown_entries++;
    slot.shown_events = 0;
  }
}

// Reports the overall progress while the file in turn (|index|) keeps the
// installation waiting, when bytes arrived for the files after it.
void ovu_download_pipeline::report_waiting(int32_t index) {
  double ahead = 0;
  int32_t last;
  {
    std::lock_guard<std::mutex> hold(lock_);
    last = next_;
  }
  for (int32_t i = index + 1; i < last; i++) {
    ahead += static_cast<double>(slot_of(i).received.load());
  }
  if (ahead == reported_ahead_) {
    return;
  }
  reported_ahead_ = ahead;
  updater_.bytes_ahead = ahead;
  updater_.progress_tick();
}

void ovu_download_pipeline::skip(int32_t index) {
  std::unique_lock<std::mutex> hold(lock_);
  if (next_ == index) {
    // Not handed out yet: no helper asks for it.
    next_++;
    return;
  }
  job &slot = slot_of(index);
  changed_.wait(hold, [&slot, index] { return slot.index == index && slot.finished; });
}

void ovu_download_pipeline::done(int32_t index) {
  job &slot = slot_of(index);
  // A failed download may leave its file ("Keeping file."), and a file
  // that could not be put in place stays where it arrived.
  qarn_remove(slot.file_name.text());
  std::lock_guard<std::mutex> hold(lock_);
  if (slot.index == index) {
    slot.reports.clear();
  }
  turn_ = index + 1;
  changed_.notify_all();
}

void ovu_download_pipeline::stop_before_exit() {
  stop_helpers(OVU_PIPELINE_STOP_WAIT_MS);
  remove_temporary_files();
}

// Tells the helpers to take no further file and waits for them to end, at
// most |wait_ms| (-1: as long as their downloads take). A helper still
// downloading then is let go; it holds its reports to the end.
void ovu_download_pipeline::stop_helpers(int32_t wait_ms) {
  {
    std::unique_lock<std::mutex> hold(lock_);
    stopping_ = true;
    changed_.notify_all();
    auto all_ended = [this] { return running_ == 0; };
    if (wait_ms < 0) {
      changed_.wait(hold, all_ended);
    } else {
      changed_.wait_for(hold, std::chrono::milliseconds(wait_ms), all_ended);
    }
  }
  bool all_ended;
  {
    std::lock_guard<std::mutex> hold(lock_);
    all_ended = running_ == 0;
  }
  for (int32_t i = 0; i < helper_count_; i++) {
    if (!helpers_[i].joinable()) {
      continue;
    }
    if (all_ended) {
      helpers_[i].join();
    } else {
      helpers_[i].detach();
    }
  }
}

// The temporary file itself, made empty when the updater was set up,
// goes too: no helper writes to it.
void ovu_download_pipeline::remove_temporary_files() {
  qarn_remove(updater_.temporary_file_name);
  for (int32_t slot = 0; slot < window_; slot++) {
    qarn_remove(jobs_[slot].file_name.text());
  }
}
