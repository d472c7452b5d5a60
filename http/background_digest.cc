#include "http/background_digest.h"

#include <atomic>
#include <system_error>

namespace {

std::atomic<int32_t> live_worker_count{0};

}  // namespace

qarn_background_digest::qarn_background_digest()
    : queue_(QARN_BACKGROUND_DIGEST_BUFFER_COUNT, QARN_BACKGROUND_DIGEST_BUFFER_LEN) {
  qarn_sha256_init(&hash_);
}

qarn_background_digest::~qarn_background_digest() { abandon(); }

int qarn_background_digest::start() {
  // The queue is closed or stopped at the end of a digest; one object
  // serves one digest.
  if (started_ || !queue_.allocate()) {
    return 0;
  }
  started_ = true;
  live_worker_count++;
  // The standard library reports a thread it could not create only by
  // throwing; the caller is told by the result instead.
  try {
    worker_ = std::thread(hash_queued, this);
  } catch (const std::system_error &) {
    live_worker_count--;
    return 0;
  }
  running_ = true;
  return 1;
}

int qarn_background_digest::update(const char *bytes, int32_t length) {
  if (!running_) {
    return 0;
  }
  return queue_.write(bytes, length);
}

int qarn_background_digest::finish(unsigned char digest[QARN_SHA256_DIGEST_LEN]) {
  if (!running_) {
    return 0;
  }
  queue_.close();
  join_worker();
  qarn_sha256_final(&hash_, digest);
  return 1;
}

void qarn_background_digest::abandon() {
  if (!running_) {
    return;
  }
  queue_.stop();
  join_worker();
}

int32_t qarn_background_digest::live_workers() { return live_worker_count.load(); }

// hash_queued is the worker: it hashes buffer after buffer until the queue
// is closed and empty, or stopped.
void qarn_background_digest::hash_queued(qarn_background_digest *self) {
  const char *bytes = nullptr;
  int32_t length = 0;
  while (self->queue_.take(&bytes, &length)) {
    qarn_sha256_update(&self->hash_, bytes, static_cast<uint64_t>(length));
    self->queue_.give_back();
  }
}

void qarn_background_digest::join_worker() {
  worker_.join();
  running_ = false;
  live_worker_count--;
}
