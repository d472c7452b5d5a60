#include "http/kept_connection.h"

#include <cstring>

#include "http/http_data_processor.h"

namespace {

// A name cut to fit the string could match another server's.
bool fits(const char *host_name) {
  return std::strlen(host_name) < static_cast<size_t>(QARN_BOUNDED_STRING_CAPACITY);
}

}  // namespace

int qarn_kept_connection::aim(const char *host_name, int port, int tls) {
  if (kept_ && fits(host_name) && std::strcmp(host_name_.text(), host_name) == 0 && port_ == port &&
      tls_ == tls) {
    return 1;
  }
  kept_ = 0;
  host_name_.assign(fits(host_name) ? host_name : "");
  port_ = port;
  tls_ = tls;
  return 0;
}

int qarn_kept_connection::take(qarn_tcp_socket &socket) {
  response_bytes_ = 0;
  reused_ = 0;
  if (kept_ && socket.state == QARN_SOCKET_STATE_CONNECTED) {
    // Between answers nothing may arrive: a byte now would be taken for
    // the start of the next answer, and an end means the server let the
    // connection go while it was idle.
    char unasked = 0;
    reused_ = socket.nonblocking_read(&unasked, 1) == 0 ? 1 : 0;
  }
  kept_ = 0;
  if (!reused_) {
    socket.close();
  }
  return reused_;
}

void qarn_kept_connection::release(qarn_tcp_socket &socket, int keep,
                                   const qarn_http_data_processor_oline &processor, int unread_bytes) {
  kept_ = keep && socket.state == QARN_SOCKET_STATE_CONNECTED && reusable_after(processor, unread_bytes);
  reused_ = 0;
  if (!kept_) {
    socket.close();
  }
}

int qarn_kept_connection::reusable_after(const qarn_http_data_processor_oline &processor, int unread_bytes) {
  // QARN_HTTP_RX_CLOSED: the final response and its trailer are complete
  // and the processor read nothing after them. An HTTP/1.0 server closes
  // unless told otherwise in a way this client does not ask for.
  return !processor.failed() && processor.rx_message_complete() && processor.rx_state() == QARN_HTTP_RX_CLOSED &&
         !processor.close_after_rx() && processor.peer_version == QARN_HTTP_VERSION_1_1 &&
         processor.rx_ignored_bytes() == 0 && !unread_bytes;
}
