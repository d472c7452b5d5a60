// The HTTP downloader: connect (or take the kept connection), send one
// GET, feed the response to the processor, and decide from how the
// response or the connection ended whether the body is whole.
#include "http/http_downloader.h"

#include <cinttypes>
#include <cstdlib>
#include <cstring>

#include "http/download_bounds.h"
#include "http/download_reports.h"
#include "http/http_data_processor.h"
#include "net/host_resolution.h"
#include "net/socket_error.h"
#include "support/clock.h"
#include "support/diagnostics.h"
#include "support/file_system.h"

namespace {

void report(const char *text, int32_t category) { qarn_diagnostic(text, category, QARN_MODULE_DOWNLOADER); }

// report_about_file reports |head| + "'" + |name| + "'" + |tail|.
void report_about_file(const char *head, const char *name, const char *tail) {
  qarn_bounded_string message;
  message.append(head).append("'").append(name).append("'").append(tail);
  report(message.text(), QARN_DIAG_OPERATION);
}

qarn_http_downloader &downloader_of(void *context) { return *static_cast<qarn_http_downloader *>(context); }

// Outcome of an exchange beside 1 (the body is whole) and 0 (failed,
// reported): the kept connection it ran on was gone before any byte of the
// answer came. Not reported: the request goes again on a new connection.
constexpr int EXCHANGE_STALE = -2;

// receive_buffer is the memory one socket read fills: QARN_DOWNLOAD_READ_LEN
// bytes from the heap, or the caller's block when the heap has none.
class receive_buffer {
 public:
  explicit receive_buffer(char *fallback_block)
      : heap_(static_cast<char *>(std::malloc(QARN_DOWNLOAD_READ_LEN))),
        bytes_(heap_ != nullptr ? heap_ : fallback_block),
        length_(heap_ != nullptr ? QARN_DOWNLOAD_READ_LEN : QARN_DOWNLOAD_BLOCK_LEN) {}
  ~receive_buffer() { std::free(heap_); }
  receive_buffer(const receive_buffer &) = delete;
  receive_buffer &operator=(const receive_buffer &) = delete;

  char *bytes() const { return bytes_; }
  int32_t length() const { return length_; }

 private:
  char *heap_;
  char *bytes_;
  int32_t length_;
};

}  // namespace

qarn_http_downloader::qarn_http_downloader() { std::memset(&server_address, 0, sizeof(server_address)); }

qarn_http_downloader::~qarn_http_downloader() {
  close_output_file();
  tcp_socket.close();  // a kept connection
}

int qarn_http_downloader::set_connection(const char *host_name, int port, int tls) {
  if (host_name == nullptr) {
    report("Error in qarn_http_downloader::set_connection(), NULL host name.", QARN_DIAG_MISUSE);
    return 0;
  }
  use_tls = tls;
  server_port = port;
  if (kept_.aim(host_name, port, tls)) {
    return 1;
  }
  return qarn_resolve_host(host_name, &server_address);
}

int qarn_http_downloader::download(const char *host, const char *path, const char *destination) {
  if (host == nullptr) {
    report("Error in qarn_http_downloader::download(), NULL host.", QARN_DIAG_MISUSE);
    return 0;
  }
  if (path == nullptr) {
    report("Error in qarn_http_downloader::download(), NULL path.", QARN_DIAG_MISUSE);
    return 0;
  }
  if (destination == nullptr) {
    report("Error in qarn_http_downloader::download(), NULL destination file name.", QARN_DIAG_MISUSE);
    return 0;
  }
  if (data_callback != nullptr) {
    report("Error in qarn_http_downloader::download(), attempt to do file based download after setting data "
           "callback.",
           QARN_DIAG_MISUSE);
    return 0;
  }
  // A name cut to fit would send the body to another file.
  if (std::strlen(destination) >= static_cast<size_t>(QARN_BOUNDED_STRING_CAPACITY)) {
    report("Error in qarn_http_downloader::download(), destination file name too long.", QARN_DIAG_MISUSE);
    return 0;
  }
  destination_file_name.assign(destination);
  return download(host, path);
}

