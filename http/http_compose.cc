// The sending side: requests, the two answers a server sends by itself,
// the framing of an outgoing body and the pull interface.
#include <cinttypes>
#include <cstring>

#include "http/http_cookie.h"
#include "http/http_data_processor.h"
#include "support/diagnostics.h"
#include "support/text_scan.h"

namespace {

const char CRLF[] = "\r\n";
const char LAST_CHUNK[] = "0\r\n\r\n";  // the last chunk and the empty line ending the body

// Path bytes from "!" to "~" travel as they are, except the three that a
// server reads as syntax rather than as part of the name: "%" starts an
// escape, "?" the query and "#" the fragment. Sent raw, they would ask for
// another resource, or none. All others travel as "%xx".
constexpr unsigned char PATH_PLAIN_FIRST = 33;
constexpr unsigned char PATH_PLAIN_LAST = 126;
const char PATH_SYNTAX_BYTES[] = "%?#";

bool travels_plain(unsigned char byte) {
  return byte >= PATH_PLAIN_FIRST && byte <= PATH_PLAIN_LAST && std::strchr(PATH_SYNTAX_BYTES, byte) == nullptr;
}

void append_percent_encoded(qarn_bounded_string_base &text, const char *path) {
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(path); *p != '\0'; p++) {
    if (travels_plain(*p)) {
      text.append_char(static_cast<char>(*p));
    } else {
      text.append_format("%%%02x", static_cast<unsigned>(*p));
    }
  }
}

const char *protocol_version(int force_http_1_0) { return force_http_1_0 ? "HTTP/1.0" : "HTTP/1.1"; }

// The longest head the processor sends.
constexpr int32_t HEAD_MAX_LEN = QARN_BOUNDED_STRING_CAPACITY;

// message_head is where a head is composed: one character larger than the
// longest head, so that a head of exactly HEAD_MAX_LEN characters is told
// from one that was cut (only the cut one fills the string).
class message_head : public qarn_heap_bounded_string {
 public:
  message_head() : qarn_heap_bounded_string(HEAD_MAX_LEN + 1) {}
};

}  // namespace

int qarn_http_data_processor_oline::previous_message_pending(const char *operation) {
  if (close_after_rx_ || failed_) {
    return 1;
  }
  if (tx_body_remaining > 0) {
    qarn_bounded_string message;
    message.append("Error in qarn_http_data_processor_oline, attempt to '").append(operation);
    message.append("' without completing previous message.");
    qarn_diagnostic(message.text(), QARN_DIAG_OPERATION, QARN_MODULE_HTTP);
    return 1;
  }
  return 0;
}

// A head cut at the string's capacity would go out as a broken message
// that the peer waits on for ever; it is refused instead (the string
// reports the overflow when it is destroyed). A message_head is full only
// when something was cut, or when it could not get its storage.
int qarn_http_data_processor_oline::queue_head(const qarn_bounded_string_base &head) {
  if (head.is_full() || head.length() > HEAD_MAX_LEN) {
    return 0;
  }
  return tx_queue_.append_string(head.text()) == head.length() ? 1 : 0;
}

int qarn_http_data_processor_oline::start_http_GET(const char *host, const char *path) {
  if (previous_message_pending("start_http_GET")) {
    return 0;
  }
  if (path == nullptr || path[0] == '\0') {
    path = "/";
  }
  safe_strcpy(sent_method_, "GET", QARN_HTTP_METHOD_SIZE);
  message_head head;
  head.append("GET ");
  append_percent_encoded(head, path);
  head.append(" ").append(protocol_version(force_http_1_0)).append(CRLF);
  head.append("Host: ").append(host).append(CRLF);
  if (tx_range_from >= 0) {
    head.append_format("Range: bytes=%" PRId64 "-", tx_range_from).append(CRLF);
  }
  append_common_headers(head, 1, 0);
  qarn_http_cookie::append_set_cookie_lines(this, head);
  head.append(CRLF);
  if (!queue_head(head)) {
    // The head was not sent, so no response is awaited and none may close.
    close_after_rx_ = 0;
    return 0;
  }
  awaiting_response_ = 1;
  rx_complete_ = 0;  // the response to this request has yet to come
  if (rx_after_final_) {
    // The closed connection's leftovers are behind us: read the answer.
    rx_after_final_ = 0;
    rx_ignored_reported_ = 0;
    rx_ignored_bytes_ = 0;
    rx_state_ = QARN_HTTP_RX_IDLE;
  }
  return 1;
}

