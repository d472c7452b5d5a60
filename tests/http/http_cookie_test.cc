#include "http/http_cookie.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "http/http_data_processor.h"
#include "http_test_support.h"
#include "tests/common/diagnostic_capture.h"

namespace {

using cookie_list = std::vector<std::pair<std::string, std::string>>;

cookie_list list_of(const qarn_http_cookie *cookie) {
  cookie_list out;
  for (; cookie != nullptr; cookie = cookie->next) {
    out.emplace_back(cookie->key, cookie->value);
  }
  return out;
}

std::string too_long(const char *setter, const std::string &text) {
  return std::string("Error in qarn_http_cookie::") + setter + "() - incoming string '" + text + "' too long.\n";
}

struct header_case {
  const char *name;
  const char *prefix;
  std::vector<std::string> headers;  // values of successive "Cookie:" lines
  int last_count;                    // result for the last one
  cookie_list expected;              // rx_cookies, newest first
  std::string printed;
};

class cookie_test : public diagnostic_capture_test {};

TEST_F(cookie_test, cookie_header_values) {
  const std::string value_255(255, 'v');
  const std::string value_256(256, 'w');
  const std::string key_64(64, 'k');
  const header_case cases[] = {
      {"pairs split at semicolons", "", {"a=1; b=x=y"}, 2, {{"b", "x=y"}, {"a", "1"}}, ""},
      {"a space ends a pair", "", {"a=1 b=2"}, 2, {{"b", "2"}, {"a", "1"}}, ""},
      {"prefix selects and is taken off", "app_", {"app_lang=en; other=1"}, 1, {{"lang", "en"}}, ""},
      {"prefix in any case", "app_", {"APP_Lang=en;;  ;app_x"}, 2, {{"x", ""}, {"Lang", "en"}}, ""},
      {"same name updates the record", "", {"lang=en", "LANG=de"}, 1, {{"lang", "de"}}, ""},
      {"pair without value", "", {"flag"}, 1, {{"flag", ""}}, ""},
      {"tab belongs to the pair", "", {"a=1\tb=2"}, 1, {{"a", "1\tb=2"}}, ""},
      {"longest value is stored", "", {"k=" + value_255}, 1, {{"k", value_255}}, ""},
      {"too long value is reported, not stored", "", {"k=" + value_256}, 1, {{"k", ""}},
       too_long("set_value", value_256)},
      {"too long value keeps the old one", "", {"k=old", "k=" + value_256}, 1, {{"k", "old"}},
       too_long("set_value", value_256)},
      {"too long key leaves the record without a key", "", {key_64 + "=1"}, 1, {{"", "1"}},
       too_long("set_key", key_64)},
      {"empty text", "", {""}, 0, {}, ""},
  };
  for (const header_case &c : cases) {
    SCOPED_TRACE(c.name);
    qarn_http_data_processor_oline processor;
    std::strcpy(processor.cookie_prefix, c.prefix);
    start_capture();
    int count = -1;
    for (const std::string &header : c.headers) {
      count = qarn_http_cookie::parse_cookie_header(&processor, header.c_str());
    }
    EXPECT_EQ(stop_capture(), c.printed);
    EXPECT_EQ(count, c.last_count);
    EXPECT_EQ(list_of(processor.rx_cookies), c.expected);
  }
}

// The received list keeps at most QARN_COOKIE_RX_LIST_MAX cookies; a new
// one beyond that refuses the line, while known names still update.
TEST_F(cookie_test, the_received_list_is_bounded) {
  auto pairs = [](int first, int count) {
    std::string text;
    for (int i = first; i < first + count; i++) {
      text += "c" + std::to_string(i) + "=" + std::to_string(i) + "; ";
    }
    return text;
  };
  const std::string limit_report = "Warning in qarn_http_cookie::parse_cookie_header(), more than " +
                                   std::to_string(QARN_COOKIE_RX_LIST_MAX) + " cookies, message refused.\n";
  constexpr int kSameNameCount = 1000;
  std::string same_name;
  for (int i = 0; i < kSameNameCount; i++) {
    same_name += "same=" + std::to_string(i) + ";";
  }
  struct bound_case {
    const char *name;
    std::vector<std::string> headers;
    int last_count;
    size_t kept;
    std::string printed;
  };
  const bound_case cases[] = {
      {"up to the limit in one line", {pairs(0, QARN_COOKIE_RX_LIST_MAX)}, QARN_COOKIE_RX_LIST_MAX,
       QARN_COOKIE_RX_LIST_MAX, ""},
      {"one beyond the limit in one line", {pairs(0, QARN_COOKIE_RX_LIST_MAX + 1)}, -1, QARN_COOKIE_RX_LIST_MAX,
       limit_report},
      {"one beyond the limit in a later line", {pairs(0, QARN_COOKIE_RX_LIST_MAX), pairs(QARN_COOKIE_RX_LIST_MAX, 1)},
       -1, QARN_COOKIE_RX_LIST_MAX, limit_report},
      {"known names update at the limit", {pairs(0, QARN_COOKIE_RX_LIST_MAX), pairs(0, 3)}, 3,
       QARN_COOKIE_RX_LIST_MAX, ""},
      {"one name many times", {same_name}, kSameNameCount, 1, ""},
  };
  for (const bound_case &c : cases) {
    SCOPED_TRACE(c.name);
    qarn_http_data_processor_oline processor;
    start_capture();
    int count = 0;
    for (const std::string &header : c.headers) {
      count = qarn_http_cookie::parse_cookie_header(&processor, header.c_str());
    }
    EXPECT_EQ(stop_capture(), c.printed);
    EXPECT_EQ(count, c.last_count);
    EXPECT_EQ(list_of(processor.rx_cookies).size(), c.kept);
  }
}

TEST_F(cookie_test, missing_text_stores_nothing) {
  qarn_http_data_processor_oline processor;
  EXPECT_EQ(qarn_http_cookie::parse_cookie_header(&processor, nullptr), 0);
  EXPECT_EQ(qarn_http_cookie::parse_cookie_header(nullptr, "a=1"), 0);
  EXPECT_EQ(processor.rx_cookies, nullptr);
}

TEST_F(cookie_test, parsed_cookies_carry_no_domain_age_or_secure_flag) {
  qarn_http_data_processor_oline processor;
  ASSERT_EQ(qarn_http_cookie::parse_cookie_header(&processor, "a=1"), 1);
  ASSERT_NE(processor.rx_cookies, nullptr);
  EXPECT_STREQ(processor.rx_cookies->domain, "");
  EXPECT_EQ(processor.rx_cookies->max_age, 0);
  EXPECT_EQ(processor.rx_cookies->secure, 0);
}

TEST_F(cookie_test, setters_keep_the_old_text_when_the_new_is_too_long) {
  qarn_http_cookie cookie;
  EXPECT_EQ(cookie.secure, 1);
  EXPECT_EQ(cookie.max_age, 300);
  const std::string domain_63(63, 'd');
  const std::string domain_64(64, 'e');
  EXPECT_EQ(cookie.set_domain(domain_63.c_str()), 1);
  start_capture();
  EXPECT_EQ(cookie.set_domain(domain_64.c_str()), 0);
  EXPECT_EQ(stop_capture(), too_long("set_domain", domain_64));
  EXPECT_EQ(std::string(cookie.domain), domain_63);
  EXPECT_EQ(cookie.set_domain(nullptr), 1);
  EXPECT_STREQ(cookie.domain, "");

  cookie.set_key("name");
  cookie.set_key(nullptr);
  EXPECT_STREQ(cookie.key, "");
  EXPECT_EQ(cookie.set_value("v"), 1);
  EXPECT_EQ(cookie.set_value(nullptr), 1);
  EXPECT_STREQ(cookie.value, "");
}

TEST_F(cookie_test, add_cookie_updates_all_but_the_key) {
  qarn_http_cookie *list = nullptr;
  qarn_http_cookie::add_cookie(&list, "Lang", "en", "a.example", 300, 1);
  qarn_http_cookie::add_cookie(&list, "other", "1", "", 10, 0);
  qarn_http_cookie::add_cookie(&list, "lang", "de", "b.example", 60, 0);
  ASSERT_EQ(list_of(list), (cookie_list{{"other", "1"}, {"Lang", "de"}}));
  const qarn_http_cookie *lang = list->next;
  EXPECT_STREQ(lang->domain, "b.example");
  EXPECT_EQ(lang->max_age, 60);
  EXPECT_EQ(lang->secure, 0);
  qarn_http_cookie::free_list(&list);
  EXPECT_EQ(list, nullptr);
}

struct set_cookie_case {
  const char *name;
  const char *prefix;
  int32_t max_age;
  int secure;
  const char *domain;
  std::string expected;
};

TEST_F(cookie_test, set_cookie_lines) {
  const set_cookie_case cases[] = {
      {"secure with prefix", "s_", 300, 1, "", "Set-Cookie: s_lang=en; Domain=; Path=/; Max-Age=300; HttpOnly; Secure\r\n"},
      {"not secure", "", 0, 0, "example.org", "Set-Cookie: lang=en; Domain=example.org; Path=/; Max-Age=0; HttpOnly\r\n"},
      {"negative age", "", -5, 0, "", "Set-Cookie: lang=en; Domain=; Path=/; Max-Age=-5; HttpOnly\r\n"},
  };
  for (const set_cookie_case &c : cases) {
    SCOPED_TRACE(c.name);
    qarn_http_data_processor_oline processor;
    std::strcpy(processor.cookie_prefix, c.prefix);
    qarn_http_cookie::add_cookie(&processor.tx_cookies, "lang", "en", c.domain, c.max_age, c.secure);
    qarn_bounded_string text;
    text.append("before\r\n");
    qarn_http_cookie::append_set_cookie_lines(&processor, text);
    EXPECT_EQ(std::string(text.text()), "before\r\n" + c.expected);
  }
}

TEST_F(cookie_test, empty_list_adds_nothing) {
  qarn_http_data_processor_oline processor;
  qarn_bounded_string text;
  qarn_http_cookie::append_set_cookie_lines(&processor, text);
  EXPECT_EQ(text.length(), 0);
}

}  // namespace
