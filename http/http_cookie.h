// qarn_http_cookie: one cookie of a processor's cookie lists. A list is a
// chain through next, newest first; the processor owns both of its lists
// (rx_cookies from received "Cookie:" lines, tx_cookies written as
// "Set-Cookie" lines into every request) and frees them when destroyed.
// cookie_prefix is the name space of both lists: outgoing names get it
// prepended, incoming names must begin with it and are stored without it.
#ifndef TORVANE_HTTP_HTTP_COOKIE_H
#define TORVANE_HTTP_HTTP_COOKIE_H

#include <cstdint>

#include "support/bounded_string.h"

class qarn_http_data_processor_oline;

constexpr int32_t QARN_COOKIE_KEY_SIZE = 64;      // terminator included
constexpr int32_t QARN_COOKIE_DOMAIN_SIZE = 64;
constexpr int32_t QARN_COOKIE_VALUE_SIZE = 256;
constexpr int32_t QARN_COOKIE_DEFAULT_MAX_AGE = 300;
// Most cookies that the received list keeps. Every cookie is looked up in
// the list and takes a record of its own: the bound keeps both the time and
// the memory that a peer's "Cookie:" lines cost proportional to their size.
constexpr int32_t QARN_COOKIE_RX_LIST_MAX = 64;

struct qarn_http_cookie {
  qarn_http_cookie *next = nullptr;
  int secure = 1;  // "; Secure" is written
  int32_t max_age = QARN_COOKIE_DEFAULT_MAX_AGE;  // seconds
  char key[QARN_COOKIE_KEY_SIZE] = "";
  char domain[QARN_COOKIE_DOMAIN_SIZE] = "";
  char value[QARN_COOKIE_VALUE_SIZE] = "";

  // set_key copies |text| (null gives ""); a text of 64 characters or more
  // is reported and leaves the key unchanged.
  void set_key(const char *text);
  // set_domain copies |text| (null gives ""). Returns 1, or 0 after a report
  // when it has 64 characters or more (domain unchanged).
  int set_domain(const char *text);
  // set_value copies |text| (null gives ""). Returns 1, or 0 after a report
  // when it has 256 characters or more (value unchanged).
  int set_value(const char *text);

  // add_cookie updates the record of |*list| whose key equals |key| as a
  // word (case of A-Z ignored), or puts a new record at the front of the
  // list. The list owns its records.
  static void add_cookie(qarn_http_cookie **list, const char *key, const char *value, const char *domain,
                         int32_t max_age, int secure);
  // free_list frees every record of |*list| and empties it.
  static void free_list(qarn_http_cookie **list);
  // parse_cookie_header stores the name=value pairs of a "Cookie:" value in
  // the processor's rx_cookies. Returns the number of cookies stored, or -1
  // after a report when a new cookie would pass QARN_COOKIE_RX_LIST_MAX
  // (the pairs before it are kept).
  static int parse_cookie_header(qarn_http_data_processor_oline *processor, const char *text);
  // append_set_cookie_lines appends one "Set-Cookie" line per cookie of the
  // processor's tx_cookies to |text|, front to back.
  static void append_set_cookie_lines(const qarn_http_data_processor_oline *processor,
                                      qarn_bounded_string_base &text);
};

#endif
