// Whether a message was whole when the peer closed the connection: the
// owner must be able to tell a complete response from a truncated one.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http/http_data_processor.h"
#include "http_test_support.h"
#include "tests/common/diagnostic_capture.h"

// Inside the helpers' namespace: the roles, the recorder and the splits are
// the vocabulary of every case below.
namespace http_test {
namespace {

struct close_case {
  const char *name;
  role who;
  std::string input;
  int complete_before_close;  // rx_message_complete after the input
  int close_result;           // put_rx_close
  std::string events;         // after put_rx_close
};

const char CHUNKED_HEAD[] = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";

std::vector<close_case> close_cases() {
  return {
      {"length-delimited body complete", CLIENT, "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", 1, 1,
       "response 200 length=5\ndata\ncomplete\nclose\n"},
      {"fewer bytes than the length", CLIENT, "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhel", 0, 0,
       "response 200 length=5\ndata\n"},
      {"largest length, few bytes", CLIENT, "HTTP/1.1 200 OK\r\nContent-Length: 2147483647\r\n\r\nhel", 0, 0,
       "response 200 length=2147483647\ndata\n"},
      {"chunked body without its last chunk", CLIENT, std::string(CHUNKED_HEAD) + "5\r\nhello\r\n", 0, 0,
       "response 200 length=-1 chunked\ndata\n"},
      {"chunked body cut inside a chunk", CLIENT, std::string(CHUNKED_HEAD) + "5\r\nhel", 0, 0,
       "response 200 length=-1 chunked\ndata\n"},
      {"chunked body cut inside a size line", CLIENT, std::string(CHUNKED_HEAD) + "5\r\nhello\r\n0", 0, 0,
       "response 200 length=-1 chunked\ndata\n"},
      {"last chunk without the end of the trailer", CLIENT, std::string(CHUNKED_HEAD) + "5\r\nhello\r\n0\r\nX: y\r\n",
       1, 1, "response 200 length=-1 chunked\ndata\ncomplete\nclose\n"},
      {"header section incomplete", CLIENT, "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n", 0, 0, ""},
      {"status line incomplete", CLIENT, "HTTP/1.1 20", 0, 0, ""},
      {"only blank lines", CLIENT, "\r\n\r\n", 0, 0, ""},
      {"only an interim response", CLIENT, "HTTP/1.1 100 Continue\r\n\r\n", 0, 0,
       "response 100 length=-1\ncomplete\n"},
      {"body delimited by the close", CLIENT, "HTTP/1.0 200 OK\r\n\r\nabc", 0, 1,
       "response 200 length=-1\ndata\ncomplete\nclose\n"},
      {"empty body delimited by the close", CLIENT_OPEN, "HTTP/1.1 200 OK\r\n\r\n", 0, 1,
       "response 200 length=-1\ncomplete\n"},
      {"lone line feed ends the header section at the close", CLIENT, "HTTP/1.1 200 OK\nContent-Length: 0\n\n", 0, 1,
       "response 200 length=0\ncomplete\nclose\n"},
      {"lone line feed before a body that never came", CLIENT, "HTTP/1.1 200 OK\nContent-Length: 5\n\n", 0, 0,
       "response 200 length=5\n"},
      {"bytes of another message after a complete one", CLIENT_OPEN,
       "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nxHTTP/1.1 2", 1, 1, "response 200 length=1\ndata\ncomplete\n"},
      {"a second status line after the final response of a closing connection", CLIENT,
       "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nxHTTP/1.1 2", 1, 1,
       "response 200 length=1\ndata\ncomplete\nclose\n"},
      {"a second response after the final one of a closing connection", CLIENT,
       "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nxHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\ny", 1, 1,
       "response 200 length=1\ndata\ncomplete\nclose\n"},
      {"a second response cut short", CLIENT_OPEN,
       "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nxHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\ny", 0, 0,
       "response 200 length=1\ndata\ncomplete\nresponse 200 length=2\ndata\n"},
      {"a second response after the answer of a client that keeps the connection", CLIENT_KEPT,
       "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nxHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\ny", 1, 1,
       "response 200 length=1\ndata\ncomplete\n"},
      {"a status line after a chunked answer and its trailer, the connection kept", CLIENT_KEPT,
       std::string(CHUNKED_HEAD) + "5\r\nhello\r\n0\r\nX: y\r\n\r\nHTTP/1.1 200 OK\r\n", 1, 1,
       "response 200 length=-1 chunked\ndata\ncomplete\n"},
      {"failed processor", CLIENT, "HTTP/1.1 200\r\n\r\n", 0, 0, ""},
      {"chunk too large", CLIENT, std::string(CHUNKED_HEAD) + "80000000\r\n", 0, 0,
       "response 200 length=-1 chunked\n"},
      {"request complete", SERVER, "GET / HTTP/1.1\r\n\r\n", 1, 1, "request GET path= length=-1\ncomplete\n"},
      {"request cut short", SERVER, "POST /x HTTP/1.0\r\nContent-Length: 4\r\n\r\nab", 0, 0,
       "request POST path=x length=4\ndata\n"},
      {"request answered with 400", SERVER, "BROKEN\r\n\r\n", 0, 0, ""},
  };
}

class completion_test : public diagnostic_capture_test {};

TEST_F(completion_test, close_tells_whole_from_truncated_in_every_split) {
  for (const close_case &c : close_cases()) {
    SCOPED_TRACE(c.name);
    for (const split &blocks : http_test::every_split(c.input.size(), 10)) {
      qarn_http_data_processor_oline processor;
      recorder events;
      prepare(processor, c.who);
      events.install(processor);
      start_capture();
      http_test::feed(processor, c.input, blocks);
      ASSERT_EQ(processor.rx_message_complete(), c.complete_before_close);
      ASSERT_EQ(processor.put_rx_close(), c.close_result);
      stop_capture();
      ASSERT_EQ(processor.rx_message_complete(), c.close_result);
      ASSERT_EQ(events.events, c.events);
    }
  }
}

// A client that keeps its connection counts what came after its answer: the
// owner must not send another request over a connection that brought it.
TEST_F(completion_test, bytes_after_the_answer_of_a_kept_connection_are_counted_not_read) {
  const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nx";
  const std::string after = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nyz";
  const std::string input = answer + after;
  for (const split &blocks : http_test::every_split(input.size(), 10)) {
    qarn_http_data_processor_oline processor;
    recorder events;
    prepare(processor, CLIENT_KEPT);
    events.install(processor);
    start_capture();
    http_test::feed(processor, input, blocks);
    stop_capture();
    ASSERT_EQ(processor.rx_state(), QARN_HTTP_RX_CLOSED);
    ASSERT_EQ(processor.rx_ignored_bytes(), static_cast<int64_t>(after.size()));
    ASSERT_EQ(events.events, "response 200 length=1\ndata\ncomplete\n");
  }
}

TEST_F(completion_test, close_is_answered_the_same_when_repeated) {
  qarn_http_data_processor_oline processor;
  recorder events;
  prepare(processor, CLIENT);
  events.install(processor);
  const std::string input = "HTTP/1.0 200 OK\r\n\r\nabc";
  ASSERT_EQ(processor.put_rx_data(input.data(), static_cast<int32_t>(input.size())), 1);
  EXPECT_EQ(processor.put_rx_close(), 1);
  EXPECT_EQ(processor.put_rx_close(), 1);
  EXPECT_EQ(events.events, "response 200 length=-1\ndata\ncomplete\nclose\n");
}

TEST_F(completion_test, a_new_request_awaits_a_new_response) {
  qarn_http_data_processor_oline processor;
  recorder events;
  prepare(processor, CLIENT_OPEN);
  events.install(processor);
  const std::string input = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
  ASSERT_EQ(processor.put_rx_data(input.data(), static_cast<int32_t>(input.size())), 1);
  ASSERT_EQ(processor.rx_message_complete(), 1);
  ASSERT_EQ(processor.start_http_GET("h", "/next"), 1);
  EXPECT_EQ(processor.rx_message_complete(), 0);
  EXPECT_EQ(processor.put_rx_close(), 0);
}

// After the close the owner may send the same processor's next request on
// a new connection: its answer is read, not ignored.
TEST_F(completion_test, a_new_request_after_the_close_reads_its_answer) {
  qarn_http_data_processor_oline processor;
  recorder events;
  prepare(processor, CLIENT);
  events.install(processor);
  const std::string first = "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\naHTTP/1.1 5";
  start_capture();
  ASSERT_EQ(processor.put_rx_data(first.data(), static_cast<int32_t>(first.size())), 1);
  stop_capture();
  processor.close_requested = 1;
  ASSERT_EQ(processor.start_http_GET("h", "/next"), 1);
  drain_tx(processor, nullptr);
  const std::string second = "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nb";
  ASSERT_EQ(processor.put_rx_data(second.data(), static_cast<int32_t>(second.size())), 1);
  EXPECT_EQ(processor.rx_message_complete(), 1);
  EXPECT_EQ(events.body, "ab");
  EXPECT_EQ(events.events,
            "response 200 length=1\ndata\ncomplete\nclose\nresponse 200 length=1\ndata\ncomplete\nclose\n");
}

TEST_F(completion_test, close_delimited_body_refused_at_the_close_fails) {
  qarn_http_data_processor_oline processor;
  recorder events;
  prepare(processor, CLIENT);
  events.install(processor);
  events.answer_complete = 0;
  const std::string input = "HTTP/1.0 200 OK\r\n\r\nabc";
  ASSERT_EQ(processor.put_rx_data(input.data(), static_cast<int32_t>(input.size())), 1);
  EXPECT_EQ(processor.put_rx_close(), 0);
  EXPECT_EQ(processor.failed(), 1);
}

TEST_F(completion_test, too_large_counts_fail_for_good) {
  const std::string inputs[] = {
      "HTTP/1.1 200 OK\r\nContent-Length: 1099511627777\r\n\r\n",
      std::string(CHUNKED_HEAD) + "80000000\r\n",
  };
  for (const std::string &input : inputs) {
    SCOPED_TRACE(input);
    qarn_http_data_processor_oline processor;
    recorder events;
    prepare(processor, CLIENT);
    events.install(processor);
    start_capture();
    EXPECT_EQ(processor.put_rx_data(input.data(), static_cast<int32_t>(input.size())), -1);
    std::string printed = stop_capture();
    EXPECT_NE(printed.find("too large"), std::string::npos) << printed;
    EXPECT_EQ(processor.failed(), 1);
    EXPECT_EQ(processor.put_rx_data("0\r\n\r\n", 5), -1);
    EXPECT_EQ(processor.put_rx_close(), 0);
  }
}

}  // namespace
}  // namespace http_test
