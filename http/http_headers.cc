// Header lines: header_line_parse and one handler per header the processor
// looks at. Header names are matched as whole words, colon included, in any
// letter case; the value is everything from the second word on.
#include <cstring>

#include "http/content_range.h"
#include "http/http_cookie.h"
#include "http/http_data_processor.h"
#include "support/diagnostics.h"
#include "support/file_size_limit.h"
#include "support/text_scan.h"

namespace {

constexpr int64_t LARGEST_CONTENT_LENGTH = QARN_LARGEST_FILE_SIZE;

// Longest media type the table can match; longer ones are "any other".
constexpr int32_t MEDIA_TYPE_BUFFER_SIZE = 64;
// Longest Connection or Expect token looked at; longer ones match nothing.
constexpr int32_t TOKEN_BUFFER_SIZE = 64;

struct media_type_entry {
  const char *name;
  qarn_http_media_type code;
};

const media_type_entry MEDIA_TYPES[] = {
    {"text/plain", QARN_MEDIA_TEXT_PLAIN},
    {"text/html", QARN_MEDIA_TEXT_HTML},
    {"application/x-www-form-urlencoded", QARN_MEDIA_FORM_URLENCODED},
    {"application/xml", QARN_MEDIA_XML},
    {"application/rss+xml", QARN_MEDIA_RSS_XML},
    {"application/json", QARN_MEDIA_JSON},
    {"application/octet-stream", QARN_MEDIA_OCTET_STREAM},
};

enum content_length_result { LENGTH_OK, LENGTH_BAD, LENGTH_TOO_LARGE };

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_word_end(char c) { return c == '\0' || c == ' ' || c == '\t' || c == '\n'; }

// Copies the start of |text| up to a word end or any of |stops| into
// |out| of |size| bytes. Returns false when the token does not fit.
bool copy_token(const char *text, const char *stops, char *out, int32_t size) {
  int32_t length = 0;
  while (!is_word_end(text[length]) && std::strchr(stops, text[length]) == nullptr) {
    if (length + 1 >= size) {
      return false;
    }
    out[length] = text[length];
    length++;
  }
  out[length] = '\0';
  return true;
}

// Reads a Content-Length value: an optional sign, then at least one digit;
// reading stops at the first other character. Values beyond the largest
// file are refused rather than saturated.
content_length_result read_content_length(const char *value, int64_t *length) {
  if (value == nullptr) {
    return LENGTH_BAD;
  }
  bool negative = false;
  if (*value == '+' || *value == '-') {
    negative = *value == '-';
    value++;
  }
  if (!is_digit(*value)) {
    return LENGTH_BAD;
  }
  int64_t number = 0;
  for (; is_digit(*value); value++) {
    number = number * 10 + (*value - '0');
    if (number > LARGEST_CONTENT_LENGTH) {
      return negative ? LENGTH_BAD : LENGTH_TOO_LARGE;
    }
  }
  if (negative && number > 0) {
    return LENGTH_BAD;
  }
  *length = number;
  return LENGTH_OK;
}

qarn_http_media_type media_type_code(const char *value) {
  char type[MEDIA_TYPE_BUFFER_SIZE];
  if (!copy_token(value, ";", type, MEDIA_TYPE_BUFFER_SIZE)) {
    return QARN_MEDIA_OTHER;
  }
  for (const media_type_entry &entry : MEDIA_TYPES) {
    if (word_equal_nocase(type, entry.name)) {
      return entry.code;
    }
  }
  return QARN_MEDIA_OTHER;
}

void report_header(const char *headline, const char *line, int32_t category) {
  qarn_bounded_string message;
  message.append("Warning in qarn_http_data_processor_oline::header_line_parse(), ").append(headline);
  message.append(line);
  qarn_diagnostic(message.text(), category, QARN_MODULE_HTTP);
}

void replace_separators_with_spaces(char *text) {
  for (; *text != '\0'; text++) {
    if (*text == ',' || *text == ';') {
      *text = ' ';
    }
  }
}

}  // namespace