void qarn_http_data_processor_oline::append_common_headers(qarn_bounded_string_base &text, int is_request,
                                                           int32_t body_length) {
  tx_chunked_ = 0;
  if (body_length == 0) {
    text.append("Content-Length: 0").append(CRLF);
  } else if (allow_chunked_tx && peer_version >= QARN_HTTP_VERSION_1_1 && !force_http_1_0) {
    tx_chunked_ = 1;
    text.append("Transfer-Encoding: chunked").append(CRLF);
  } else if (body_length > 0) {
    text.append_format("Content-Length: %d", body_length).append(CRLF);
  }
  const bool old_peer = peer_version <= QARN_HTTP_VERSION_1_0;
  if (is_request) {
    if (auth_user[0] != '\0' || auth_password[0] != '\0') {
      qarn_bounded_string credentials;
      credentials.append(auth_user).append(":").append(auth_password);
      text.append("Authorization: Basic ");
      text.append_base64_text(credentials.text());
      text.append(CRLF);
    }
    text.append("Accept-Encoding: identity").append(CRLF);
    if (send_expect_100) {
      text.append("Expect: 100-continue").append(CRLF);
    }
    if (close_requested || old_peer || force_http_1_0) {
      text.append("Connection: close").append(CRLF);
      close_after_rx_ = 1;
    }
  } else if (close_requested || old_peer || force_http_1_0 || body_length < 0) {
    text.append("Connection: close").append(CRLF);
    close_after_tx_ = 1;
  }
}

void qarn_http_data_processor_oline::append_status_line(qarn_bounded_string_base &text, const char *status) {
  text.append(protocol_version(force_http_1_0)).append(" ").append(status).append(CRLF);
}

int qarn_http_data_processor_oline::send_response_100() {
  if (previous_message_pending("send_response_100")) {
    return 0;
  }
  message_head head;
  append_status_line(head, "100 continue");
  append_common_headers(head, 0, 0);
  head.append(CRLF);
  return queue_head(head);
}

int qarn_http_data_processor_oline::send_response_400(const char *reason) {
  if (previous_message_pending("send_response_400")) {
    return 0;
  }
  if (reason == nullptr || reason[0] == '\0') {
    reason = "Bad request";
  }
  close_requested = 1;
  qarn_bounded_string status;
  status.append("400 ").append(reason);
  message_head head;
  append_status_line(head, status.text());
  append_common_headers(head, 0, 0);
  head.append(CRLF);
  return queue_head(head);
}

int qarn_http_data_processor_oline::queue_last_chunk() {
  tx_queue_.append_string(LAST_CHUNK);
  tx_body_remaining = 0;
  return 1;
}

// Queues one piece of body from the callback, framed as a chunk when the
// message is chunked. Returns 1 when the body is now complete, else 0.
int qarn_http_data_processor_oline::queue_body_piece(const char *piece, int32_t length) {
  if (tx_chunked_) {
    qarn_bounded_string size_line;
    size_line.append_format("%x%s", static_cast<unsigned>(length), CRLF);
    tx_queue_.append_string(size_line.text());
  }
  tx_queue_.append_bytes(piece, length);
  if (tx_body_remaining > 0) {
    tx_body_remaining -= length;
  }
  if (tx_chunked_) {
    tx_queue_.append_string(CRLF);
    if (tx_body_remaining == 0) {
      queue_last_chunk();
      return 1;
    }
  }
  return tx_body_remaining == 0 ? 1 : 0;
}

int qarn_http_data_processor_oline::fill_content_body() {
  if (tx_body_remaining == 0) {
    return 1;
  }
  if (content_body_get_tx_data == nullptr) {
    qarn_diagnostic("Error in qarn_http_data_processor_oline::fill_content_body(), tx callback function was NULL.",
                    QARN_DIAG_OPERATION, QARN_MODULE_HTTP);
    return 0;
  }
  char block[QARN_HTTP_TX_BODY_BLOCK_LEN];
  for (;;) {
    int32_t wanted = (tx_body_remaining >= 1 && tx_body_remaining < QARN_HTTP_TX_BODY_BLOCK_LEN)
                         ? tx_body_remaining
                         : QARN_HTTP_TX_BODY_BLOCK_LEN;
    int n = content_body_get_tx_data(this, callback_context, block, wanted);
    if (n < -1 || n > wanted) {
      return 0;  // failure, or more than asked for: the block cannot hold it
    }
    if (n == 0) {
      return 1;
    }
    if (n == -1) {
      if (tx_chunked_) {
        return queue_last_chunk();
      }
      return tx_body_remaining > 0 ? 0 : 1;
    }
    if (queue_body_piece(block, n)) {
      return 1;
    }
  }
}

int32_t qarn_http_data_processor_oline::get_tx_data(char *buffer, int32_t max_len) {
  if (max_len <= 0 || failed_ || buffer == nullptr) {
    return -1;
  }
  if (tx_body_remaining != 0 && !fill_content_body()) {
    return -1;
  }
  if (rx_in_body() || !tx_queue_.is_empty()) {
    return tx_queue_.read_block(buffer, max_len);
  }
  if (close_after_tx_) {
    notify_close();
  }
  if (discard_rx_) {
    failed_ = 1;
  }
  return 0;
}
