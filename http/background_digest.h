// qarn_background_digest: a SHA-256 computed on a worker thread of its own,
// so that hashing a body runs beside receiving it instead of after each
// receive. The bytes reach the worker through a bounded queue of buffers
// (QARN_BACKGROUND_DIGEST_BUFFER_COUNT of QARN_BACKGROUND_DIGEST_BUFFER_LEN
// bytes): the caller copies each piece in and waits only when the worker is
// that far behind.
//
// Use: start; update with every piece, in order; finish for the digest, or
// abandon (destruction abandons too). The worker is stopped and joined
// before finish, abandon or the destructor returns, whatever state the
// digest was in. All calls come from the one thread that owns the object.
#ifndef TORVANE_HTTP_BACKGROUND_DIGEST_H
#define TORVANE_HTTP_BACKGROUND_DIGEST_H

#include <cstdint>
#include <thread>

#include "http/bounded_buffer_queue.h"
#include "support/sha256.h"

// The queue between the caller and the worker: 512 KiB in all. Large
// buffers make the hand-overs rare; a few of them let the receiving run
// ahead over a short stall of the worker.
constexpr int32_t QARN_BACKGROUND_DIGEST_BUFFER_COUNT = 4;
constexpr int32_t QARN_BACKGROUND_DIGEST_BUFFER_LEN = 128 * 1024;

class qarn_background_digest {
 public:
  qarn_background_digest();
  ~qarn_background_digest();
  qarn_background_digest(const qarn_background_digest &) = delete;
  qarn_background_digest &operator=(const qarn_background_digest &) = delete;

  // start takes the queue's memory and starts the worker on an empty
  // digest. Returns 1, or 0 when the memory or the thread could not be had
  // (then nothing runs, and the caller hashes on its own thread) or start
  // was called before: one object computes one digest.
  int start();
  // running is true between a successful start and finish or abandon.
  bool running() const { return running_; }

  // update hands |length| bytes to the worker; they are copied. Returns 1,
  // or 0 when the digest is not running.
  int update(const char *bytes, int32_t length);

  // finish waits until the worker has hashed every byte, stops it and
  // writes the SHA-256 of all bytes updated to |digest|. Returns 1, or 0
  // (digest untouched) when the digest was not running.
  int finish(unsigned char digest[QARN_SHA256_DIGEST_LEN]);

  // abandon stops the worker without waiting for the bytes still queued,
  // and joins it. Does nothing when the digest is not running.
  void abandon();

  // live_workers returns how many workers of the whole process have been
  // started and not yet joined: 0 whenever no digest is running.
  static int32_t live_workers();

 private:
  static void hash_queued(qarn_background_digest *self);
  void join_worker();

  qarn_bounded_buffer_queue queue_;
  // Written by the worker only while it runs, read by the owner only after
  // joining it.
  qarn_sha256_context hash_;
  std::thread worker_;
  bool started_ = false;
  bool running_ = false;
};

#endif
