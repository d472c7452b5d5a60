#include "support/held_reports.h"

#include <cstdlib>
#include <cstring>

#include "support/diagnostics.h"

namespace {

thread_local qarn_held_reports *t_holder = nullptr;

constexpr char kDroppedText[] = "Further reports were dropped: their lines took more than 65536 bytes.";
static_assert(QARN_HELD_REPORTS_LIMIT == 65536, "the dropped line names the limit");

constexpr int32_t kFirstCapacity = 8;

}  // namespace

qarn_held_reports::~qarn_held_reports() { clear(); }

void qarn_held_reports::add_line(int32_t kind, int32_t category, int32_t module_letter, const char *text) {
  std::lock_guard<std::mutex> hold(lock_);
  qarn_held_entry entry;
  entry.kind = kind;
  entry.category = category;
  entry.module_letter = module_letter;
  size_t len = std::strlen(text);
  if (dropping_ || len >= static_cast<size_t>(QARN_HELD_REPORTS_LIMIT)) {
    keep(entry, -1);
    return;
  }
  entry.text = static_cast<char *>(std::malloc(len + 1));
  if (entry.text == nullptr) {
    keep(entry, -1);
    return;
  }
  std::memcpy(entry.text, text, len + 1);
  if (!keep(entry, static_cast<int32_t>(len))) {
    std::free(entry.text);
  }
}

void qarn_held_reports::add_event(int32_t kind, int64_t value, bool joins) {
  std::lock_guard<std::mutex> hold(lock_);
  if (joins && !dropping_ && count_ > 0 && entries_[count_ - 1].kind == kind) {
    entries_[count_ - 1].count++;
    entries_[count_ - 1].value = value;
    return;
  }
  qarn_held_entry entry;
  entry.kind = kind;
  entry.value = value;
  keep(entry, 0);
}

// Appends |entry|, whose text takes |text_len| bytes (-1: it is dropped
// whatever the room). Returns 1 when it was kept; else the list ends, once,
// with a QARN_HELD_DROPPED entry that takes the first dropped entry's
// category and module.
int qarn_held_reports::keep(const qarn_held_entry &entry, int32_t text_len) {
  if (dropping_) {
    return 0;
  }
  int32_t bytes = static_cast<int32_t>(sizeof(qarn_held_entry)) + (text_len > 0 ? text_len + 1 : 0);
  bool fits = text_len >= 0 && bytes <= QARN_HELD_REPORTS_LIMIT - held_bytes_;
  if (fits && count_ == capacity_) {
    int32_t capacity = capacity_ == 0 ? kFirstCapacity : capacity_ * 2;
    void *grown = std::realloc(entries_, static_cast<size_t>(capacity) * sizeof(qarn_held_entry));
    if (grown == nullptr) {
      fits = false;
    } else {
      entries_ = static_cast<qarn_held_entry *>(grown);
      capacity_ = capacity;
    }
  }
  if (fits) {
    entries_[count_++] = entry;
    held_bytes_ += bytes;
    return 1;
  }
  dropping_ = true;
  // The room of one entry is held back for this end from the start: the
  // capacity grew before the limit was reached, or the entry is added now.
  if (count_ == capacity_) {
    void *grown = std::realloc(entries_, static_cast<size_t>(capacity_ + 1) * sizeof(qarn_held_entry));
    if (grown == nullptr) {
      return 0;
    }
    entries_ = static_cast<qarn_held_entry *>(grown);
    capacity_++;
  }
  qarn_held_entry dropped;
  dropped.kind = QARN_HELD_DROPPED;
  dropped.category = entry.kind == QARN_HELD_DIAGNOSTIC ? entry.category : QARN_DIAG_OPERATION;
  dropped.module_letter = entry.kind == QARN_HELD_DIAGNOSTIC ? entry.module_letter : QARN_MODULE_SUPPORT;
  entries_[count_++] = dropped;
  return 0;
}

int qarn_held_reports::read(int32_t index, qarn_held_entry *entry) const {
  std::lock_guard<std::mutex> hold(lock_);
  if (index < 0 || index >= count_) {
    return 0;
  }
  *entry = entries_[index];
  return 1;
}

void qarn_held_reports::clear() {
  std::lock_guard<std::mutex> hold(lock_);
  for (int32_t i = 0; i < count_; i++) {
    std::free(entries_[i].text);
  }
  std::free(entries_);
  entries_ = nullptr;
  count_ = 0;
  capacity_ = 0;
  held_bytes_ = 0;
  dropping_ = false;
}

qarn_held_reports *qarn_hold_reports(qarn_held_reports *holder) {
  qarn_held_reports *previous = t_holder;
  t_holder = holder;
  return previous;
}

qarn_held_reports *qarn_reports_holder() { return t_holder; }

void qarn_replay_diagnostic(const qarn_held_entry &entry) {
  if (entry.kind == QARN_HELD_DROPPED) {
    qarn_diagnostic(kDroppedText, entry.category, entry.module_letter);
  } else if (entry.kind == QARN_HELD_DIAGNOSTIC) {
    qarn_diagnostic(entry.text, entry.category, entry.module_letter);
  }
}
