// Connection reuse: one downloader with keep_connection fetches several
// files in a row from a server that plays a script per connection. Each
// case says which connection must carry which request, what every download
// returns and what is reported; a kept connection that the server let go
// must cost neither a failure nor a report.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "http/http_downloader.h"
#include "tests/common/diagnostic_capture.h"
#include "tests/common/file_contents.h"
#include "tests/common/scratch_directory.h"
#include "tests/http/keep_alive_server.h"

namespace {

constexpr int kFiles = 3;
constexpr int32_t kTestIdleMs = 5000;

std::string path_of(int file) { return "/file" + std::to_string(file); }
std::string body_of(int file) { return "the bytes of file " + std::to_string(file) + "\n"; }

// What the downloader sends for file |file| when it means to keep the
// connection: no "Connection: close".
std::string kept_request(int file) {
  return "GET " + path_of(file) +
         " HTTP/1.1\r\n"
         "Host: 127.0.0.1\r\n"
         "Content-Length: 0\r\n"
         "Accept-Encoding: identity\r\n"
         "\r\n";
}

std::string with_length(const std::string &version, const std::string &headers, int file) {
  return version + " 200 OK\r\n" + headers + "Content-Length: " + std::to_string(body_of(file).size()) +
         "\r\n\r\n" + body_of(file);
}
std::string ok(int file) { return with_length("HTTP/1.1", "", file); }
std::string ok_http_1_0(int file) { return with_length("HTTP/1.0", "", file); }
std::string ok_closing(int file) { return with_length("HTTP/1.1", "Connection: close\r\n", file); }
std::string ok_chunked(int file) {
  std::string body = body_of(file);
  char size[16];
  std::snprintf(size, sizeof(size), "%zx", body.size());
  return "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + std::string(size) + "\r\n" + body +
         "\r\n0\r\n\r\n";
}

connection_script answering(std::vector<std::string> answers, connection_end end = connection_end::wait_for_close,
                            int pause_ms = 0, std::string unasked = "") {
  connection_script script;
  script.answers = std::move(answers);
  script.end = end;
  script.pause_ms = pause_ms;
  script.unasked = std::move(unasked);
  return script;
}

const char kClosedEarly[] =
    "Error in qarn_http_downloader::download(), connection closed before the response was complete.\n";
const char kIgnoredAfterResponse[] =
    "Warning in qarn_http_data_processor_oline::put_rx_data(), ignoring bytes after the final response of a "
    "closing connection.\n";
const char kUnasked[] = "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nfake";

struct reuse_case {
  const char *name;
  std::vector<connection_script> connections;
  int pause_between_ms;                  // between one download and the next
  std::vector<int> results;              // of the downloads of files 1, 2, 3
  std::vector<std::vector<int>> carried;  // per connection: the files whose requests it brought
  std::string report;                    // everything printed
};

std::vector<reuse_case> reuse_cases() {
  return {
      {"three answers with a length over one connection",
       {answering({ok(1), ok(2), ok(3)})}, 0, {1, 1, 1}, {{1, 2, 3}}, ""},
      {"three chunked answers over one connection",
       {answering({ok_chunked(1), ok_chunked(2), ok_chunked(3)})}, 0, {1, 1, 1}, {{1, 2, 3}}, ""},
      {"a server that closes after every answer",
       {answering({ok(1)}, connection_end::close), answering({ok(2)}, connection_end::close),
        answering({ok(3)}, connection_end::close)},
       0, {1, 1, 1}, {{1}, {2}, {3}}, ""},
      {"HTTP/1.0 answers on connections the server keeps open",
       {answering({ok_http_1_0(1)}), answering({ok_http_1_0(2)}), answering({ok_http_1_0(3)})},
       0, {1, 1, 1}, {{1}, {2}, {3}}, ""},
      {"answers that say Connection: close on connections the server keeps open",
       {answering({ok_closing(1)}), answering({ok_closing(2)}), answering({ok_closing(3)})},
       0, {1, 1, 1}, {{1}, {2}, {3}}, ""},
      {"a server that closes an idle kept connection",
       {answering({ok(1)}, connection_end::close, 50), answering({ok(2), ok(3)})},
       400, {1, 1, 1}, {{1}, {2, 3}}, ""},
      {"a server that closes a kept connection when the next request comes",
       {answering({ok(1)}, connection_end::close_on_request), answering({ok(2)}, connection_end::close_on_request),
        answering({ok(3)})},
       0, {1, 1, 1}, {{1, 2}, {2, 3}, {3}}, ""},
      {"a server that resets a kept connection when the next request comes",
       {answering({ok(1)}, connection_end::reset_on_request), answering({ok(2), ok(3)})},
       0, {1, 1, 1}, {{1, 2}, {2, 3}}, ""},
      {"a new connection closed without an answer still fails",
       {answering({ok(1)}, connection_end::close_on_request), answering({}, connection_end::close_on_request),
        answering({ok(3)})},
       0, {1, 0, 1}, {{1, 2}, {2}, {3}}, kClosedEarly},
      {"bytes after a whole answer",
       {answering({ok(1) + kUnasked}), answering({ok(2), ok(3)})},
       0, {1, 1, 1}, {{1}, {2, 3}}, kIgnoredAfterResponse},
      {"bytes that come unasked while the connection is idle",
       {answering({ok(1)}, connection_end::wait_for_close, 50, kUnasked), answering({ok(2), ok(3)})},
       400, {1, 1, 1}, {{1}, {2, 3}}, ""},
  };
}

std::vector<std::vector<std::string>> requests_for(const std::vector<std::vector<int>> &carried) {
  std::vector<std::vector<std::string>> requests;
  for (const std::vector<int> &files : carried) {
    requests.emplace_back();
    for (int file : files) {
      requests.back().push_back(kept_request(file));
    }
  }
  return requests;
}

enum class mode { file, callback };

int collect(void *context, const char *bytes, int32_t length) {
  static_cast<std::string *>(context)->append(bytes, static_cast<size_t>(length));
  return 1;
}

class kept_connection_test : public diagnostic_capture_test {
 protected:
  scratch_directory scratch_;
};

TEST_F(kept_connection_test, each_request_goes_over_a_kept_connection_while_the_server_keeps_it) {
  for (const reuse_case &c : reuse_cases()) {
    for (mode how : {mode::file, mode::callback}) {
      SCOPED_TRACE(std::string(c.name) + (how == mode::file ? ", file mode" : ", data-callback mode"));
      keep_alive_server server(c.connections);
      ASSERT_TRUE(server.is_listening());
      std::vector<int> results;
      std::vector<std::string> bodies;
      start_capture();
      {
        qarn_http_downloader downloader;
        downloader.keep_connection = 1;
        downloader.idle_timeout_ms = kTestIdleMs;
        std::string received;
        if (how == mode::callback) {
          downloader.data_callback = collect;
          downloader.callback_context = &received;
        }
        for (int file = 1; file <= kFiles; file++) {
          if (file > 1 && c.pause_between_ms > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(c.pause_between_ms));
          }
          received.clear();
          EXPECT_EQ(downloader.set_connection("127.0.0.1", server.port(), 0), 1);
          std::string destination = scratch_.file("file" + std::to_string(file));
          std::filesystem::remove(destination);  // left by an earlier case
          results.push_back(how == mode::file
                                ? downloader.download("127.0.0.1", path_of(file).c_str(), destination.c_str())
                                : downloader.download("127.0.0.1", path_of(file).c_str()));
          bodies.push_back(how == mode::file ? (std::filesystem::exists(destination) ? read_file(destination) : "")
                                             : received);
        }
      }
      std::string report = stop_capture();
      EXPECT_EQ(server.finish(), requests_for(c.carried));
      EXPECT_EQ(results, c.results);
      EXPECT_EQ(report, c.report);
      for (int file = 1; file <= kFiles; file++) {
        EXPECT_EQ(bodies[file - 1], c.results[file - 1] == 1 ? body_of(file) : "") << "file " << file;
      }
    }
  }
}

