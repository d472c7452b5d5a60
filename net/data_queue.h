// qarn_data_queue: a first-in, first-out byte queue built from fixed-size
// buffers. The HTTP processor appends outgoing messages to it; its owner
// takes the bytes out from the front in blocks and writes them to a socket.
//
// Buffers that were written full and read empty go to one process-wide pool
// of spare buffers and are reused by later appends to any queue, so steady
// traffic makes no heap calls. Pool buffers stay allocated until the process
// ends. Queues may live on several threads; the pool is shared under a lock,
// each queue belongs to one thread.
#ifndef TORVANE_NET_DATA_QUEUE_H
#define TORVANE_NET_DATA_QUEUE_H

#include <cstdint>

// Payload bytes of one queue buffer.
constexpr int32_t QARN_QUEUE_BUFFER_DATA_LEN = 4072;

// private_socket_queue_buffer is one heap block: a small header and the
// payload. It belongs to exactly one queue's list or to the spare pool.
struct private_socket_queue_buffer {
  int32_t write_pos;                  // bytes written into data (0..4072)
  int32_t read_pos;                   // bytes of data already read (0..write_pos)
  private_socket_queue_buffer *next;  // next buffer of the list or of the pool
  unsigned char data[QARN_QUEUE_BUFFER_DATA_LEN];

  // get_buffer returns an empty buffer (positions 0, no next), taken from
  // the spare pool or newly allocated; null when memory is exhausted. The
  // caller owns it until it gives it back with put_spare.
  static private_socket_queue_buffer *get_buffer();
  // put_spare pushes |buffer| on the front of the spare pool, which owns it
  // from then on.
  static void put_spare(private_socket_queue_buffer *buffer);
  // spare_count returns how many buffers the pool holds now.
  static int32_t spare_count();
};

// The header is three 32-bit words on the 32-bit target.
static_assert(sizeof(void *) != 4 || sizeof(private_socket_queue_buffer) == 12 + 4072,
              "a queue buffer is three header words and 4072 payload bytes");

class qarn_data_queue {
 public:
  qarn_data_queue() = default;
  // The destructor gives every buffer of the list to the spare pool.
  ~qarn_data_queue();
  qarn_data_queue(const qarn_data_queue &) = delete;
  qarn_data_queue &operator=(const qarn_data_queue &) = delete;

  // append_string copies |text| up to, not including, its NUL. Returns the
  // number of bytes appended: fewer than the text holds only when no buffer
  // could be obtained (reported). A null text appends nothing.
  int32_t append_string(const char *text);
  // append_bytes copies |length| bytes, NUL bytes included. Returns the
  // number appended as append_string does; 0 when |length| <= 0.
  int32_t append_bytes(const void *bytes, int32_t length);
  // read_block copies up to |max_len| queued bytes, oldest first, into
  // |destination| and returns how many; 0 when nothing is queued or
  // |max_len| <= 0. One call can drain several buffers.
  int32_t read_block(void *destination, int32_t max_len);
  // is_empty returns 1 when no unread byte is queued, else 0.
  int is_empty() const;
  // clear gives every buffer of the list to the spare pool.
  void clear();

  // buffer_count returns the number of buffers in the list.
  int32_t buffer_count() const { return buffer_count_; }
  // first returns the front buffer, or null; it stays owned by the queue.
  const private_socket_queue_buffer *first() const { return first_; }

 private:
  // try_create_new_buffer obtains a buffer and links it at the end of the
  // list as the new fill buffer. Returns 1, or 0 after a report.
  int try_create_new_buffer();
  // append_one stores |byte| in the fill buffer, obtaining one when needed.
  // Returns 1, or 0 when no buffer could be obtained.
  int append_one(unsigned char byte);
  // release_front unlinks the drained front buffer and gives it to the pool.
  void release_front();

  private_socket_queue_buffer *first_ = nullptr;  // reads take bytes from here
  private_socket_queue_buffer *fill_ = nullptr;   // receives appends; last in list
  int32_t buffer_count_ = 0;
};

#endif
