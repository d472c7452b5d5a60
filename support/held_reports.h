// qarn_held_reports: what a piece of work running on a helper thread would
// have shown, held in the order it came, so that the thread that shows
// things gives it back later, in the work's turn, as if the work had run
// there.
//
// While a thread holds its reports (qarn_hold_reports), qarn_diagnostic
// appends each report it would print to the holder instead of printing
// it. The work's owner adds its own lines (messages for its callbacks) and
// events (progress) the same way. Consecutive events of one kind that ask
// for it are kept as one entry with a count and the latest value, so that
// a long run of progress takes one entry.
//
// The held bytes are bounded: past QARN_HELD_REPORTS_LIMIT nothing more is
// kept, and the replay ends with one line that says so. The holder locks
// itself: one thread adds while another reads what is there.
#ifndef TORVANE_SUPPORT_HELD_REPORTS_H
#define TORVANE_SUPPORT_HELD_REPORTS_H

#include <cstdint>
#include <mutex>

// What an entry is; the owner gives meaning to the kinds from
// QARN_HELD_OWNER_KINDS on.
enum qarn_held_kind : int32_t {
  QARN_HELD_DIAGNOSTIC = 0,  // a report of qarn_diagnostic (category, module, text)
  QARN_HELD_DROPPED = 1,     // reports were dropped here (category and module of the first)
  QARN_HELD_OWNER_KINDS = 2,
};

// Bytes of entries and texts that one holder keeps at most.
constexpr int32_t QARN_HELD_REPORTS_LIMIT = 64 * 1024;

struct qarn_held_entry {
  int32_t kind = QARN_HELD_DIAGNOSTIC;
  int32_t category = 0;
  int32_t module_letter = 0;
  int64_t count = 1;   // events this entry stands for (lines: 1)
  int64_t value = 0;   // the latest event's value
  char *text = nullptr;  // owned by the holder; null for events
};

class qarn_held_reports {
 public:
  qarn_held_reports() = default;
  // Frees every entry.
  ~qarn_held_reports();
  qarn_held_reports(const qarn_held_reports &) = delete;
  qarn_held_reports &operator=(const qarn_held_reports &) = delete;

  // add_line keeps a line of |kind| with its category, module and |text|.
  void add_line(int32_t kind, int32_t category, int32_t module_letter, const char *text);
  // add_event keeps an event of |kind| with |value|: with |joins| set it
  // joins a last entry of the same kind (its count grows by one and its
  // value becomes |value|), else it is an entry of its own.
  void add_event(int32_t kind, int64_t value, bool joins);

  // read copies entry |index| into |*entry| (its text stays the holder's
  // until clear). Returns 1, or 0 when there is no such entry yet.
  int read(int32_t index, qarn_held_entry *entry) const;
  // clear frees every entry; the holder may be used again.
  void clear();

 private:
  int keep(const qarn_held_entry &entry, int32_t text_len);

  mutable std::mutex lock_;
  qarn_held_entry *entries_ = nullptr;  // owned
  int32_t count_ = 0;
  int32_t capacity_ = 0;
  int32_t held_bytes_ = 0;
  bool dropping_ = false;  // the limit was reached; one QARN_HELD_DROPPED entry ends the list
};

// qarn_hold_reports makes qarn_diagnostic on the calling thread append to
// |holder| (null: print again). Returns the holder that was in force.
qarn_held_reports *qarn_hold_reports(qarn_held_reports *holder);

// qarn_reports_holder returns the calling thread's holder, or null.
qarn_held_reports *qarn_reports_holder();

// qarn_replay_diagnostic shows a held QARN_HELD_DIAGNOSTIC or
// QARN_HELD_DROPPED entry on the calling thread through qarn_diagnostic,
// so that the mask in force then applies.
void qarn_replay_diagnostic(const qarn_held_entry &entry);

#endif
