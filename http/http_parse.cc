// The receiving side: the step driver, line collection, the end of the
// header section, message completion and the close of the connection.
// Bodies are decoded in http_body.cc, header lines read in http_headers.cc.
#include <cstring>

#include "http/http_data_processor.h"
#include "support/diagnostics.h"
#include "support/text_scan.h"

namespace {

constexpr char CR = '\r';
constexpr char LF = '\n';

constexpr int32_t STATUS_INTERIM_FIRST = 100;
constexpr int32_t STATUS_INTERIM_LAST = 199;
constexpr int32_t STATUS_NO_CONTENT = 204;
constexpr int32_t STATUS_NOT_MODIFIED = 304;

bool is_terminator(char c) { return c == CR || c == LF; }

bool is_interim(int32_t status) { return status >= STATUS_INTERIM_FIRST && status <= STATUS_INTERIM_LAST; }

void report_framing(const char *headline, const char *coding) {
  qarn_bounded_string message;
  message.append("Warning in qarn_http_data_processor_oline::put_rx_data(), ").append(headline).append(coding);
  qarn_diagnostic(message.text(), QARN_DIAG_PROTOCOL, QARN_MODULE_HTTP);
}

}  // namespace

int qarn_http_data_processor_oline::fail() {
  failed_ = 1;
  return -1;
}

int qarn_http_data_processor_oline::put_rx_data(const char *data, int32_t length) {
  if (data == nullptr || length <= 0) {
    return QARN_HTTP_RX_FAILED;
  }
  while (length > 0) {
    int32_t consumed = rx_step(data, length);
    if (consumed < 0) {
      return QARN_HTTP_RX_FAILED;
    }
    if (consumed == 0) {
      // Nothing consumed: a line ended by a lone terminator was handled, the
      // input is now discarded, or the processor failed.
      if (discard_rx_) {
        return QARN_HTTP_RX_DISCARDING;
      }
      if (failed_) {
        return QARN_HTTP_RX_FAILED;
      }
      continue;
    }
    data += consumed;
    length -= consumed;
  }
  return QARN_HTTP_RX_CONSUMED;
}

int32_t qarn_http_data_processor_oline::rx_step(const char *data, int32_t length) {
  if (length <= 0 || failed_) {
    return fail();
  }
  if (discard_rx_) {
    return length;
  }
  switch (rx_state_) {
    case QARN_HTTP_RX_BODY:
      return body_step(data, length);
    case QARN_HTTP_RX_CHUNK_DATA:
      return chunk_data_step(data, length);
    case QARN_HTTP_RX_CLOSED:
      return ignore_after_close(length);
    default:
      return line_step(data, length);
  }
}

// Bytes after the final response on a connection that is closing, or of a
// client that stops after its response: a server that sends more than it
// was asked for. They are not looked at; the notice
// is a trace, since the response itself is whole.
int32_t qarn_http_data_processor_oline::ignore_after_close(int32_t length) {
  rx_ignored_bytes_ += length;
  if (!rx_ignored_reported_) {
    rx_ignored_reported_ = 1;
    qarn_diagnostic("Warning in qarn_http_data_processor_oline::put_rx_data(), ignoring bytes after the final "
                    "response of a closing connection.",
                    QARN_DIAG_TRACE, QARN_MODULE_HTTP);
  }
  return length;
}

int32_t qarn_http_data_processor_oline::collect_line(const char *data, int32_t length) {
  int32_t consumed = 0;
  while (consumed < length) {
    char b = data[consumed];
    if ((b == LF && rx_last_char_ == CR) || (b == CR && rx_last_char_ == LF)) {
      consumed++;
      rx_last_char_ = 0;
      rx_line_complete_ = 1;
      break;
    }
    if (is_terminator(rx_last_char_)) {
      // A single terminator ended the line; |b| starts what follows.
      rx_last_char_ = 0;
      rx_line_complete_ = 1;
      break;
    }
    consumed++;
    if (!is_terminator(b)) {
      rx_line_.append_char(b);  // dropped once the line holds 5999 characters
    }
    rx_last_char_ = b;
  }
  return consumed;
}