int qarn_http_downloader::download(const char *host, const char *path) {
  if (destination_file_name.length() == 0 && data_callback == nullptr) {
    report("Error in qarn_http_downloader::download(), NULL destination file name and NULL download data "
           "callback.",
           QARN_DIAG_MISUSE);
    return 0;
  }
  if (resume_offset > 0 && (data_callback != nullptr || resource_length <= resume_offset)) {
    report("Error in qarn_http_downloader::download(), resume without a file or beyond the resource's length.",
           QARN_DIAG_MISUSE);
    return 0;
  }
  created_output_file_ = 0;
  keep_failed_file_ = 0;
  broken_ = 0;
  resume_refused_ = 0;
  partial_length_ = 0;
  header_complete_ = 0;
  body_bytes_ = 0;
  // A downloader that carries several downloads judges each by its own
  // counts only.
  expected_length = QARN_DOWNLOAD_LENGTH_UNKNOWN;
  received_length = 0;
  int result = EXCHANGE_STALE;
  // At most twice: after a stale kept connection comes a new one, which
  // cannot go stale.
  while (result == EXCHANGE_STALE) {
    if (!kept_.take(tcp_socket) && !connect()) {
      result = 0;
      break;
    }
    result = exchange_once(host, path);
  }
  int closed = close_output_file();
  if (result == 0 && !keep_failed_file_ && !keeps_partial_file(closed)) {
    delete_created_file();
  }
  return result;
}

// connect opens a new connection to the server. Returns 1, or 0 after a
// report.
int qarn_http_downloader::connect() {
  if (use_tls) {
    tcp_socket.enable_ssl();
  } else {
    tcp_socket.disable_ssl();
  }
  if (tcp_socket.start_nonblocking_connect(&server_address, server_port, QARN_DOWNLOAD_CONNECT_TIMEOUT_MS) <= 0) {
    report("Error in qarn_http_downloader::download(), connect failed.", QARN_DIAG_CONNECTION);
    tcp_socket.close();  // a TCP connection without its TLS object stays open otherwise
    return 0;
  }
  return 1;
}

// exchange_once sends the request on tcp_socket's connection and reads the
// answer; afterwards the connection is either kept for the next request or
// closed. Returns 1, 0 or EXCHANGE_STALE.
int qarn_http_downloader::exchange_once(const char *host, const char *path) {
  char block[QARN_DOWNLOAD_BLOCK_LEN];
  qarn_http_data_processor_oline processor;
  processor.callback_context = this;
  processor.connection_close = callback_connection_close;
  processor.message_received = callback_message_received;
  processor.message_complete = callback_message_complete;
  processor.content_data_received = callback_content_data_received;
  processor.content_body_get_tx_data = callback_content_body_get_tx_data;
  processor.close_requested = keep_connection ? 0 : 1;
  processor.stop_after_response = 1;
  processor.tx_range_from = resume_offset > 0 ? resume_offset : -1;
  unread_after_response_ = 0;
  int result = exchange(processor, host, path, block);
  kept_.release(tcp_socket, keep_connection && result == 1, processor, unread_after_response_);
  return result;
}

int qarn_http_downloader::exchange(qarn_http_data_processor_oline &processor, const char *host, const char *path,
                                   char *block) {
  if (!processor.start_http_GET(host, path)) {
    report("Error in qarn_http_downloader::download(), unable to start HTTP GET?", QARN_DIAG_OPERATION);
    return 0;
  }
  int sent = send_request(processor, block);
  if (sent != 1) {
    return sent;
  }
  if (tcp_socket.poll_state() == QARN_SOCKET_STATE_UNCONNECTED) {
    return handle_connection_end(processor);
  }
  return receive_response(processor, block);
}

int qarn_http_downloader::send_request(qarn_http_data_processor_oline &processor, char *block) {
  qarn_idle_bound bound(idle_timeout_ms);
  while (tcp_socket.poll_state() & QARN_SOCKET_STATE_CONNECTED) {
    int32_t length = processor.get_tx_data(block, QARN_DOWNLOAD_BLOCK_LEN);
    if (length <= 0) {
      return 1;
    }
    int32_t sent = 0;
    while (sent < length) {
      int wait_ms = bound.next_wait_ms(QARN_DOWNLOAD_WRITE_TIMEOUT_MS);
      if (wait_ms == 0) {
        qarn_report_download_idle("sent", bound.limit_ms());
        return 0;
      }
      int n = tcp_socket.nonblocking_write(block + sent, length - sent, wait_ms);
      if (n < 0 && kept_.went_stale()) {
        return EXCHANGE_STALE;
      }
      if (n < 0) {
        report("Error in qarn_http_downloader::download(), blocking write failed.", QARN_DIAG_OPERATION);
        return 0;
      }
      if (n > 0) {
        sent += n;
        bound.moved();
      }
    }
  }
  return 1;
}

