// A server for the connection reuse tests: it listens on 127.0.0.1 and, on
// its own thread, accepts one connection after the other, each playing its
// own script: an answer for each request that comes over it, then an end.
// It records every request of every connection, so that a test sees which
// connection carried what.
#ifndef TORVANE_TESTS_HTTP_KEEP_ALIVE_SERVER_H
#define TORVANE_TESTS_HTTP_KEEP_ALIVE_SERVER_H

#include <string>
#include <thread>
#include <vector>

#include "tests/net/loopback_peer.h"

// How a connection ends after its last answer (and its unasked bytes).
enum class connection_end {
  close,             // an orderly close at once
  close_on_request,  // reads one more request, then closes without a byte of answer
  reset_on_request,  // reads one more request, then resets the connection
  wait_for_close,    // keeps the connection until the client closes it; what it
                     // sends meanwhile is recorded as one more request
};

struct connection_script {
  std::vector<std::string> answers;  // one per request, sent once its head is read
  connection_end end = connection_end::wait_for_close;
  int pause_ms = 0;     // after the last answer, before the unasked bytes and the end
  std::string unasked;  // sent after the pause: bytes no request asked for
};

class keep_alive_server {
 public:
  explicit keep_alive_server(std::vector<connection_script> connections);
  // Waits for every script to end.
  ~keep_alive_server();
  keep_alive_server(const keep_alive_server &) = delete;
  keep_alive_server &operator=(const keep_alive_server &) = delete;

  bool is_listening() const { return listener_.is_listening(); }
  int port() const { return listener_.port(); }
  // finish waits for every script to end and returns the requests that
  // each accepted connection brought, in order.
  std::vector<std::vector<std::string>> finish();

 private:
  void run();
  void play(loopback_connection &connection, const connection_script &script, std::vector<std::string> &requests);

  loopback_listener listener_;
  std::vector<connection_script> connections_;
  std::vector<std::vector<std::string>> requests_;
  std::thread thread_;
};

#endif
