#include "http/http_cookie.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "http/http_data_processor.h"
#include "support/diagnostics.h"
#include "support/text_scan.h"

namespace {

// Stores |text| ("" for null) in |field| of |size| bytes, or reports it as
// too long for |setter| and leaves the field as it was.
int set_field(char *field, int32_t size, const char *text, const char *setter) {
  if (text == nullptr) {
    field[0] = '\0';
    return 1;
  }
  if (std::strlen(text) < static_cast<size_t>(size)) {
    std::memcpy(field, text, std::strlen(text) + 1);
    return 1;
  }
  qarn_bounded_string message;
  message.append("Error in qarn_http_cookie::").append(setter);
  message.append("() - incoming string '").append(text).append("' too long.");
  qarn_diagnostic(message.text(), QARN_DIAG_OPERATION, QARN_MODULE_HTTP);
  return 0;
}

qarn_http_cookie *find_cookie(qarn_http_cookie *list, const char *key) {
  for (qarn_http_cookie *cookie = list; cookie != nullptr; cookie = cookie->next) {
    if (word_equal_nocase(cookie->key, key)) {
      return cookie;
    }
  }
  return nullptr;
}

// is_new_cookie_beyond_limit returns true when |key| is not in |list| and
// the list already holds |limit| records: a walk of at most |limit| + 1.
bool is_new_cookie_beyond_limit(const qarn_http_cookie *list, const char *key, int32_t limit) {
  int32_t count = 0;
  for (const qarn_http_cookie *cookie = list; cookie != nullptr; cookie = cookie->next) {
    if (word_equal_nocase(cookie->key, key)) {
      return false;
    }
    count++;
  }
  return count >= limit;
}

void report_too_many_cookies() {
  qarn_bounded_string message;
  message.append("Warning in qarn_http_cookie::parse_cookie_header(), more than ");
  message.append_int(QARN_COOKIE_RX_LIST_MAX);
  message.append(" cookies, message refused.");
  qarn_diagnostic(message.text(), QARN_DIAG_PROTOCOL, QARN_MODULE_HTTP);
}

qarn_http_cookie *new_cookie() {
  void *memory = std::malloc(sizeof(qarn_http_cookie));
  if (memory == nullptr) {
    qarn_diagnostic("Error in qarn_http_cookie::add_cookie(), memory allocation fail.", QARN_DIAG_RESOURCE,
                    QARN_MODULE_HTTP);
    return nullptr;
  }
  return new (memory) qarn_http_cookie();
}

bool ends_pair(char c) { return c == '\0' || c == ';' || c == ' '; }

// Collects one name=value pair starting at |text| into |name| and |value|
// and returns the position after the pair and the separators that follow.
const char *collect_pair(const char *text, qarn_bounded_string_base &name, qarn_bounded_string_base &value) {
  qarn_bounded_string_base *target = &name;
  for (; !ends_pair(*text); text++) {
    if (*text == '=' && target == &name) {
      target = &value;  // a further "=" belongs to the value
      continue;
    }
    target->append_char(*text);
  }
  while (*text == ';' || *text == ' ') {
    text++;
  }
  return text;
}

}  // namespace

void qarn_http_cookie::set_key(const char *text) { set_field(key, QARN_COOKIE_KEY_SIZE, text, "set_key"); }

int qarn_http_cookie::set_domain(const char *text) {
  return set_field(domain, QARN_COOKIE_DOMAIN_SIZE, text, "set_domain");
}

int qarn_http_cookie::set_value(const char *text) {
  return set_field(value, QARN_COOKIE_VALUE_SIZE, text, "set_value");
}

void qarn_http_cookie::add_cookie(qarn_http_cookie **list, const char *key, const char *value, const char *domain,
                                  int32_t max_age, int secure) {
  if (list == nullptr) {
    qarn_diagnostic("Error in qarn_http_cookie::add_cookie(), NULL list.", QARN_DIAG_MISUSE, QARN_MODULE_HTTP);
    return;
  }
  qarn_http_cookie *cookie = find_cookie(*list, key);
  if (cookie == nullptr) {
    cookie = new_cookie();
    if (cookie == nullptr) {
      return;
    }
    cookie->next = *list;
    *list = cookie;
    cookie->set_key(key);
  }
  cookie->set_value(value);
  cookie->set_domain(domain);
  cookie->secure = secure;
  cookie->max_age = max_age;
}

void qarn_http_cookie::free_list(qarn_http_cookie **list) {
  while (*list != nullptr) {
    qarn_http_cookie *cookie = *list;
    *list = cookie->next;
    std::memset(static_cast<void *>(cookie), 0, sizeof(*cookie));
    std::free(cookie);
  }
}

int qarn_http_cookie::parse_cookie_header(qarn_http_data_processor_oline *processor, const char *text) {
  if (processor == nullptr || text == nullptr) {
    return 0;
  }
  const size_t prefix_len = std::strlen(processor->cookie_prefix);
  int count = 0;
  qarn_bounded_string name;
  qarn_bounded_string value;
  while (*text != '\0') {
    name.clear();
    value.clear();
    text = collect_pair(text, name, value);
    if (prefix_len > 0 && !word_prefix_match_nocase(processor->cookie_prefix, name.text())) {
      continue;
    }
    // A prefix with a blank in it can match a name shorter than itself.
    const char *key = static_cast<size_t>(name.length()) >= prefix_len ? name.text() + prefix_len : "";
    if (is_new_cookie_beyond_limit(processor->rx_cookies, key, QARN_COOKIE_RX_LIST_MAX)) {
      report_too_many_cookies();
      return -1;
    }
    count++;
    add_cookie(&processor->rx_cookies, key, value.text(), nullptr, 0, 0);
  }
  return count;
}

void qarn_http_cookie::append_set_cookie_lines(const qarn_http_data_processor_oline *processor,
                                               qarn_bounded_string_base &text) {
  if (processor == nullptr) {
    return;
  }
  for (const qarn_http_cookie *cookie = processor->tx_cookies; cookie != nullptr; cookie = cookie->next) {
    qarn_bounded_string line;
    line.append("Set-Cookie: ").append(processor->cookie_prefix).append(cookie->key);
    line.append("=").append(cookie->value).append(";");
    line.append(" Domain=").append(cookie->domain).append(";");
    line.append(" Path=/;");
    line.append(" Max-Age=");
    line.append_int(cookie->max_age);
    line.append(";").append(" HttpOnly");
    if (cookie->secure) {
      line.append("; Secure");
    }
    line.append("\r\n");
    text.append(line.text());
  }
}
