#include "http/bounded_buffer_queue.h"

#include <cstdlib>
#include <cstring>

qarn_bounded_buffer_queue::qarn_bounded_buffer_queue(int32_t buffer_count, int32_t buffer_len)
    : buffer_count_(buffer_count), buffer_len_(buffer_len) {}

qarn_bounded_buffer_queue::~qarn_bounded_buffer_queue() { std::free(memory_); }

int qarn_bounded_buffer_queue::allocate() {
  if (buffer_count_ < 1 || buffer_count_ > QARN_BUFFER_QUEUE_MAX_COUNT || buffer_len_ < 1) {
    return 0;
  }
  if (memory_ == nullptr) {
    memory_ = static_cast<char *>(std::malloc(static_cast<size_t>(buffer_count_) * static_cast<size_t>(buffer_len_)));
  }
  return memory_ != nullptr ? 1 : 0;
}

int qarn_bounded_buffer_queue::write(const char *bytes, int32_t length) {
  if (memory_ == nullptr) {
    return 0;
  }
  while (length > 0) {
    // A buffer is waited for only when a byte needs it, so that handing on
    // the last full one never waits.
    if (fill_length_ == 0 && !wait_for_free_buffer()) {
      return 0;
    }
    int32_t room = buffer_len_ - fill_length_;
    int32_t piece = length < room ? length : room;
    std::memcpy(buffer_at(fill_index_) + fill_length_, bytes, static_cast<size_t>(piece));
    fill_length_ += piece;
    bytes += piece;
    length -= piece;
    if (fill_length_ == buffer_len_) {
      hand_on();
    }
  }
  return 1;
}

void qarn_bounded_buffer_queue::close() {
  if (fill_length_ > 0) {
    hand_on();
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }
  buffer_handed_on_.notify_one();
}

// wait_for_free_buffer waits until the buffer at fill_index_ is the
// writer's: the reader takes buffers in the order they were handed on, so
// it is free whenever fewer than all are handed on. A writer that had to
// wait sleeps on until half the ring is free, so that a writer faster than
// its reader is woken once per half ring rather than once per buffer.
// Returns 0 once stopped.
int qarn_bounded_buffer_queue::wait_for_free_buffer() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (handed_on_ == buffer_count_) {
    buffer_freed_.wait(lock, [this] { return stopped_ || handed_on_ <= resume_level(); });
  }
  return stopped_ ? 0 : 1;
}

void qarn_bounded_buffer_queue::hand_on() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    lengths_[fill_index_] = fill_length_;
    handed_on_++;
  }
  buffer_handed_on_.notify_one();
  fill_index_ = (fill_index_ + 1) % buffer_count_;
  fill_length_ = 0;
}

int qarn_bounded_buffer_queue::take(const char **bytes, int32_t *length) {
  std::unique_lock<std::mutex> lock(mutex_);
  buffer_handed_on_.wait(lock, [this] { return stopped_ || closed_ || handed_on_ > 0; });
  if (stopped_ || handed_on_ == 0) {
    return 0;
  }
  *bytes = buffer_at(take_index_);
  *length = lengths_[take_index_];
  return 1;
}

void qarn_bounded_buffer_queue::give_back() {
  bool wake_writer = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (handed_on_ == 0) {
      return;
    }
    handed_on_--;
    wake_writer = handed_on_ == resume_level();
  }
  if (wake_writer) {
    buffer_freed_.notify_one();
  }
  take_index_ = (take_index_ + 1) % buffer_count_;
}

void qarn_bounded_buffer_queue::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
  }
  buffer_freed_.notify_all();
  buffer_handed_on_.notify_all();
}

int32_t qarn_bounded_buffer_queue::handed_on_count() {
  std::lock_guard<std::mutex> lock(mutex_);
  return handed_on_;
}