int qarn_http_downloader::receive_response(qarn_http_data_processor_oline &processor, char *block) {
  receive_buffer buffer(block);
  const qarn_download_bound_settings settings = {idle_timeout_ms, header_timeout_ms, low_speed_limit_bytes,
                                                  low_speed_window_ms, total_timeout_ms};
  // One clock reading per read serves every bound.
  int64_t now_ms = qarn_clock_ms();
  qarn_download_bounds bounds(settings, now_ms);
  bool streaming = false;  // the last read filled the whole buffer
  for (;;) {
    if (header_complete_ && !bounds.in_body()) {
      bounds.header_complete(now_ms, body_bytes_);
    }
    int wait_ms = bounds.next_wait_ms(now_ms, body_bytes_, QARN_DOWNLOAD_READ_TIMEOUT_MS);
    if (wait_ms == 0) {
      qarn_report_expired_bound(bounds);
      broken_ = 1;
      return 0;
    }
    int n = read_available(buffer.bytes(), buffer.length(), streaming, wait_ms);
    now_ms = qarn_clock_ms();
    streaming = n == buffer.length();
    if (n < 0) {
      return handle_connection_end(processor);
    }
    if (n > 0) {
      bounds.moved(now_ms);
      kept_.response_arrived(n);
      int outcome = handle_received(processor, buffer.bytes(), n);
      if (outcome >= 0) {
        return outcome;
      }
    }
    if (tcp_socket.poll_state() == QARN_SOCKET_STATE_UNCONNECTED) {
      return handle_connection_end(processor);
    }
  }
}

// read_available reads up to |length| bytes, waiting up to |wait_ms| for
// them; while a transfer streams, more is usually there already, so the
// wait is skipped unless nothing is. Returns what the socket's read returns.
int qarn_http_downloader::read_available(char *bytes, int32_t length, bool streaming, int wait_ms) {
  if (streaming) {
    int n = tcp_socket.nonblocking_read(bytes, length);
    if (n != 0) {
      return n;
    }
  }
  return tcp_socket.blocking_read(bytes, length, wait_ms);
}

// handle_received hands the bytes of one read to the processor in blocks of
// at most QARN_DOWNLOAD_BLOCK_LEN, so that no body piece is larger than a
// block. Returns 1 or 0 when the download has ended with that result, -1 to
// read on.
int qarn_http_downloader::handle_received(qarn_http_data_processor_oline &processor, const char *bytes,
                                          int32_t length) {
  int outcome = -1;
  int32_t offset = 0;
  while (offset < length && outcome < 0) {
    int32_t left = length - offset;
    int32_t piece = left < QARN_DOWNLOAD_BLOCK_LEN ? left : QARN_DOWNLOAD_BLOCK_LEN;
    outcome = handle_block(processor, bytes + offset, piece);
    offset += piece;
  }
  unread_after_response_ = offset < length ? 1 : 0;
  // The file's pending bytes live in the read buffer, which the next read
  // fills again.
  if (!flush_file_writes() && outcome != 0) {
    report("Error in qarn_http_downloader::download(), http data fetch failed.", QARN_DIAG_OPERATION);
    return 0;
  }
  return outcome;
}

// handle_block feeds one received block to the processor. Returns 1 or 0
// when the download has ended with that result, -1 to read on.
int qarn_http_downloader::handle_block(qarn_http_data_processor_oline &processor, const char *block,
                                       int32_t length) {
  int r = processor.put_rx_data(block, length);
  if (r < 0 || (r == 0 && !processor.rx_message_complete())) {
    report("Error in qarn_http_downloader::download(), http data fetch failed.", QARN_DIAG_OPERATION);
    return 0;
  }
  if (r == 0) {
    return 1;
  }
  // A connection that is not kept the processor closes through
  // callback_connection_close once the response is complete.
  if (processor.rx_message_complete()) {
    return 1;
  }
  if (tcp_socket.poll_state() == QARN_SOCKET_STATE_UNCONNECTED) {
    return handle_connection_end(processor);
  }
  return -1;
}

// handle_connection_end decides the download once the connection is gone:
// by the processor's word when we or the server closed it in order, by the
// byte counts when it broke.
int qarn_http_downloader::handle_connection_end(qarn_http_data_processor_oline &processor) {
  if (processor.rx_message_complete()) {
    return 1;
  }
  if (kept_.went_stale()) {
    return EXCHANGE_STALE;
  }
  // A transient code is what a read that found nothing left behind, not
  // how the connection ended.
  if (tcp_socket.read_error != 0 && !qarn_socket_error_is_transient(tcp_socket.read_error)) {
    return handle_broken_connection();
  }
  // Only a body delimited by the close is completed by it; anything else
  // that ends here was cut short.
  if (processor.put_rx_close() == 1) {
    return 1;
  }
  report("Error in qarn_http_downloader::download(), connection closed before the response was complete.",
         QARN_DIAG_OPERATION);
  broken_ = 1;
  return 0;
}