int qarn_http_data_processor_oline::header_line_parse(const char *line) {
  if (line == nullptr) {
    return QARN_HTTP_LINE_BAD;
  }
  if (rx_state_ != QARN_HTTP_RX_HEADERS) {
    reset_message();
    rx_state_ = QARN_HTTP_RX_HEADERS;
    if (!word_prefix_match_nocase("HTTP/", line)) {
      return parse_request_line(line) ? QARN_HTTP_LINE_ACCEPTED : QARN_HTTP_LINE_BAD;
    }
    if (parse_response_line(line)) {
      return QARN_HTTP_LINE_ACCEPTED;
    }
    qarn_bounded_string message;
    message.append("Warning in qarn_http_data_processor_oline::header_line_parse(), failed to parse response line '");
    message.append(line).append("'.");
    qarn_diagnostic(message.text(), QARN_DIAG_PROTOCOL, QARN_MODULE_HTTP);
    return QARN_HTTP_LINE_BAD;
  }
  const char *value = next_arg(line);
  if (word_equal_nocase(line, "Content-Length:")) {
    return parse_content_length_header(line, value);
  }
  if (word_equal_nocase(line, "Content-Type:")) {
    return parse_content_type_header(line, value);
  }
  if (word_equal_nocase(line, "Connection:")) {
    return parse_connection_header(line, value);
  }
  if (word_equal_nocase(line, "Expect:")) {
    return parse_expect_header(line, value);
  }
  if (word_equal_nocase(line, "Transfer-Encoding:")) {
    return parse_transfer_encoding_header(line, value);
  }
  if (word_equal_nocase(line, "Content-Range:")) {
    // A malformed range is no range: a client that asked for one refuses
    // the answer, any other ignores it.
    qarn_parse_content_range(value, &rx_content_range);
    return QARN_HTTP_LINE_ACCEPTED;
  }
  if (word_equal_nocase(line, "Host:")) {
    return parse_host_header(value);
  }
  if (word_equal_nocase(line, "Cookie:") && qarn_http_cookie::parse_cookie_header(this, value) < 0) {
    return QARN_HTTP_LINE_BAD;  // too many cookies: the message is refused
  }
  return QARN_HTTP_LINE_ACCEPTED;
}

int qarn_http_data_processor_oline::parse_content_length_header(const char *line, const char *value) {
  int64_t length = 0;
  switch (read_content_length(value, &length)) {
    case LENGTH_BAD:
      report_header("got bad content length, line: ", line, QARN_DIAG_PROTOCOL);
      return QARN_HTTP_LINE_BAD;
    case LENGTH_TOO_LARGE:
      report_header("got too large content length, line: ", line, QARN_DIAG_PROTOCOL);
      return QARN_HTTP_LINE_BAD;
    case LENGTH_OK:
      break;
  }
  rx_content_length = length;
  return QARN_HTTP_LINE_ACCEPTED;
}

int qarn_http_data_processor_oline::parse_content_type_header(const char *line, const char *value) {
  if (value == nullptr) {
    report_header("got bad content type line: ", line, QARN_DIAG_PROTOCOL);
    return QARN_HTTP_LINE_TOLERATED;
  }
  safe_strcpy(rx_content_type, value, QARN_HTTP_CONTENT_TYPE_SIZE);
  rx_content_type_code = media_type_code(value);
  return QARN_HTTP_LINE_ACCEPTED;
}

int qarn_http_data_processor_oline::parse_connection_header(const char *line, const char *value) {
  if (value == nullptr) {
    report_header("got bad 'Connection' line: ", line, QARN_DIAG_PROTOCOL);
    return QARN_HTTP_LINE_TOLERATED;
  }
  char token[TOKEN_BUFFER_SIZE];
  const bool fits = copy_token(value, ",;", token, TOKEN_BUFFER_SIZE);
  if (fits && word_equal_nocase(token, "close")) {
    if (rx_status > 0) {
      close_after_rx_ = 1;
    } else {
      close_after_tx_ = 1;
      close_requested = 1;
    }
  } else if (!fits || !(word_equal_nocase(token, "te") || word_equal_nocase(token, "keep-alive"))) {
    report_header("got questionable 'Connection' line: ", line, QARN_DIAG_CONNECTION);
  }
  return QARN_HTTP_LINE_ACCEPTED;
}

int qarn_http_data_processor_oline::parse_expect_header(const char *line, const char *value) {
  for (const char *word = value; word != nullptr; word = next_arg(word)) {
    char token[TOKEN_BUFFER_SIZE];
    if (copy_token(word, ";", token, TOKEN_BUFFER_SIZE) && word_equal_nocase(token, "100-continue")) {
      rx_expect_continue = 1;
      return QARN_HTTP_LINE_ACCEPTED;
    }
  }
  report_header("got bad 'Expect' line: ", line, QARN_DIAG_PROTOCOL);
  return QARN_HTTP_LINE_TOLERATED;
}

int qarn_http_data_processor_oline::parse_transfer_encoding_header(const char *line, const char *value) {
  if (value == nullptr) {
    report_header("got bad transfer encoding line: ", line, QARN_DIAG_PROTOCOL);
    return QARN_HTTP_LINE_TOLERATED;
  }
  safe_strcpy(rx_transfer_encoding, value, QARN_HTTP_TEXT_SIZE);
  replace_separators_with_spaces(rx_transfer_encoding);
  if (word_equal_nocase(rx_transfer_encoding, "chunked")) {
    rx_chunked = 1;
  }
  return QARN_HTTP_LINE_ACCEPTED;
}

int qarn_http_data_processor_oline::parse_host_header(const char *value) {
  if (value == nullptr) {
    return QARN_HTTP_LINE_TOLERATED;
  }
  if (rx_host[0] != '\0' && std::strcmp(rx_host, value) != 0) {
    return QARN_HTTP_LINE_TOLERATED;  // disagrees with the absolute target
  }
  safe_strcpy(rx_host, value, QARN_HTTP_TEXT_SIZE);
  return QARN_HTTP_LINE_ACCEPTED;
}
