// A misbehaving HTTP server for the downloader tests: it listens on
// 127.0.0.1, accepts one connection on its own thread, reads the request,
// then plays a script of byte pieces and pauses and ends the connection the
// way the script says. The whole request is read before anything else, so
// that a close is never turned into a reset by unread input.
#ifndef TORVANE_TESTS_HTTP_SCRIPTED_SERVER_H
#define TORVANE_TESTS_HTTP_SCRIPTED_SERVER_H

#include <string>
#include <thread>
#include <vector>

#include "tests/net/loopback_peer.h"

// read_request_head reads one request head, up to and including the empty
// line that ends it, waiting up to 5 s for each piece; returns what came
// (less when the client closed or went silent first).
std::string read_request_head(loopback_connection &connection);

// One piece of the answer: bytes to send, then a pause.
struct script_piece {
  std::string bytes;
  int pause_ms = 0;
};

// How the server ends the connection after the last piece.
enum class script_end {
  close,  // an orderly close
  hold,   // keeps the connection open until the client closes it
  reset,  // resets the connection
};

class scripted_server {
 public:
  scripted_server(std::vector<script_piece> pieces, script_end end);
  // Waits for the script to end.
  ~scripted_server();
  scripted_server(const scripted_server &) = delete;
  scripted_server &operator=(const scripted_server &) = delete;

  bool is_listening() const { return listener_.is_listening(); }
  int port() const { return listener_.port(); }
  // finish waits for the script to end and returns the request as
  // received. |client_closed| (optional) tells whether the client closed
  // the connection before the script's end (a piece could not be sent) or
  // while the server held the connection.
  std::string finish(bool *client_closed = nullptr);

 private:
  void run();

  loopback_listener listener_;
  std::vector<script_piece> pieces_;
  script_end end_;
  std::string request_;
  bool client_closed_ = false;
  std::thread thread_;
};

#endif
