// The work a peer's header bytes can cause is bounded: a header or trailer
// section longer than QARN_HTTP_HEADER_SECTION_MAX, or more cookies than the
// received list keeps, fail the message with a report as soon as the bound
// is passed, however much more the peer sends. Time and memory are measured
// with limits generous enough that only a cost growing faster than the
// input (a walk of the whole cookie list per cookie, say) can break them.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "http/http_cookie.h"
#include "http/http_data_processor.h"
#include "http_test_support.h"
#include "tests/common/diagnostic_capture.h"

namespace http_test {
namespace {

// The downloader hands the processor pieces of this size.
constexpr size_t kFeedBlock = 8192;
// About what the flood of the original probe sent: 40000 cookies.
constexpr size_t kFloodBytes = 400 * 1000;
// Far below what a cost quadratic in the flood needs (seconds), far above
// what a linear one needs (a few milliseconds), even under sanitizers.
constexpr auto kTimeLimit = std::chrono::milliseconds(1500);

const char HEADER_BOUND_REPORT[] = "Warning in qarn_http_data_processor_oline::put_rx_data(), header section longer "
                                   "than 65536 bytes.";
const char COOKIE_BOUND_REPORT[] =
    "Warning in qarn_http_cookie::parse_cookie_header(), more than 64 cookies, message refused.";

// repeat_lines makes lines from |line_of(i)| until they hold |bytes| bytes.
std::string repeat_lines(size_t bytes, const std::function<std::string(size_t)> &line_of) {
  std::string text;
  for (size_t i = 0; text.size() < bytes; i++) {
    text += line_of(i);
  }
  return text;
}

struct flood_case {
  const char *name;
  role who;
  std::string input;
  const char *report;       // the line the failure is reported with
  size_t cookies_kept_max;  // the received cookie list at most
  std::string events;       // what the callbacks saw before the failure
};

std::vector<flood_case> flood_cases() {
  const std::string status = "HTTP/1.1 200 OK\r\n";
  auto distinct_cookie = [](size_t i) { return "Cookie: c" + std::to_string(i) + "=v\r\n"; };
  auto same_cookie = [](size_t i) { return "Cookie: same=" + std::to_string(i) + "\r\n"; };
  auto filler = [](size_t i) { return "X-Filler-" + std::to_string(i) + ": some value\r\n"; };
  auto cookie_pairs = [](size_t i) {
    std::string line = "Cookie:";
    for (int pair = 0; pair < 300; pair++) {
      line += " k" + std::to_string(i) + "_" + std::to_string(pair) + "=1;";
    }
    return line + "\r\n";
  };
  const std::string chunked_head = status + "Transfer-Encoding: chunked\r\n\r\n2\r\nok\r\n0\r\n";
  return {
      {"a cookie line per new cookie", CLIENT, status + repeat_lines(kFloodBytes, distinct_cookie), COOKIE_BOUND_REPORT,
       QARN_COOKIE_RX_LIST_MAX, ""},
      {"many cookies in each line", CLIENT, status + repeat_lines(kFloodBytes, cookie_pairs), COOKIE_BOUND_REPORT,
       QARN_COOKIE_RX_LIST_MAX, ""},
      {"one cookie set again and again", CLIENT, status + repeat_lines(kFloodBytes, same_cookie),
       HEADER_BOUND_REPORT, 1, ""},
      {"many header lines", CLIENT, status + repeat_lines(kFloodBytes, filler), HEADER_BOUND_REPORT, 0, ""},
      {"one endless header line", CLIENT, status + "X-Endless: " + std::string(kFloodBytes, 'e'),
       HEADER_BOUND_REPORT, 0, ""},
      {"an endless status line", CLIENT, "HTTP/1.1 200 " + std::string(kFloodBytes, 'o'), HEADER_BOUND_REPORT, 0,
       ""},
      {"empty lines before the status line", CLIENT, std::string(kFloodBytes, '\n'), HEADER_BOUND_REPORT, 0, ""},
      {"many trailer lines", CLIENT_OPEN, chunked_head + repeat_lines(kFloodBytes, filler), HEADER_BOUND_REPORT, 0,
       "response 200 length=-1 chunked\ndata\ncomplete\n"},
      // A server answers a refused request with "400" and ends the connection.
      {"a request with many cookie lines", SERVER,
       "GET / HTTP/1.1\r\n" + repeat_lines(kFloodBytes, distinct_cookie), COOKIE_BOUND_REPORT,
       QARN_COOKIE_RX_LIST_MAX, "close\n"},
      {"a request with many header lines", SERVER, "GET / HTTP/1.1\r\n" + repeat_lines(kFloodBytes, filler),
       HEADER_BOUND_REPORT, 0, ""},
  };
}

size_t cookies_in(const qarn_http_cookie *list) {
  size_t count = 0;
  for (; list != nullptr; list = list->next) {
    count++;
  }
  return count;
}

class header_bound_test : public diagnostic_capture_test {};

struct flood_outcome {
  int result = 1;
  size_t fed = 0;
  size_t cookies_kept = 0;
  std::chrono::steady_clock::duration elapsed{};
  std::string events;
};

// flood feeds |c.input| in blocks as the downloader does and stops at the
// first result other than 1.
flood_outcome flood(const flood_case &c) {
  flood_outcome out;
  qarn_http_data_processor_oline processor;
  recorder events;
  prepare(processor, c.who);
  events.install(processor);
  auto start = std::chrono::steady_clock::now();
  while (out.result == 1 && out.fed < c.input.size()) {
    size_t n = c.input.size() - out.fed < kFeedBlock ? c.input.size() - out.fed : kFeedBlock;
    out.result = processor.put_rx_data(c.input.data() + out.fed, static_cast<int32_t>(n));
    out.fed += n;
  }
  out.elapsed = std::chrono::steady_clock::now() - start;
  out.cookies_kept = cookies_in(processor.rx_cookies);
  drain_tx(processor, nullptr);
  out.events = events.events;
  return out;
}

TEST_F(header_bound_test, floods_fail_at_the_bound_in_bounded_time_and_memory) {
  for (const flood_case &c : flood_cases()) {
    SCOPED_TRACE(c.name);
    ASSERT_GE(c.input.size(), kFloodBytes);
    start_capture();
    flood_outcome out = flood(c);
    std::string printed = stop_capture();
    const bool answered_400 = c.who == SERVER && c.report == COOKIE_BOUND_REPORT;
    EXPECT_EQ(out.result, answered_400 ? 0 : -1);
    EXPECT_NE(printed.find(c.report), std::string::npos) << printed.substr(0, 400);
    EXPECT_EQ(out.events, c.events);
    // The failure comes within one block of the bound, not at the end of
    // the flood: nothing after the bound was looked at.
    EXPECT_LE(out.fed, static_cast<size_t>(QARN_HTTP_HEADER_SECTION_MAX) + kFeedBlock);
    EXPECT_LE(out.cookies_kept, c.cookies_kept_max);
    EXPECT_LE(out.cookies_kept * sizeof(qarn_http_cookie),
              static_cast<size_t>(QARN_COOKIE_RX_LIST_MAX) * sizeof(qarn_http_cookie));
    EXPECT_LT(out.elapsed, kTimeLimit);
  }
}

// Just inside the bound a header section is still accepted.
TEST_F(header_bound_test, a_header_section_at_the_bound_is_accepted) {
  const std::string status = "HTTP/1.1 200 OK\r\n";
  const std::string end = "Content-Length: 2\r\n\r\n";
  for (size_t extra : {size_t{0}, size_t{1}}) {
    SCOPED_TRACE(extra);
    const size_t filler_len = QARN_HTTP_HEADER_SECTION_MAX - status.size() - end.size() + extra;
    std::string input;
    while (input.size() + 5000 < filler_len) {
      input += "X-Part: " + std::string(5000 - 10, 'p') + "\r\n";
    }
    input += "X-Last: " + std::string(filler_len - input.size() - 10, 'l') + "\r\n";
    ASSERT_EQ(input.size(), filler_len);
    input = status + input + end + "ok";
    recorder events;
    start_capture();
    int result = 0;
    {
      qarn_http_data_processor_oline processor;
      prepare(processor, CLIENT);
      events.install(processor);
      result = processor.put_rx_data(input.data(), static_cast<int32_t>(input.size()));
    }
    std::string printed = stop_capture();
    if (extra == 0) {
      EXPECT_EQ(result, 1);
      EXPECT_EQ(printed, "");
      EXPECT_EQ(events.body, "ok");
    } else {
      EXPECT_EQ(result, -1);
      EXPECT_EQ(printed, std::string(HEADER_BOUND_REPORT) + "\n");
      EXPECT_EQ(events.events, "");
    }
  }
}

}  // namespace
}  // namespace http_test
