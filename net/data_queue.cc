#include "net/data_queue.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "support/diagnostics.h"

namespace {

// Idle buffers of the whole process, used last-in first-out. Downloads on
// several threads take and give buffers at once: the lock guards the list.
private_socket_queue_buffer *g_spare_buffers = nullptr;
std::mutex g_spare_lock;

void report_queue(const char *text, int32_t category) {
  qarn_diagnostic(text, category, QARN_MODULE_NET);
}

int32_t smaller(int32_t a, int32_t b) { return a < b ? a : b; }

}  // namespace

private_socket_queue_buffer *private_socket_queue_buffer::get_buffer() {
  private_socket_queue_buffer *buffer;
  {
    std::lock_guard<std::mutex> hold(g_spare_lock);
    buffer = g_spare_buffers;
    if (buffer != nullptr) {
      g_spare_buffers = buffer->next;
    }
  }
  if (buffer == nullptr) {
    buffer = static_cast<private_socket_queue_buffer *>(std::malloc(sizeof(private_socket_queue_buffer)));
    if (buffer == nullptr) {
      return nullptr;
    }
  }
  buffer->write_pos = 0;
  buffer->read_pos = 0;
  buffer->next = nullptr;
  return buffer;
}

void private_socket_queue_buffer::put_spare(private_socket_queue_buffer *buffer) {
  std::lock_guard<std::mutex> hold(g_spare_lock);
  buffer->next = g_spare_buffers;
  g_spare_buffers = buffer;
}

int32_t private_socket_queue_buffer::spare_count() {
  std::lock_guard<std::mutex> hold(g_spare_lock);
  int32_t count = 0;
  for (const private_socket_queue_buffer *b = g_spare_buffers; b != nullptr; b = b->next) {
    count++;
  }
  return count;
}

qarn_data_queue::~qarn_data_queue() { clear(); }

int qarn_data_queue::try_create_new_buffer() {
  private_socket_queue_buffer *buffer = private_socket_queue_buffer::get_buffer();
  if (buffer == nullptr) {
    report_queue(
        "Error in qarn_data_queue::try_create_new_buffer(), memory allocation fail in "
        "private_socket_queue_buffer::get_buffer().",
        QARN_DIAG_RESOURCE);
    return 0;
  }
  if (first_ == nullptr) {
    first_ = buffer;
  } else {
    private_socket_queue_buffer *last = first_;
    while (last->next != nullptr) {
      last = last->next;
    }
    last->next = buffer;
  }
  fill_ = buffer;
  buffer_count_++;
  return 1;
}

int32_t qarn_data_queue::append_bytes(const void *bytes, int32_t length) {
  if (bytes == nullptr || length <= 0) {
    return 0;
  }
  const unsigned char *source = static_cast<const unsigned char *>(bytes);
  int32_t appended = 0;
  while (appended < length) {
    if (fill_ == nullptr && !try_create_new_buffer()) {
      break;
    }
    int32_t room = QARN_QUEUE_BUFFER_DATA_LEN - fill_->write_pos;
    int32_t run = smaller(room, length - appended);
    std::memcpy(fill_->data + fill_->write_pos, source + appended, static_cast<size_t>(run));
    fill_->write_pos += run;
    appended += run;
    if (fill_->write_pos == QARN_QUEUE_BUFFER_DATA_LEN) {
      fill_ = nullptr;  // stays in the list; the next byte obtains a new buffer
    }
  }
  return appended;
}

int32_t qarn_data_queue::append_string(const char *text) {
  if (text == nullptr) {
    return 0;
  }
  size_t length = std::strlen(text);
  int32_t appended = 0;
  // Texts longer than one call can count go in slices that each fit.
  while (length > 0) {
    int32_t slice = length > static_cast<size_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(length);
    int32_t done = append_bytes(text, slice);
    appended += done;
    if (done < slice) {
      break;
    }
    text += slice;
    length -= static_cast<size_t>(slice);
  }
  return appended;
}

void qarn_data_queue::release_front() {
  private_socket_queue_buffer *drained = first_;
  first_ = drained->next;
  if (fill_ == drained) {
    fill_ = nullptr;
  }
  private_socket_queue_buffer::put_spare(drained);
  buffer_count_--;
}

int32_t qarn_data_queue::read_block(void *destination, int32_t max_len) {
  if (first_ == nullptr || destination == nullptr || max_len <= 0) {
    return 0;
  }
  if (first_->read_pos == first_->write_pos) {
    if (first_->next != nullptr) {
      report_queue("Warning in qarn_data_queue::read_block(), top buffer empty in list of other buffers.",
                   QARN_DIAG_MISUSE);
    }
    return 0;
  }
  unsigned char *out = static_cast<unsigned char *>(destination);
  int32_t copied = 0;
  while (copied < max_len) {
    private_socket_queue_buffer *front = first_;
    int32_t run = smaller(front->write_pos - front->read_pos, max_len - copied);
    std::memcpy(out + copied, front->data + front->read_pos, static_cast<size_t>(run));
    front->read_pos += run;
    copied += run;
    if (front->read_pos < front->write_pos) {
      continue;
    }
    if (front->read_pos < QARN_QUEUE_BUFFER_DATA_LEN) {
      // The partly written fill buffer: later appends continue after the
      // bytes already read, so it stays in place.
      if (front->next != nullptr) {
        report_queue("Warning in qarn_data_queue::read_block(), more buffers in list than expected.",
                     QARN_DIAG_MISUSE);
      }
      break;
    }
    release_front();
    if (first_ == nullptr) {
      break;
    }
  }
  return copied;
}

int qarn_data_queue::is_empty() const {
  if (first_ == nullptr) {
    return 1;
  }
  if (first_->next != nullptr) {
    return 0;
  }
  return first_->read_pos == first_->write_pos ? 1 : 0;
}

void qarn_data_queue::clear() {
  while (first_ != nullptr) {
    private_socket_queue_buffer *buffer = first_;
    first_ = buffer->next;
    private_socket_queue_buffer::put_spare(buffer);
  }
  fill_ = nullptr;
  buffer_count_ = 0;
}