// Without keep_connection every download has a connection of its own, which
// it asks the server to close.
TEST_F(kept_connection_test, without_the_setting_every_download_closes_its_connection) {
  keep_alive_server server({answering({ok(1)}), answering({ok(2)})});
  ASSERT_TRUE(server.is_listening());
  start_capture();
  {
    qarn_http_downloader downloader;
    std::string received;
    downloader.data_callback = collect;
    downloader.callback_context = &received;
    for (int file = 1; file <= 2; file++) {
      EXPECT_EQ(downloader.set_connection("127.0.0.1", server.port(), 0), 1);
      EXPECT_EQ(downloader.download("127.0.0.1", path_of(file).c_str()), 1);
      EXPECT_EQ(downloader.tcp_socket.state, QARN_SOCKET_STATE_UNCONNECTED);
    }
  }
  EXPECT_EQ(stop_capture(), "");
  std::vector<std::vector<std::string>> requests = server.finish();
  ASSERT_EQ(requests.size(), 2u);
  for (size_t i = 0; i < requests.size(); i++) {
    ASSERT_EQ(requests[i].size(), 1u);
    std::string expected = kept_request(static_cast<int>(i) + 1);
    expected.insert(expected.size() - 2, "Connection: close\r\n");
    EXPECT_EQ(requests[i][0], expected);
  }
}

}  // namespace
