#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "http/http_cookie.h"
#include "http/http_data_processor.h"
#include "http_test_support.h"
#include "tests/common/diagnostic_capture.h"

// Inside the helpers' namespace: the roles, the recorder and the splits are
// the vocabulary of every case below.
namespace http_test {
namespace {

struct parse_case {
  const char *name;
  role who;
  std::string input;
  int expected_result;     // first put_rx_data result other than 1, or 1
  std::string events;      // callbacks, including any close signalled by the drain
  std::string body;        // body bytes of every message, in order
  std::string tx;          // what get_tx_data hands out after the input
  std::string printed;     // diagnostics
};

struct outcome {
  int result = 1;
  std::string events;
  std::string body;
  std::string tx;
  std::string printed;
};

outcome run(const parse_case &c, const split &blocks) {
  outcome out;
  qarn_http_data_processor_oline processor;
  recorder events;
  prepare(processor, c.who);
  events.install(processor);
  testing::internal::CaptureStdout();
  out.result = http_test::feed(processor, c.input, blocks);
  out.tx = http_test::drain_tx(processor, nullptr);
  out.printed = testing::internal::GetCapturedStdout();
  out.events = events.events;
  out.body = events.body;
  return out;
}

std::string describe(const split &blocks) {
  std::string text;
  for (size_t n : blocks) {
    text += std::to_string(n) + " ";
  }
  return text;
}

// The bytes of a literal, NUL bytes included.
template <size_t N>
std::string raw(const char (&text)[N]) {
  return std::string(text, N - 1);
}

const char OK_5[] = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello";
const char CHUNKED_HEAD[] = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
const char ANSWER_400[] = "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
const char ANSWER_100[] = "HTTP/1.1 100 continue\r\nContent-Length: 0\r\n\r\n";
const char ANSWER_100_CLOSE[] = "HTTP/1.1 100 continue\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
const char HEADER_WARNING[] = "Warning in qarn_http_data_processor_oline::header_line_parse(), ";
const char CHUNK_WARNING[] = "Warning in qarn_http_data_processor_oline::put_rx_data(), ";
const char FRAMING_WARNING[] = "Warning in qarn_http_data_processor_oline::put_rx_data(), ";
const char IGNORED_NOTICE[] =
    "Warning in qarn_http_data_processor_oline::put_rx_data(), ignoring bytes after the final response of a closing "
    "connection.\n";

std::vector<parse_case> parse_cases() {
  const std::string long_line = "X-Long: " + std::string(6000, 'a');
  return {
      // Client role: responses.
      {"length-delimited body", CLIENT, OK_5, 1, "response 200 length=5\ndata\ncomplete\nclose\n", "hello", "", ""},
      {"lines ended by LF alone", CLIENT, "HTTP/1.1 200 OK\nContent-Length: 5\n\nhello", 1,
       "response 200 length=5\ndata\ncomplete\nclose\n", "hello", "", ""},
      {"lines ended by LF CR", CLIENT, "HTTP/1.1 200 OK\n\rContent-Length: 5\n\r\n\rhello", 1,
       "response 200 length=5\ndata\ncomplete\nclose\n", "hello", "", ""},
      {"bytes after the body are the next message", CLIENT_OPEN, std::string(OK_5) + "HTTP/1.1 204 No\r\n\r\n", 1,
       "response 200 length=5\ndata\ncomplete\nresponse 204 length=-1\ncomplete\n", "hello", "", ""},
      // The request asked for the close: the answer is complete and final.
      {"bytes after the final response of a closing connection are ignored", CLIENT,
       std::string(OK_5) + "HTTP/1.1 200 OK\r\n", 1,
       "response 200 length=5\ndata\ncomplete\nclose\n", "hello", "", IGNORED_NOTICE},
      {"a server's close ends the reading too", CLIENT_OPEN,
       std::string("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 1\r\n\r\nxHTTP/1.1 5"), 1,
       "response 200 length=1\ndata\ncomplete\nclose\n", "x", "", IGNORED_NOTICE},
      {"bytes after the trailer of the final chunked response are ignored", CLIENT,
       std::string(CHUNKED_HEAD) + "5\r\nhello\r\n0\r\nX: y\r\n\r\nHTTP/1.1 4", 1,
       "response 200 length=-1 chunked\ndata\ncomplete\nclose\n", "hello", "", IGNORED_NOTICE},
      {"an interim response does not close", CLIENT,
       "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nokHTTP/1.1 5", 1,
       "response 100 length=-1\ncomplete\nresponse 200 length=2\ndata\ncomplete\nclose\n", "ok", "", IGNORED_NOTICE},
      {"chunked body", CLIENT, std::string(CHUNKED_HEAD) + "5\r\nhello\r\n0\r\n\r\n", 1,
       "response 200 length=-1 chunked\ndata\ncomplete\nclose\n", "hello", "", ""},
      {"several chunks and an extension", CLIENT,
       std::string(CHUNKED_HEAD) + "3;ext=1\r\nabc\r\n  A\r\n0123456789\r\n0\r\n\r\n", 1,
       "response 200 length=-1 chunked\ndata\ncomplete\nclose\n", "abc0123456789", "", ""},
      {"trailer lines are discarded", CLIENT_OPEN,
       std::string(CHUNKED_HEAD) + "5\r\nhello\r\n0\r\nX: y\r\nGarbage\r\n\r\n" +
           "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok",
       1, "response 200 length=-1 chunked\ndata\ncomplete\nresponse 200 length=2\ndata\ncomplete\n", "hellook", "",
       ""},
      {"204 has no body whatever its length", CLIENT, "HTTP/1.1 204 No Content\r\nContent-Length: 10\r\n\r\n", 1,
       "response 204 length=10\ncomplete\nclose\n", "", "", ""},
      {"304 has no body", CLIENT_OPEN, "HTTP/1.1 304 Not Modified\r\nContent-Length: 3\r\n\r\n", 1,
       "response 304 length=3\ncomplete\n", "", "", ""},
      {"interim response before the final one", CLIENT,
       "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", 1,
       "response 100 length=-1\ncomplete\nresponse 200 length=2\ndata\ncomplete\nclose\n", "ok", "", ""},
      {"HTTP/1.0 body runs to the close", CLIENT, raw("HTTP/1.0 200 OK\r\nServer: x\r\n\r\nab\r\ncd\n\0ef"), 1,
       "response 200 length=-1\ndata\n", raw("ab\r\ncd\n\0ef"), "", ""},
      {"HTTP/1.0 with length 0", CLIENT, "HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n", 1,
       "response 200 length=0\ncomplete\nclose\n", "", "", ""},
      {"HTTP/1.1 without length runs to the close", CLIENT_OPEN, "HTTP/1.1 200 OK\r\n\r\nabc", 1,
       "response 200 length=-1\ndata\n", "abc", "", ""},
      {"only the first coding counts", CLIENT, "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n5\r\nhello",
       1, "response 200 length=-1\ndata\n", "5\r\nhello", "", ""},
      // A transfer coding frames the body; a length beside it is ignored,
      // and the connection is not used after the response.
      {"a chunk boundary at the length does not end the body", CLIENT_OPEN,
       "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n6\r\n world\r\n"
       "0\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok",
       1, "response 200 length=-1 chunked\ndata\ncomplete\nclose\n", "hello world", "",
       std::string(FRAMING_WARNING) + "got both transfer coding and content length, the length is ignored: chunked\n" +
           IGNORED_NOTICE},
      {"a length after the coding is ignored as well", CLIENT_OPEN,
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 3\r\n\r\n3\r\nabc\r\n3\r\ndef\r\n0\r\n\r\n", 1,
       "response 200 length=-1 chunked\ndata\ncomplete\nclose\n", "abcdef", "",
       std::string(FRAMING_WARNING) + "got both transfer coding and content length, the length is ignored: chunked\n"},
      {"a length of 0 beside chunked coding", CLIENT_OPEN,
       "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nok\r\n0\r\n\r\n", 1,
       "response 200 length=-1 chunked\ndata\ncomplete\nclose\n", "ok", "",
       std::string(FRAMING_WARNING) + "got both transfer coding and content length, the length is ignored: chunked\n"},
      {"a coding other than chunked runs to the close", CLIENT,
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: identity\r\nContent-Length: 3\r\n\r\nabcdef", 1,
       "response 200 length=-1\ndata\n", "abcdef", "",
       std::string(FRAMING_WARNING) + "got both transfer coding and content length, the length is ignored: identity\n"},
      {"a coded body of declared length 0 runs to the close", CLIENT,
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\nContent-Length: 0\r\n\r\nxy", 1,
       "response 200 length=-1\ndata\n", "xy", "",
       std::string(FRAMING_WARNING) + "got both transfer coding and content length, the length is ignored: gzip\n"},
      // HTTP/1.0 has no transfer codings: such a response cannot be framed.
      {"HTTP/1.0 response with a coding and a length fails", CLIENT,
       "HTTP/1.0 200 OK\r\nContent-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n", -1, "", "",
       "", std::string(FRAMING_WARNING) + "got transfer coding in an HTTP/1.0 message: chunked\n"},
      {"HTTP/1.0 response with a coding fails", CLIENT,
       "HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n", -1, "", "", "",
       std::string(FRAMING_WARNING) + "got transfer coding in an HTTP/1.0 message: chunked\n"},
      {"keep-alive before close is only looked at first", CLIENT_OPEN,
       "HTTP/1.1 200 OK\r\nConnection: keep-alive, close\r\nContent-Length: 0\r\n\r\n", 1,
       "response 200 length=0\ncomplete\n", "", "", ""},
      {"server asks for the close", CLIENT_OPEN, "HTTP/1.1 200 OK\r\nconnection: Close\r\nContent-Length: 1\r\n\r\nx",
       1, "response 200 length=1\ndata\ncomplete\nclose\n", "x", "", ""},
      {"empty lines before and between messages", CLIENT_OPEN,
       "\r\n\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\na\r\n\r\nHTTP/1.1 201 Created\r\nContent-Length: 1\r\n\r\nb",
       1, "response 200 length=1\ndata\ncomplete\nresponse 201 length=1\ndata\ncomplete\n", "ab", "", ""},
      {"questionable headers are tolerated", CLIENT,
       "HTTP/1.1 200 OK\r\nContent-Type:\r\nExpect: nothing\r\nConnection: upgrade\r\nTransfer-Encoding:\r\nHost:\r\n"
       "Content-Length: 1\r\n\r\nz",
       1, "response 200 length=1\ndata\ncomplete\nclose\n", "z", "",
       std::string(HEADER_WARNING) + "got bad content type line: Content-Type:\n" + HEADER_WARNING +
           "got bad 'Expect' line: Expect: nothing\n" + HEADER_WARNING +
           "got questionable 'Connection' line: Connection: upgrade\n" + HEADER_WARNING +
           "got bad transfer encoding line: Transfer-Encoding:\n"},
      {"header line longer than a line holds", CLIENT,
       "HTTP/1.1 200 OK\r\n" + long_line + "\r\nContent-Length: 1\r\n\r\nq", 1,
       "response 200 length=1\ndata\ncomplete\nclose\n", "q", "",
       "String Buffer overflow, first few chars were ->" + long_line.substr(0, 100) + "<-\n"},
      {"negative length fails a client", CLIENT, "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n", -1, "", "", "",
       std::string(HEADER_WARNING) + "got bad content length, line: Content-Length: -1\n"},
      {"length that is no number", CLIENT, "HTTP/1.1 200 OK\r\nContent-Length: x5\r\n\r\n", -1, "", "", "",
       std::string(HEADER_WARNING) + "got bad content length, line: Content-Length: x5\n"},
      {"status line without reason", CLIENT, "HTTP/1.1 200\r\n\r\n", -1, "", "", "",
       std::string(HEADER_WARNING) + "failed to parse response line 'HTTP/1.1 200'.\n"},
      {"status line without status", CLIENT, "HTTP/1.1 OK fine\r\n\r\n", -1, "", "", "",
       std::string(HEADER_WARNING) + "failed to parse response line 'HTTP/1.1 OK fine'.\n"},
      {"garbage instead of a status line", CLIENT, "garbage\r\n\r\n", -1, "", "", "", ""},
      {"a request instead of a response", CLIENT, "GET / HTTP/1.1\r\n\r\n", -1, "", "", "", ""},
      {"malformed chunk size", CLIENT, std::string(CHUNKED_HEAD) + "zz\r\nhello", -1,
       "response 200 length=-1 chunked\n", "", "", std::string(CHUNK_WARNING) + "got bad chunk size, line: zz\n"},
      {"empty chunk size line", CLIENT, std::string(CHUNKED_HEAD) + "\r\nhello", -1,
       "response 200 length=-1 chunked\n", "", "", std::string(CHUNK_WARNING) + "got bad chunk size, line: \n"},
      // Read as far as it goes, "0x5" would be the last chunk: the body
      // would end there and pass for whole.
      {"chunk size with a 0x prefix", CLIENT, std::string(CHUNKED_HEAD) + "0x5\r\nhello\r\n0\r\n\r\n", -1,
       "response 200 length=-1 chunked\n", "", "", std::string(CHUNK_WARNING) + "got bad chunk size, line: 0x5\n"},
      {"chunk size followed by a word", CLIENT, std::string(CHUNKED_HEAD) + "5 bytes\r\nhello\r\n0\r\n\r\n", -1,
       "response 200 length=-1 chunked\n", "", "",
       std::string(CHUNK_WARNING) + "got bad chunk size, line: 5 bytes\n"},
      {"chunk size with a sign", CLIENT, std::string(CHUNKED_HEAD) + "+5\r\nhello\r\n0\r\n\r\n", -1,
       "response 200 length=-1 chunked\n", "", "", std::string(CHUNK_WARNING) + "got bad chunk size, line: +5\n"},
      {"last chunk followed by a word", CLIENT, std::string(CHUNKED_HEAD) + "5\r\nhello\r\n0 more\r\n\r\n", -1,
       "response 200 length=-1 chunked\ndata\n", "hello", "",
       std::string(CHUNK_WARNING) + "got bad chunk size, line: 0 more\n"},
      {"chunk sizes with lower- and upper-case digits", CLIENT,
       std::string(CHUNKED_HEAD) + "f\r\n" + std::string(15, 'f') + "\r\nB\r\n" + std::string(11, 'B') +
           "\r\n0\r\n\r\n",
       1, "response 200 length=-1 chunked\ndata\ncomplete\nclose\n", std::string(15, 'f') + std::string(11, 'B'), "",
       ""},
      {"blanks around the size and before extensions", CLIENT,
       std::string(CHUNKED_HEAD) + " 3 \t;a=b\r\nabc\r\n0\t\r\n\r\n", 1,
       "response 200 length=-1 chunked\ndata\ncomplete\nclose\n", "abc", "", ""},
      {"chunk data without its empty line", CLIENT, std::string(CHUNKED_HEAD) + "5\r\nhelloX\r\n", -1,
       "response 200 length=-1 chunked\ndata\n", "hello", "", ""},

      // Lengths count in 64 bits up to the largest file (2^40 bytes);
      // beyond it the message fails instead of wrapping.
      {"length of 2^31 - 1 is accepted", CLIENT,
       "HTTP/1.1 200 OK\r\nContent-Length: +0002147483647\r\n\r\nabc", 1, "response 200 length=2147483647\ndata\n",
       "abc", "", ""},
      {"length of 2^31 is accepted", CLIENT, "HTTP/1.1 200 OK\r\nContent-Length: 2147483648\r\n\r\nabc", 1,
       "response 200 length=2147483648\ndata\n", "abc", "", ""},
      {"length of 2^31 + 1 is accepted", CLIENT, "HTTP/1.1 200 OK\r\nContent-Length: 2147483649\r\n\r\nabc", 1,
       "response 200 length=2147483649\ndata\n", "abc", "", ""},
      {"length of 2^32 + 5 is accepted", CLIENT, "HTTP/1.1 200 OK\r\nContent-Length: 4294967301\r\n\r\nabc", 1,
       "response 200 length=4294967301\ndata\n", "abc", "", ""},
      {"length of the largest file is accepted", CLIENT,
       "HTTP/1.1 200 OK\r\nContent-Length: 0001099511627776\r\n\r\nabc", 1,
       "response 200 length=1099511627776\ndata\n", "abc", "", ""},
      {"length beyond the largest file fails", CLIENT,
       "HTTP/1.1 200 OK\r\nContent-Length: 1099511627777\r\n\r\nabc", -1, "", "", "",
       std::string(HEADER_WARNING) + "got too large content length, line: Content-Length: 1099511627777\n"},
      {"length of 2^63 fails", CLIENT, "HTTP/1.1 200 OK\r\nContent-Length: 9223372036854775808\r\n\r\n", -1, "",
       "", "", std::string(HEADER_WARNING) + "got too large content length, line: Content-Length: 9223372036854775808\n"},
      {"length of many digits fails", CLIENT,
       "HTTP/1.1 200 OK\r\nContent-Length: 18446744073709551621\r\n\r\n", -1, "", "", "",
       std::string(HEADER_WARNING) + "got too large content length, line: Content-Length: 18446744073709551621\n"},
      {"large negative length is bad", CLIENT, "HTTP/1.1 200 OK\r\nContent-Length: -4294967295\r\n\r\n", -1, "", "",
       "", std::string(HEADER_WARNING) + "got bad content length, line: Content-Length: -4294967295\n"},
      {"largest chunk is accepted", CLIENT, std::string(CHUNKED_HEAD) + "7fffffff\r\nabc", 1,
       "response 200 length=-1 chunked\ndata\n", "abc", "", ""},
      {"chunk of 2^31 fails", CLIENT, std::string(CHUNKED_HEAD) + "80000000\r\nabc", -1,
       "response 200 length=-1 chunked\n", "", "",
       "Warning in qarn_http_data_processor_oline::put_rx_data(), got too large chunk size, line: 80000000\n"},
      {"chunk of twenty digits fails", CLIENT, std::string(CHUNKED_HEAD) + "FFFFFFFFFFFFFFFFFFFF;x\r\nabc", -1,
       "response 200 length=-1 chunked\n", "", "",
       "Warning in qarn_http_data_processor_oline::put_rx_data(), got too large chunk size, line: "
       "FFFFFFFFFFFFFFFFFFFF;x\n"},

      // Server role: requests.
      {"request without body", SERVER, "GET /a/b?x=1 HTTP/1.1\r\nHost: h\r\n\r\n", 1,
       "request GET path=a/b length=-1\ncomplete\n", "", "", ""},
      {"pipelined requests", SERVER, "GET /1 HTTP/1.1\r\n\r\nGET /2 HTTP/1.0\r\n\r\n", 1,
       "request GET path=1 length=-1\ncomplete\nrequest GET path=2 length=-1\ncomplete\n", "", "", ""},
      {"PUT gets 100 continue", SERVER, "PUT /f HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc", 1,
       "request PUT path=f length=3\ndata\ncomplete\n", "abc", ANSWER_100, ""},
      {"Expect gets 100 continue", SERVER, "GET / HTTP/1.1\r\nExpect: foo, 100-continue;x\r\n\r\n", 1,
       "request GET path= length=-1\ncomplete\n", "", ANSWER_100, ""},
      {"no 100 continue for HTTP/1.0", SERVER, "POST /f HTTP/1.0\r\nContent-Length: 2\r\n\r\nab", 1,
       "request POST path=f length=2\ndata\ncomplete\n", "ab", "", ""},
      {"chunked request with trailer", SERVER,
       "POST /c HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\nT: x\r\n\r\n", 1,
       "request POST path=c length=-1 chunked\ndata\ncomplete\n", "abc", ANSWER_100, ""},
      {"chunked request with a length", SERVER,
       "POST /c HTTP/1.1\r\nContent-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n", 1,
       "request POST path=c length=-1 chunked\ndata\ncomplete\nclose\n", "hello", ANSWER_100_CLOSE,
       std::string(FRAMING_WARNING) + "got both transfer coding and content length, the length is ignored: chunked\n"},
      {"request body in another coding gets 400", SERVER,
       "POST /c HTTP/1.1\r\nTransfer-Encoding: gzip\r\n\r\nabc", 0, "close\n", "", ANSWER_400,
       std::string(FRAMING_WARNING) + "got request body in a transfer coding other than chunked: gzip\n"},
      {"HTTP/1.0 request with a coding gets 400", SERVER,
       "POST /c HTTP/1.0\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n", 0, "close\n", "",
       ANSWER_400, std::string(FRAMING_WARNING) + "got transfer coding in an HTTP/1.0 message: chunked\n"},
      {"client asks for the close", SERVER, "GET / HTTP/1.1\r\nConnection: close\r\n\r\n", 1,
       "request GET path= length=-1\ncomplete\nclose\n", "", "", ""},
      {"negative length gets 400", SERVER, "POST /u HTTP/1.1\r\nContent-Length: -1\r\n\r\nabc", 0, "close\n", "",
       ANSWER_400, std::string(HEADER_WARNING) + "got bad content length, line: Content-Length: -1\n"},
      {"length beyond the largest file gets 400", SERVER,
       "PUT /u HTTP/1.1\r\nContent-Length: 1099511627777\r\n\r\n", 0, "close\n", "", ANSWER_400,
       std::string(HEADER_WARNING) + "got too large content length, line: Content-Length: 1099511627777\n"},
      {"unreadable request line gets 400", SERVER, "BROKEN\r\nHost: x\r\n\r\n", 0, "close\n", "", ANSWER_400, ""},
      {"request line without version gets 400", SERVER, "GET /index.html\r\n\r\n", 0, "close\n", "", ANSWER_400,
       ""},
      {"bad Expect gets 400", SERVER, "GET / HTTP/1.1\r\nExpect: later\r\n\r\n", 0, "close\n", "", ANSWER_400,
       std::string(HEADER_WARNING) + "got bad 'Expect' line: Expect: later\n"},
      {"Host that disagrees with the target gets 400", SERVER, "GET http://a/p HTTP/1.1\r\nHost: b\r\n\r\n", 0,
       "close\n", "", ANSWER_400, ""},
      {"a response instead of a request", SERVER, "HTTP/1.1 200 OK\r\n\r\n", -1, "", "", "", ""},
  };
}

class parse_split_test : public diagnostic_capture_test {};

// Every case gives the same callbacks, body bytes, answers and reports
// however its input is cut into blocks.
TEST_F(parse_split_test, every_case_in_every_split) {
  for (const parse_case &c : parse_cases()) {
    SCOPED_TRACE(c.name);
    for (const split &blocks : http_test::every_split(c.input.size(), 20)) {
      outcome out = run(c, blocks);
      ASSERT_EQ(out.result, c.expected_result) << describe(blocks);
      ASSERT_EQ(out.events, c.events) << describe(blocks);
      ASSERT_EQ(out.body, c.body) << describe(blocks);
      ASSERT_EQ(out.tx, c.tx) << describe(blocks);
      ASSERT_EQ(out.printed, c.printed) << describe(blocks);
    }
  }
}

class parse_test : public diagnostic_capture_test {};

TEST_F(parse_test, single_byte_blocks_deliver_single_byte_pieces) {
  parse_case c{"", CLIENT, OK_5, 1, "", "", "", ""};
  qarn_http_data_processor_oline processor;
  recorder events;
  prepare(processor, CLIENT);
  events.install(processor);
  ASSERT_EQ(http_test::feed(processor, c.input, http_test::byte_by_byte(c.input.size())), 1);
  EXPECT_EQ(events.pieces, std::vector<int32_t>(5, 1));
  EXPECT_EQ(events.events, "response 200 length=5\ndata\ncomplete\nclose\n");
}

TEST_F(parse_test, whole_block_delivers_one_piece_up_to_the_length) {
  qarn_http_data_processor_oline processor;
  recorder events;
  prepare(processor, CLIENT_OPEN);
  events.install(processor);
  std::string input = std::string(OK_5) + "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc";
  ASSERT_EQ(processor.put_rx_data(input.data(), static_cast<int32_t>(input.size())), 1);
  EXPECT_EQ(events.pieces, (std::vector<int32_t>{5, 3}));
}

TEST_F(parse_test, lone_line_feed_at_block_end_waits_for_the_next_byte) {
  qarn_http_data_processor_oline processor;
  recorder events;
  prepare(processor, CLIENT);
  events.install(processor);
  const std::string first = "HTTP/1.1 200 OK\n";
  ASSERT_EQ(processor.put_rx_data(first.data(), static_cast<int32_t>(first.size())), 1);
  EXPECT_EQ(processor.in_header_section(), 0);
  EXPECT_EQ(processor.rx_status, 0);
  ASSERT_EQ(processor.put_rx_data("C", 1), 1);
  EXPECT_EQ(processor.in_header_section(), 1);
  EXPECT_EQ(processor.rx_status, 200);
  EXPECT_STREQ(processor.rx_line(), "C");
}

struct field_case {
  const char *name;
  role who;
  std::string input;
  std::function<void(const qarn_http_data_processor_oline &)> check;
};

TEST_F(parse_test, message_fields) {
  const field_case cases[] = {
      {"request line parts", SERVER, "GET /a/b?x=1 HTTP/1.1\r\n\r\n",
       [](const qarn_http_data_processor_oline &p) {
         EXPECT_STREQ(p.rx_method, "GET");
         EXPECT_STREQ(p.rx_path, "a/b");
         EXPECT_STREQ(p.rx_query, "x=1");
         EXPECT_STREQ(p.rx_host, "");
         EXPECT_EQ(p.peer_version, 11);
         EXPECT_EQ(p.rx_status, 0);
         EXPECT_STREQ(p.rx_first_line.text(), "GET /a/b?x=1 HTTP/1.1");
       }},
      {"root path is empty", SERVER, "GET / HTTP/1.0\r\n\r\n",
       [](const qarn_http_data_processor_oline &p) {
         EXPECT_STREQ(p.rx_path, "");
         EXPECT_EQ(p.peer_version, 10);
       }},
      {"absolute target", SERVER, "GET http://host:80/x/y?q=a?b HTTP/1.1\r\nHost: host:80\r\n\r\n",
       [](const qarn_http_data_processor_oline &p) {
         EXPECT_STREQ(p.rx_host, "host:80");
         EXPECT_STREQ(p.rx_path, "x/y");
         EXPECT_STREQ(p.rx_query, "q=a?b");
       }},
      {"scheme without authority", SERVER, "GET http:// HTTP/1.1\r\n\r\n",
       [](const qarn_http_data_processor_oline &p) {
         EXPECT_STREQ(p.rx_host, "");
         EXPECT_STREQ(p.rx_path, "http://");
       }},
      {"slashes and an empty query", SERVER, "GET ///a? HTTP/1.1\r\n\r\n",
       [](const qarn_http_data_processor_oline &p) {
         EXPECT_STREQ(p.rx_path, "a");
         EXPECT_STREQ(p.rx_query, "");
       }},
      {"target with a space and another version", SERVER, "GET /a b  HTTP/2\r\n\r\n",
       [](const qarn_http_data_processor_oline &p) {
         EXPECT_STREQ(p.rx_path, "a b");
         EXPECT_EQ(p.peer_version, 20);
       }},
      {"unreadable version", SERVER, "GET / http/x\r\n\r\n",
       [](const qarn_http_data_processor_oline &p) { EXPECT_EQ(p.peer_version, 0); }},
      {"status line parts", CLIENT_OPEN, "HTTP/1.1 404 Not Found Here\r\nContent-Length: 0\r\n\r\n",
       [](const qarn_http_data_processor_oline &p) {
         EXPECT_EQ(p.rx_status, 404);
         EXPECT_STREQ(p.rx_reason, "Not Found Here");
         EXPECT_EQ(p.peer_version, 11);
         EXPECT_EQ(p.rx_content_length, 0);
       }},
      {"lower-case version", CLIENT_OPEN, "http/1.0 200 OK\r\nContent-Length: 0\r\n\r\n",
       [](const qarn_http_data_processor_oline &p) { EXPECT_EQ(p.peer_version, 10); }},
      {"media type with parameters", CLIENT_OPEN,
       "HTTP/1.1 200 OK\r\ncontent-type: Application/JSON; charset=utf-8\r\nContent-Length: 0\r\n\r\n",
       [](const qarn_http_data_processor_oline &p) {
         EXPECT_EQ(p.rx_content_type_code, 13);
         EXPECT_STREQ(p.rx_content_type, "Application/JSON; charset=utf-8");
       }},
      {"transfer coding separators", CLIENT_OPEN,
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked;q=1,x\r\n\r\n",
       [](const qarn_http_data_processor_oline &p) {
         EXPECT_STREQ(p.rx_transfer_encoding, "Chunked q=1 x");
         EXPECT_EQ(p.rx_chunked, 1);
         EXPECT_EQ(p.chunk_state(), 1);
         EXPECT_EQ(p.rx_in_body(), 1);
       }},
      {"expect and close in a request", SERVER,
       "GET / HTTP/1.1\r\nExpect: 100-continue\r\nConnection: close\r\nHost: h\r\n\r\n",
       [](const qarn_http_data_processor_oline &p) {
         EXPECT_EQ(p.rx_expect_continue, 1);
         EXPECT_EQ(p.close_requested, 1);
         EXPECT_STREQ(p.rx_host, "h");
       }},
      {"content range of a partial answer", CLIENT_OPEN,
       "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 100-199/200\r\nContent-Length: 100\r\n\r\n",
       [](const qarn_http_data_processor_oline &p) {
         EXPECT_EQ(p.rx_content_range.first, 100);
         EXPECT_EQ(p.rx_content_range.last, 199);
         EXPECT_EQ(p.rx_content_range.complete_length, 200);
       }},
      {"a malformed content range is none", CLIENT_OPEN,
       "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 100-/200\r\nContent-Length: 0\r\n\r\n",
       [](const qarn_http_data_processor_oline &p) {
         EXPECT_EQ(p.rx_content_range.first, QARN_CONTENT_RANGE_ABSENT);
         EXPECT_EQ(p.rx_content_range.complete_length, QARN_CONTENT_RANGE_ABSENT);
       }},
      {"cookies of a request", SERVER, "GET / HTTP/1.1\r\nCookie: a=1; b=x=y\r\n\r\n",
       [](const qarn_http_data_processor_oline &p) {
         ASSERT_NE(p.rx_cookies, nullptr);
         EXPECT_STREQ(p.rx_cookies->key, "b");
         EXPECT_STREQ(p.rx_cookies->value, "x=y");
       }},
  };
  for (const field_case &c : cases) {
    SCOPED_TRACE(c.name);
    qarn_http_data_processor_oline processor;
    recorder events;
    prepare(processor, c.who);
    events.install(processor);
    start_capture();
    EXPECT_EQ(processor.put_rx_data(c.input.data(), static_cast<int32_t>(c.input.size())), 1);
    stop_capture();
    c.check(processor);
  }
}

TEST_F(parse_test, media_type_codes) {
  const std::pair<std::string, int32_t> cases[] = {
      {"text/plain", 1},
      {"TEXT/HTML;charset=x", 2},
      {"application/x-www-form-urlencoded", 10},
      {"application/xml", 11},
      {"application/rss+xml", 12},
      {"application/json\t; x", 13},
      {"application/octet-stream", 14},
      {"application/octet-streamy", 99},
      {"image/png", 99},
      {"application/json" + std::string(100, 'x'), 99},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.first);
    qarn_http_data_processor_oline processor;
    prepare(processor, CLIENT_OPEN);
    ASSERT_EQ(processor.header_line_parse("HTTP/1.1 200 OK"), 0);
    std::string line = std::string("Content-Type: ") + c.first;
    start_capture();
    EXPECT_EQ(processor.header_line_parse(line.c_str()), 0);
    stop_capture();
    EXPECT_EQ(processor.rx_content_type_code, c.second);
  }
}

TEST_F(parse_test, version_words) {
  const std::pair<const char *, int32_t> cases[] = {
      {"HTTP/1.0", 10}, {"http/1.1", 11}, {"HTTP/2", 20}, {"HTTP/1.10", 20},
      {"HTTP/+3", 20},  {"HTTP/x", 0},    {"HTTP/", 0},   {"HTTP/1.1 200 OK", 11},
  };
  qarn_http_data_processor_oline processor;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.first);
    EXPECT_EQ(processor.try_extract_http_version_number(c.first), c.second);
  }
  start_capture();
  EXPECT_EQ(processor.try_extract_http_version_number("FTP/1.0 x"), 20);
  EXPECT_EQ(stop_capture(),
            "Warning in qarn_http_data_processor_oline::try_extract_http_version_number(), got bad http version "
            "'FTP/1.0'.\n");
}

