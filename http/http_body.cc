// Body decoding: length-delimited, close-delimited and chunked bodies.
// Body pieces are handed to content_data_received as slices of the
// caller's block, without copying.
#include <cstdint>

#include "http/http_data_processor.h"
#include "support/diagnostics.h"
#include "support/hex_text.h"

namespace {

// A chunk size is read from at most this many hexadecimal digits.
constexpr int CHUNK_SIZE_MAX_DIGITS = 20;
constexpr int64_t LARGEST_CHUNK = INT32_MAX;
// What may follow the digits and any blanks: the chunk extensions, which
// are ignored.
constexpr char CHUNK_EXTENSION_START = ';';

enum chunk_size_result { CHUNK_SIZE_OK, CHUNK_SIZE_BAD, CHUNK_SIZE_TOO_LARGE };

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

const char *skip_blanks(const char *text) {
  while (is_blank(*text)) {
    text++;
  }
  return text;
}

// Reads the size of a chunk size line into |size|: blanks, hexadecimal
// digits, blanks, then the end of the line or the extensions after ";".
// Anything else ("0x5", "5 bytes") is refused: read as far as it goes it
// would give a wrong size, and a wrong 0 would end the body early and pass
// a cut body for a whole one. Sizes that do not fit a signed 32-bit count
// are refused rather than cut or wrapped.
chunk_size_result read_chunk_size(const char *line, int32_t *size) {
  line = skip_blanks(line);
  if (qarn_hex_digit_value(*line) < 0) {
    return CHUNK_SIZE_BAD;
  }
  int64_t value = 0;
  for (int digits = 0; digits < CHUNK_SIZE_MAX_DIGITS && qarn_hex_digit_value(*line) >= 0; digits++, line++) {
    value = value * 16 + qarn_hex_digit_value(*line);
    if (value > LARGEST_CHUNK) {
      return CHUNK_SIZE_TOO_LARGE;
    }
  }
  line = skip_blanks(line);
  if (*line != '\0' && *line != CHUNK_EXTENSION_START) {
    return CHUNK_SIZE_BAD;
  }
  *size = static_cast<int32_t>(value);
  return CHUNK_SIZE_OK;
}

void report_chunk_size(const char *headline, const char *line) {
  qarn_bounded_string message;
  message.append("Warning in qarn_http_data_processor_oline::put_rx_data(), ").append(headline).append(line);
  qarn_diagnostic(message.text(), QARN_DIAG_PROTOCOL, QARN_MODULE_HTTP);
}

}  // namespace

int qarn_http_data_processor_oline::deliver_body(const char *data, int32_t length) {
  if (content_data_received == nullptr || !content_data_received(this, callback_context, data, length)) {
    return fail();
  }
  return 1;
}

int32_t qarn_http_data_processor_oline::body_step(const char *data, int32_t length) {
  const bool delimited_by_length = rx_content_length >= 0;
  int32_t piece = length;
  if (delimited_by_length && rx_content_length - rx_body_received_ < piece) {
    piece = static_cast<int32_t>(rx_content_length - rx_body_received_);
  }
  // An empty piece (a coded body of length 0) completes without a call.
  if (piece > 0 && deliver_body(data, piece) < 0) {
    return -1;
  }
  rx_body_received_ += piece;
  if (delimited_by_length && rx_body_received_ >= rx_content_length &&
      finish_message(QARN_HTTP_RX_IDLE) < 0) {
    return -1;
  }
  return piece;
}

int32_t qarn_http_data_processor_oline::chunk_data_step(const char *data, int32_t length) {
  int32_t piece = length < chunk_remaining ? length : chunk_remaining;
  if (deliver_body(data, piece) < 0) {
    return -1;
  }
  chunk_remaining -= piece;
  if (chunk_remaining == 0) {
    rx_state_ = QARN_HTTP_RX_CHUNK_DATA_END;
  }
  return piece;
}

// A malformed size line fails the call without making the failure sticky;
// a size too large for the processor's counts fails the message for good.
// Both are reported: either one ends the download of a body.
int qarn_http_data_processor_oline::handle_chunk_size_line(const char *line) {
  int32_t size = 0;
  switch (read_chunk_size(line, &size)) {
    case CHUNK_SIZE_BAD:
      report_chunk_size("got bad chunk size, line: ", line);
      return -1;
    case CHUNK_SIZE_TOO_LARGE:
      report_chunk_size("got too large chunk size, line: ", line);
      return fail();
    case CHUNK_SIZE_OK:
      break;
  }
  if (size == 0) {
    return finish_message(QARN_HTTP_RX_TRAILER);
  }
  chunk_remaining = size;
  rx_state_ = QARN_HTTP_RX_CHUNK_DATA;
  return 1;
}

int qarn_http_data_processor_oline::handle_chunk_data_end_line(const char *line) {
  if (line[0] != '\0') {
    return -1;
  }
  rx_state_ = QARN_HTTP_RX_CHUNK_SIZE;
  return 1;
}

int qarn_http_data_processor_oline::handle_trailer_line(const char *line) {
  if (line[0] == '\0') {
    rx_state_ = rx_after_final_ ? QARN_HTTP_RX_CLOSED : QARN_HTTP_RX_IDLE;
    rx_header_bytes_ = 0;
  }
  return 1;
}
