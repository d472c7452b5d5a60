// Body decoding: length-delimited, close-delimited and chunked bodies.
// Body pieces are handed to content_data_received as slices of the
// caller's block, without copying.
#include <cstdint>

#include "http/http_data_processor.h"
#include "support/diagnostics.h"

namespace {

// A chunk size is read from at most this many hexadecimal digits; anything
// after them (a chunk extension) is ignored.
constexpr int CHUNK_SIZE_MAX_DIGITS = 20;
constexpr int64_t LARGEST_CHUNK = INT32_MAX;

enum chunk_size_result { CHUNK_SIZE_OK, CHUNK_SIZE_MISSING, CHUNK_SIZE_TOO_LARGE };

int hex_digit_value(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

bool is_leading_blank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

// Reads the size of a chunk size line into |size|. Sizes that do not fit a
// signed 32-bit count are refused rather than cut or wrapped.
chunk_size_result read_chunk_size(const char *line, int32_t *size) {
  while (is_leading_blank(*line)) {
    line++;
  }
  if (hex_digit_value(*line) < 0) {
    return CHUNK_SIZE_MISSING;
  }
  int64_t value = 0;
  for (int digits = 0; digits < CHUNK_SIZE_MAX_DIGITS && hex_digit_value(*line) >= 0; digits++, line++) {
    value = value * 16 + hex_digit_value(*line);
    if (value > LARGEST_CHUNK) {
      return CHUNK_SIZE_TOO_LARGE;
    }
  }
  *size = static_cast<int32_t>(value);
  return CHUNK_SIZE_OK;
}

void report_chunk_size_too_large(const char *line) {
  qarn_bounded_string message;
  message.append("Warning in qarn_http_data_processor_oline::put_rx_data(), got too large chunk size, line: ");
  message.append(line);
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
int qarn_http_data_processor_oline::handle_chunk_size_line(const char *line) {
  int32_t size = 0;
  switch (read_chunk_size(line, &size)) {
    case CHUNK_SIZE_MISSING:
      return -1;
    case CHUNK_SIZE_TOO_LARGE:
      report_chunk_size_too_large(line);
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
    rx_state_ = QARN_HTTP_RX_IDLE;
  }
  return 1;
}