// charge_header_bytes counts |count| more bytes of a header or trailer
// section. Returns 1, or -1 (failed, reported) once the section is longer
// than QARN_HTTP_HEADER_SECTION_MAX: the bytes are counted before their
// line is complete, so that an endless line is stopped as well.
int qarn_http_data_processor_oline::charge_header_bytes(int32_t count) {
  if (rx_state_ != QARN_HTTP_RX_IDLE && rx_state_ != QARN_HTTP_RX_HEADERS && rx_state_ != QARN_HTTP_RX_TRAILER) {
    return 1;  // size lines of a chunked body have their own line limit
  }
  rx_header_bytes_ += count;
  if (rx_header_bytes_ <= QARN_HTTP_HEADER_SECTION_MAX) {
    return 1;
  }
  qarn_bounded_string message;
  message.append("Warning in qarn_http_data_processor_oline::put_rx_data(), header section longer than ");
  message.append_int(QARN_HTTP_HEADER_SECTION_MAX);
  message.append(" bytes.");
  qarn_diagnostic(message.text(), QARN_DIAG_PROTOCOL, QARN_MODULE_HTTP);
  return fail();
}

// Returns the bytes consumed, 0 when the line handled started discarding
// input, or -1.
int32_t qarn_http_data_processor_oline::line_step(const char *data, int32_t length) {
  int32_t consumed = collect_line(data, length);
  if (charge_header_bytes(consumed) < 0) {
    return -1;
  }
  if (!rx_line_complete_) {
    return consumed;
  }
  int handled = handle_line();
  rx_line_.clear();
  rx_line_complete_ = 0;
  if (handled < 0) {
    return -1;
  }
  return handled == 0 ? 0 : consumed;
}

int qarn_http_data_processor_oline::handle_line() {
  const char *line = rx_line_.text();
  switch (rx_state_) {
    case QARN_HTTP_RX_CHUNK_SIZE:
      return handle_chunk_size_line(line);
    case QARN_HTTP_RX_CHUNK_DATA_END:
      return handle_chunk_data_end_line(line);
    case QARN_HTTP_RX_TRAILER:
      return handle_trailer_line(line);
    default:
      return handle_header_phase_line(line);
  }
}

int qarn_http_data_processor_oline::handle_header_phase_line(const char *line) {
  if (line[0] == '\0') {
    if (rx_state_ != QARN_HTTP_RX_HEADERS) {
      return 1;  // empty lines before and between messages are skipped
    }
    return end_header_section();
  }
  int result = header_line_parse(line);
  if (awaiting_response_) {
    return result == QARN_HTTP_LINE_BAD ? fail() : 1;
  }
  if (result == QARN_HTTP_LINE_ACCEPTED) {
    return 1;
  }
  return refuse_message();
}

int qarn_http_data_processor_oline::refuse_message() {
  if (awaiting_response_) {
    return fail();
  }
  if (!send_response_400("Bad Request")) {
    return fail();
  }
  close_after_tx_ = 1;
  discard_rx_ = 1;
  return 0;
}

// When a message names a transfer coding, the coding alone frames its body:
// a Content-Length beside it is ignored. Were both believed, a peer could
// make the two disagree and so move where the body ends, or where the next
// message seems to begin; for the same reason the connection is not used
// after such a message. HTTP/1.0 knows no transfer codings, so a 1.0
// message that names one has no framing that can be trusted, and a request
// body in a coding other than chunked has no known end.
int qarn_http_data_processor_oline::settle_framing() {
  if (rx_transfer_encoding[0] == '\0') {
    return 1;
  }
  if (peer_version <= QARN_HTTP_VERSION_1_0) {
    report_framing("got transfer coding in an HTTP/1.0 message: ", rx_transfer_encoding);
    return refuse_message();
  }
  if (rx_content_length != QARN_HTTP_NO_CONTENT_LENGTH) {
    report_framing("got both transfer coding and content length, the length is ignored: ", rx_transfer_encoding);
    rx_content_length = QARN_HTTP_NO_CONTENT_LENGTH;
    if (awaiting_response_) {
      close_after_rx_ = 1;
    } else {
      close_requested = 1;  // the answer closes the connection
    }
  }
  if (!rx_chunked && !awaiting_response_) {
    report_framing("got request body in a transfer coding other than chunked: ", rx_transfer_encoding);
    return refuse_message();
  }
  return 1;
}