TEST_F(parse_test, collect_line_terminators) {
  struct line_case {
    const char *input;
    int32_t consumed;
    const char *line;
  };
  const line_case cases[] = {
      {"abc\r\nx", 5, "abc"}, {"abc\n\rx", 5, "abc"}, {"abc\nx", 4, "abc"}, {"abc\rx", 4, "abc"},
      {"abc\n", 4, "abc"},    {"abc\r\r", 4, "abc"}, {"abc", 3, "abc"},     {"\r\n", 2, ""},
  };
  for (const line_case &c : cases) {
    SCOPED_TRACE(c.input);
    qarn_http_data_processor_oline processor;
    EXPECT_EQ(processor.collect_line(c.input, static_cast<int32_t>(std::string(c.input).size())), c.consumed);
    EXPECT_STREQ(processor.rx_line(), c.line);
  }
}

TEST_F(parse_test, callback_refusal_fails_for_good) {
  struct refusal_case {
    const char *name;
    std::function<void(recorder &)> refuse;
    std::string events;
  };
  const refusal_case cases[] = {
      {"message_received", [](recorder &r) { r.answer_received = 0; }, "response 200 length=5\n"},
      {"content_data_received", [](recorder &r) { r.answer_data = 0; }, "response 200 length=5\ndata\n"},
      {"message_complete", [](recorder &r) { r.answer_complete = 0; }, "response 200 length=5\ndata\ncomplete\n"},
  };
  for (const refusal_case &c : cases) {
    SCOPED_TRACE(c.name);
    qarn_http_data_processor_oline processor;
    recorder events;
    prepare(processor, CLIENT);
    events.install(processor);
    c.refuse(events);
    const std::string input = OK_5;
    EXPECT_EQ(processor.put_rx_data(input.data(), static_cast<int32_t>(input.size())), -1);
    EXPECT_EQ(events.events, c.events);
    EXPECT_EQ(processor.failed(), 1);
    EXPECT_EQ(processor.put_rx_data("x", 1), -1);
    char block[8];
    EXPECT_EQ(processor.get_tx_data(block, sizeof(block)), -1);
  }
}

