// qarn_bounded_buffer_queue: hands bytes from one thread to another through
// a fixed ring of buffers. The writer copies bytes into the buffer it is
// filling and hands each full one on; the reader takes the handed-on
// buffers in order and gives each back when done with it. Memory is the
// ring and nothing more: a writer that gets buffer_count buffers ahead of
// its reader waits until the reader gives one back.
//
// One writer thread and one reader thread. Either side (in practice the
// owner, on the writer's thread) may stop the queue: both sides then stop
// waiting, and every later write and take fails.
#ifndef TORVANE_HTTP_BOUNDED_BUFFER_QUEUE_H
#define TORVANE_HTTP_BOUNDED_BUFFER_QUEUE_H

#include <condition_variable>
#include <cstdint>
#include <mutex>

// Most buffers a ring may have.
constexpr int32_t QARN_BUFFER_QUEUE_MAX_COUNT = 16;

class qarn_bounded_buffer_queue {
 public:
  // A queue of |buffer_count| buffers (1 to QARN_BUFFER_QUEUE_MAX_COUNT)
  // of |buffer_len| bytes each (at least 1); no memory until allocate.
  qarn_bounded_buffer_queue(int32_t buffer_count, int32_t buffer_len);
  ~qarn_bounded_buffer_queue();
  qarn_bounded_buffer_queue(const qarn_bounded_buffer_queue &) = delete;
  qarn_bounded_buffer_queue &operator=(const qarn_bounded_buffer_queue &) = delete;

  // allocate takes the ring's memory. Returns 1, or 0 when the sizes are
  // out of range or the memory is not there.
  int allocate();

  // Writer side.
  //
  // write copies |length| bytes into the ring, handing on each buffer it
  // fills, and waits while every buffer is handed on and not given back.
  // Returns 1, or 0 once the queue is stopped (the bytes may then be lost).
  int write(const char *bytes, int32_t length);
  // close hands on the buffer being filled, if it holds bytes, and tells
  // the reader that nothing follows. No write after it.
  void close();

  // Reader side.
  //
  // take waits for the next handed-on buffer. Returns 1 and sets |bytes|
  // and |length| to it (valid until give_back), or 0 when the queue is
  // closed and every buffer has been taken, or it is stopped.
  int take(const char **bytes, int32_t *length);
  // give_back returns the buffer of the last successful take to the writer.
  void give_back();

  // stop ends the exchange: neither side waits any more, and later writes
  // and takes return 0.
  void stop();

  // handed_on_count returns how many buffers are handed on and not yet
  // given back; never more than buffer_count.
  int32_t handed_on_count();
  int32_t buffer_count() const { return buffer_count_; }
  int32_t buffer_len() const { return buffer_len_; }

 private:
  int wait_for_free_buffer();
  // resume_level is the number of handed-on buffers at which a waiting
  // writer goes on.
  int32_t resume_level() const { return buffer_count_ / 2; }
  void hand_on();
  char *buffer_at(int32_t index) const { return memory_ + static_cast<int64_t>(index) * buffer_len_; }

  const int32_t buffer_count_;
  const int32_t buffer_len_;
  char *memory_ = nullptr;  // buffer_count_ buffers one after the other, owned
  int32_t lengths_[QARN_BUFFER_QUEUE_MAX_COUNT] = {};  // bytes in each handed-on buffer

  // The writer's own: the buffer it fills and the bytes in it.
  int32_t fill_index_ = 0;
  int32_t fill_length_ = 0;
  // The reader's own: the next buffer to take.
  int32_t take_index_ = 0;

  // Shared, under mutex_.
  std::mutex mutex_;
  std::condition_variable buffer_freed_;      // the writer waits on it
  std::condition_variable buffer_handed_on_;  // the reader waits on it
  int32_t handed_on_ = 0;  // buffers handed on and not given back
  bool closed_ = false;
  bool stopped_ = false;
};

#endif
