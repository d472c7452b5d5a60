#include "http/http_data_processor.h"

#include "http/http_cookie.h"

qarn_http_data_processor_oline::qarn_http_data_processor_oline() {
  reset_message();
  tx_queue_.clear();
}

qarn_http_data_processor_oline::~qarn_http_data_processor_oline() {
  qarn_http_cookie::free_list(&rx_cookies);
  qarn_http_cookie::free_list(&tx_cookies);
}

void qarn_http_data_processor_oline::reset_message() {
  peer_version = QARN_HTTP_VERSION_OTHER;
  rx_status = 0;
  rx_reason[0] = '\0';
  rx_method[0] = '\0';
  rx_host[0] = '\0';
  rx_path[0] = '\0';
  rx_query[0] = '\0';
  rx_content_length = QARN_HTTP_NO_CONTENT_LENGTH;
  rx_transfer_encoding[0] = '\0';
  rx_content_type[0] = '\0';
  rx_content_type_code = QARN_MEDIA_NONE;
  rx_expect_continue = 0;
  rx_chunked = 0;
  rx_content_range = qarn_content_range();
  chunk_remaining = 0;
  rx_first_line.clear();
  if (rx_state_ == QARN_HTTP_RX_HEADERS) {
    rx_state_ = QARN_HTTP_RX_IDLE;
  }
  // A new message has begun: the previous one no longer answers for it.
  rx_complete_ = 0;
}

void qarn_http_data_processor_oline::notify_close() {
  if (connection_close != nullptr) {
    connection_close(this, callback_context);
  }
  close_after_tx_ = 0;
  close_after_rx_ = 0;
  close_requested = 0;
  if (rx_state_ == QARN_HTTP_RX_HEADERS) {
    rx_state_ = QARN_HTTP_RX_IDLE;
  }
}

int qarn_http_data_processor_oline::rx_in_body() const {
  switch (rx_state_) {
    case QARN_HTTP_RX_BODY:
    case QARN_HTTP_RX_CHUNK_SIZE:
    case QARN_HTTP_RX_CHUNK_DATA:
    case QARN_HTTP_RX_CHUNK_DATA_END:
      return 1;
    default:
      return 0;
  }
}

int32_t qarn_http_data_processor_oline::chunk_state() const {
  switch (rx_state_) {
    case QARN_HTTP_RX_HEADERS:
      return rx_chunked ? 1 : 0;  // chunked coding announced, body not begun
    case QARN_HTTP_RX_CHUNK_SIZE:
      return 1;
    case QARN_HTTP_RX_CHUNK_DATA:
      return 2;
    case QARN_HTTP_RX_CHUNK_DATA_END:
      return 3;
    default:
      return 0;
  }
}