int qarn_http_data_processor_oline::has_body() const {
  if (rx_transfer_encoding[0] != '\0') {
    // Framing was settled: chunked, or a response that runs to the close.
    return 1;
  }
  if (rx_content_length == QARN_HTTP_NO_CONTENT_LENGTH) {
    return rx_status > 0 ? 1 : 0;  // a response then runs to the connection's close
  }
  return rx_content_length > 0 ? 1 : 0;
}

int qarn_http_data_processor_oline::wants_continue() const {
  return !awaiting_response_ && peer_version >= QARN_HTTP_VERSION_1_1 && rx_status <= 0 && !force_http_1_0 &&
         (rx_expect_continue || word_in_list_nocase(rx_method, "PUT POST"));
}

int qarn_http_data_processor_oline::end_header_section() {
  rx_header_bytes_ = 0;
  int body = 0;
  if (awaiting_response_) {
    if (rx_status <= 0) {
      return fail();  // a client was given something other than a response
    }
  } else if (rx_status > 0) {
    return fail();  // a server was given a response
  }
  int framing = settle_framing();
  if (framing <= 0) {
    return framing;
  }
  if (awaiting_response_) {
    const bool no_body = is_interim(rx_status) || rx_status == STATUS_NO_CONTENT ||
                         rx_status == STATUS_NOT_MODIFIED || std::strcmp(sent_method_, "HEAD") == 0;
    body = no_body ? 0 : has_body();
  } else {
    body = has_body();
  }
  if (body) {
    rx_state_ = rx_chunked ? QARN_HTTP_RX_CHUNK_SIZE : QARN_HTTP_RX_BODY;
    rx_body_received_ = 0;
    rx_last_char_ = 0;
  }
  if (wants_continue() && !send_response_100()) {
    return fail();
  }
  if (message_received == nullptr || !message_received(this, callback_context)) {
    return fail();
  }
  if (!body) {
    return finish_message(QARN_HTTP_RX_IDLE);
  }
  return 1;
}

int qarn_http_data_processor_oline::finish_message(qarn_http_rx_state next_state) {
  rx_header_bytes_ = 0;  // a trailer or the next message counts afresh
  const bool final_response = !is_interim(rx_status);
  const bool closing = close_after_rx_ && final_response;
  // On a closing connection, and for a client that stops after its
  // response, nothing after the final response (and its trailer) is read:
  // a next status line must not reopen a finished answer.
  const bool last = closing || (stop_after_response && awaiting_response_ && final_response);
  rx_after_final_ = last ? 1 : 0;
  rx_state_ = (last && next_state == QARN_HTTP_RX_IDLE) ? QARN_HTTP_RX_CLOSED : next_state;
  const bool interim = awaiting_response_ && is_interim(rx_status);
  if (message_complete == nullptr || !message_complete(this, callback_context)) {
    return fail();
  }
  if (!interim) {
    rx_complete_ = 1;
  }
  if (closing) {
    notify_close();
  }
  return 1;
}

int qarn_http_data_processor_oline::put_rx_close() {
  if (failed_ || discard_rx_) {
    return 0;
  }
  if (is_terminator(rx_last_char_)) {
    // No byte will follow to prove the lone terminator: the line is whole.
    rx_last_char_ = 0;
    rx_line_complete_ = 1;
    int handled = handle_line();
    rx_line_.clear();
    rx_line_complete_ = 0;
    if (handled <= 0) {
      return 0;
    }
  }
  if (rx_state_ == QARN_HTTP_RX_BODY && rx_content_length == QARN_HTTP_NO_CONTENT_LENGTH) {
    // The close is what delimits this body: it is whole now.
    if (finish_message(QARN_HTTP_RX_IDLE) < 0) {
      return 0;
    }
  }
  return rx_complete_;
}
