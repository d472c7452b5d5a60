// The first line of a message: a status line from a server or a request
// line from a client, and the HTTP version word in either.
#include <cstring>

#include "http/http_data_processor.h"
#include "support/diagnostics.h"
#include "support/text_scan.h"

namespace {

constexpr int32_t HTTP_PREFIX_LEN = 5;  // "HTTP/"

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n'; }

// Copies |length| bytes from |start| into |field| of |size| bytes; a longer
// text is cut and reported by the bounded copy.
void copy_slice(char *field, int32_t size, const char *start, int32_t length) {
  qarn_bounded_string text;
  for (int32_t i = 0; i < length; i++) {
    text.append_char(start[i]);
  }
  safe_strcpy(field, text.text(), size);
}

const char *find_char(const char *start, const char *end, char c) {
  const void *found = std::memchr(start, c, static_cast<size_t>(end - start));
  return static_cast<const char *>(found);
}

const char *find_scheme_separator(const char *start, const char *end) {
  for (const char *p = start; end - p >= 3; p++) {
    if (p[0] == ':' && p[1] == '/' && p[2] == '/') {
      return p;
    }
  }
  return nullptr;
}

const char *skip_slashes(const char *start, const char *end) {
  while (start < end && *start == '/') {
    start++;
  }
  return start;
}

}  // namespace

int32_t qarn_http_data_processor_oline::try_extract_http_version_number(const char *word) {
  if (word_prefix_match_nocase("HTTP/", word) == 0) {
    qarn_bounded_string message;
    message.append("Warning in qarn_http_data_processor_oline::try_extract_http_version_number(), got bad http version '");
    message.append_word(word);
    message.append("'.");
    qarn_diagnostic(message.text(), QARN_DIAG_PROTOCOL, QARN_MODULE_HTTP);
    return QARN_HTTP_VERSION_OTHER;
  }
  const char *number = word + HTTP_PREFIX_LEN;
  if (word_equal_nocase(number, "1.0")) {
    return QARN_HTTP_VERSION_1_0;
  }
  if (word_equal_nocase(number, "1.1")) {
    return QARN_HTTP_VERSION_1_1;
  }
  if (parse_int(number, nullptr)) {
    return QARN_HTTP_VERSION_OTHER;
  }
  return QARN_HTTP_VERSION_UNREADABLE;
}

int qarn_http_data_processor_oline::parse_response_line(const char *line) {
  rx_first_line.assign(line);
  peer_version = try_extract_http_version_number(line);
  const char *status = next_arg(line);
  if (status == nullptr) {
    return 0;
  }
  int32_t number = 0;
  parse_int(status, &number);
  rx_status = number;
  if (rx_status <= 0) {
    return 0;
  }
  const char *reason = next_arg(status);
  if (reason == nullptr) {
    return 0;  // "HTTP/1.1 200" without a reason phrase
  }
  safe_strcpy(rx_reason, reason, QARN_HTTP_TEXT_SIZE);
  return 1;
}

int qarn_http_data_processor_oline::parse_request_line(const char *line) {
  rx_first_line.assign(line);
  const char *method = line;
  while (is_blank(*method)) {
    method++;
  }
  qarn_bounded_string method_word;
  method_word.append_word(method);
  safe_strcpy(rx_method, method_word.text(), QARN_HTTP_METHOD_SIZE);

  const char *rest = next_arg(line);
  if (rest == nullptr) {
    return 0;
  }
  const char *version = last_arg(line);
  if (word_prefix_match_nocase("HTTP/", version) == 0) {
    return 0;
  }
  peer_version = try_extract_http_version_number(version);
  const char *end = version;
  while (end > rest && is_blank(end[-1])) {
    end--;
  }
  const char *start = skip_slashes(rest, end);
  parse_request_target(start, static_cast<int32_t>(end - start));
  return 1;
}

void qarn_http_data_processor_oline::parse_request_target(const char *target, int32_t target_len) {
  const char *end = target + target_len;
  const char *question = find_char(target, end, '?');
  if (question != nullptr) {
    if (question + 1 < end) {
      copy_slice(rx_query, QARN_HTTP_TEXT_SIZE, question + 1, static_cast<int32_t>(end - question - 1));
    }
    end = question;
  }
  const char *scheme_end = find_scheme_separator(target, end);
  if (scheme_end == nullptr || scheme_end + 3 >= end) {
    copy_slice(rx_path, QARN_HTTP_TEXT_SIZE, target, static_cast<int32_t>(end - target));
    return;
  }
  const char *authority = scheme_end + 3;
  const char *slash = find_char(authority, end, '/');
  const char *authority_end = slash != nullptr ? slash : end;
  copy_slice(rx_host, QARN_HTTP_TEXT_SIZE, authority, static_cast<int32_t>(authority_end - authority));
  if (slash != nullptr) {
    // The path never starts with "/", also after an authority.
    const char *path = skip_slashes(slash, end);
    copy_slice(rx_path, QARN_HTTP_TEXT_SIZE, path, static_cast<int32_t>(end - path));
  }
}