int qarn_http_downloader::handle_broken_connection() {
  broken_ = 1;
  if (progress_callback != nullptr) {
    if (received_length == expected_length) {
      report("Error in qarn_http_downloader::download(), blocking read failed but all data received.",
             QARN_DIAG_OPERATION);
    } else {
      report("Error in qarn_http_downloader::download(), blocking read failed, not all bytes read.",
             QARN_DIAG_OPERATION);
    }
    return 0;
  }
  if (received_length != expected_length) {
    report("Error in qarn_http_downloader::download(), blocking read failed, unknown file state.  Deleting file.",
           QARN_DIAG_OPERATION);
    return 0;
  }
  report("Error in qarn_http_downloader::download(), blocking read failed but file seems ok.  Keeping file.",
         QARN_DIAG_OPERATION);
  keep_failed_file_ = 1;
  return 0;
}

// flush_file_writes writes the body bytes still pending for output_file.
// Returns 1, or 0 after a report when the disk did not take them all.
int qarn_http_downloader::flush_file_writes() {
  if (!file_writes_.has_pending()) {
    return 1;
  }
  if (output_file != nullptr && file_writes_.flush(output_file)) {
    return 1;
  }
  report("Warning in qarn_http_downloader::callback_content_data_received(), unable to write all data to disk.  "
         "Bailing.",
         QARN_DIAG_OPERATION);
  return 0;
}

int qarn_http_downloader::close_output_file() {
  if (output_file == nullptr) {
    return 0;
  }
  int closed = qarn_fclose(output_file);
  output_file = nullptr;
  std::free(file_buffer_);
  file_buffer_ = nullptr;
  return closed;
}

// A failed download leaves no file that could pass for the resource. A file
// this download did not create or truncate still holds what it held before
// and stays; so does anything that is not a regular file (a device, say).
void qarn_http_downloader::delete_created_file() {
  if (!created_output_file_) {
    return;
  }
  created_output_file_ = 0;
  qarn_file_info info;
  if (qarn_filename_get_file_info(destination_file_name.text(), &info) && info.is_regular_file) {
    qarn_remove(destination_file_name.text());
  }
}

int qarn_http_downloader::open_output_file() {
  output_file = qarn_fopen(destination_file_name.text(), "wb");
  if (output_file == nullptr) {
    report_about_file("Warning in qarn_http_downloader::callback_message_received(), unable to open output file ",
                      destination_file_name.text(), ".  Aborting download.");
    return 0;
  }
  created_output_file_ = 1;
  choose_file_buffer(expected_length);
  return 1;
}

// A body declared larger than the file's buffer arrives in runs of whole
// reads (file_writes_): each goes to the system in one call, straight from
// the read buffer, and a buffer in between would only copy it. Any other
// body is gathered in the buffer, so that small or chunked pieces do not
// cost a call each; without the memory the file keeps its default buffer.
// Called before any other use of output_file.
void qarn_http_downloader::choose_file_buffer(int64_t body_length) {
  if (body_length >= QARN_DOWNLOAD_FILE_BUFFER_LEN) {
    std::setvbuf(output_file, nullptr, _IONBF, 0);
    return;
  }
  file_buffer_ = static_cast<char *>(std::malloc(QARN_DOWNLOAD_FILE_BUFFER_LEN));
  if (file_buffer_ != nullptr) {
    std::setvbuf(output_file, file_buffer_, _IOFBF, QARN_DOWNLOAD_FILE_BUFFER_LEN);
  }
}

void qarn_http_downloader::callback_connection_close(qarn_http_data_processor_oline *, void *context) {
  downloader_of(context).tcp_socket.close();
}