TEST_F(parse_test, missing_callbacks_count_as_refusal) {
  qarn_http_data_processor_oline processor;
  prepare(processor, CLIENT);
  const std::string input = OK_5;
  EXPECT_EQ(processor.put_rx_data(input.data(), static_cast<int32_t>(input.size())), -1);
  EXPECT_EQ(processor.failed(), 1);
}

TEST_F(parse_test, empty_input_fails_without_harm) {
  qarn_http_data_processor_oline processor;
  EXPECT_EQ(processor.put_rx_data("x", 0), -1);
  EXPECT_EQ(processor.put_rx_data(nullptr, 3), -1);
  EXPECT_EQ(processor.failed(), 0);
}

TEST_F(parse_test, server_400_discards_later_input_and_ends_the_connection) {
  qarn_http_data_processor_oline processor;
  recorder events;
  events.install(processor);
  const std::string request = "BROKEN\r\n";
  EXPECT_EQ(processor.put_rx_data(request.data(), static_cast<int32_t>(request.size())), 0);
  EXPECT_EQ(processor.discard_rx(), 1);
  EXPECT_EQ(processor.close_after_tx(), 1);
  EXPECT_EQ(processor.put_rx_data("GET / HTTP/1.1\r\n\r\n", 18), 1);
  EXPECT_EQ(events.events, "");
  int32_t last = 1;
  EXPECT_EQ(http_test::drain_tx(processor, &last), ANSWER_400);
  EXPECT_EQ(last, 0);
  EXPECT_EQ(events.events, "close\n");
  EXPECT_EQ(processor.failed(), 1);
  EXPECT_EQ(processor.put_rx_data("x", 1), -1);
}

}  // namespace
}  // namespace http_test