int qarn_http_downloader::callback_message_received(qarn_http_data_processor_oline *processor, void *context) {
  qarn_http_downloader &self = downloader_of(context);
  if (self.destination_file_name.length() == 0 && self.data_callback == nullptr) {
    report("Error in qarn_http_downloader::callback_message_received(), NULL destination file name and NULL "
           "download data callback.",
           QARN_DIAG_MISUSE);
    return 0;
  }
  self.received_length = 0;
  self.expected_length = processor->rx_content_length;
  if (self.data_callback != nullptr) {
    if (processor->rx_status == QARN_DOWNLOAD_STATUS_OK) {
      self.header_complete_ = 1;
      return 1;
    }
    report("Warning in qarn_http_downloader::callback_message_received(), download failed in callback mode.",
           QARN_DIAG_OPERATION);
    return 0;
  }
  if (processor->rx_status == QARN_DOWNLOAD_STATUS_OK) {
    self.header_complete_ = 1;
    return self.open_output_file();
  }
  int partial = self.resume_offset > 0 ? self.accept_partial_answer(*processor) : -1;
  if (partial >= 0) {
    return partial;
  }
  report_about_file("Warning in qarn_http_downloader::callback_message_received(), download failed for file ",
                    self.destination_file_name.text(), ".  Aborting download.");
  return 0;
}

int qarn_http_downloader::callback_message_complete(qarn_http_data_processor_oline *, void *context) {
  qarn_http_downloader &self = downloader_of(context);
  if (self.body_check != nullptr && !self.body_check->finish()) {
    report("Warning in qarn_http_downloader::callback_message_complete(), body refused by its check.  Bailing.",
           QARN_DIAG_OPERATION);
    return 0;
  }
  if (self.output_file == nullptr) {
    return 1;
  }
  if (!self.flush_file_writes()) {
    return 0;
  }
  // The last buffered bytes reach the disk only here; losing them must not
  // pass for a complete file.
  if (self.close_output_file() != 0) {
    report_about_file("Warning in qarn_http_downloader::callback_message_complete(), unable to close output file ",
                      self.destination_file_name.text(), ".  Bailing.");
    return 0;
  }
  return 1;
}

int qarn_http_downloader::callback_content_data_received(qarn_http_data_processor_oline *, void *context,
                                                         const char *bytes, int32_t length) {
  qarn_http_downloader &self = downloader_of(context);
  if (length <= 0) {
    return 0;
  }
  if (length > QARN_DOWNLOAD_LARGEST_BODY - self.received_length) {
    qarn_report_body_too_long();
    return 0;
  }
  if (self.received_length == 0 && self.progress_callback != nullptr) {
    self.progress_callback(self.callback_context, 0, self.expected_length);
  }
  if (self.body_check != nullptr && !self.body_check->take(bytes, length)) {
    report("Warning in qarn_http_downloader::callback_content_data_received(), body refused by its check.  "
           "Bailing.",
           QARN_DIAG_OPERATION);
    return 0;
  }
  // After the check, whose own verdict on a long body says more.
  if (self.resource_length >= 0 && length > self.resource_length - self.received_length) {
    qarn_report_body_longer_than_resource(self.resource_length);
    return 0;
  }
  int result = self.deliver_body(bytes, length);
  if (result < 0) {
    return 0;
  }
  if (self.progress_callback != nullptr) {
    self.progress_callback(self.callback_context, self.received_length, self.expected_length);
  }
  return result;
}

// deliver_body is the one place where body bytes leave the downloader: to
// data_callback, or into the output file. Returns 1 to go on; 0 when
// data_callback asked to abort (the bytes count as received all the same);
// -1 when the file did not take them (reported).
int qarn_http_downloader::deliver_body(const char *bytes, int32_t length) {
  body_bytes_ += length;
  if (data_callback != nullptr) {
    int go_on = data_callback(callback_context, bytes, length);
    received_length += length;
    return go_on != 0 ? 1 : 0;
  }
  return deliver_to_file(bytes, length) ? 1 : -1;
}

int qarn_http_downloader::deliver_to_file(const char *bytes, int32_t length) {
  if (output_file == nullptr) {
    report("Warning in qarn_http_downloader::callback_content_data_received(), attempt to download data via "
           "callback, only no callback set.",
           QARN_DIAG_OPERATION);
    return 0;
  }
  if (!file_writes_.append(output_file, bytes, length)) {
    report("Warning in qarn_http_downloader::callback_content_data_received(), unable to write all data to disk.  "
           "Bailing.",
           QARN_DIAG_OPERATION);
    return 0;
  }
  received_length += length;
  return 1;
}

int qarn_http_downloader::callback_content_body_get_tx_data(qarn_http_data_processor_oline *, void *, char *,
                                                            int32_t) {
  report("Error in qarn_http_downloader::callback_content_body_get_tx_data(), this callback should never be "
         "invoked.",
         QARN_DIAG_MISUSE);
  return -1;
}
