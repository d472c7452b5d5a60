#include "tests/http/keep_alive_server.h"

#include <chrono>
#include <utility>

#include "tests/http/scripted_server.h"

namespace {

constexpr int kBacklog = 4;
constexpr int kAcceptTimeoutMs = 10000;
// A connection waiting for its client's close is given up after this long
// without a byte.
constexpr int kWaitLimitMs = 20000;

}  // namespace

keep_alive_server::keep_alive_server(std::vector<connection_script> connections)
    : listener_(kBacklog), connections_(std::move(connections)) {
  if (listener_.is_listening()) {
    thread_ = std::thread([this] { run(); });
  }
}

keep_alive_server::~keep_alive_server() { finish(); }

std::vector<std::vector<std::string>> keep_alive_server::finish() {
  if (thread_.joinable()) {
    thread_.join();
  }
  return requests_;
}

void keep_alive_server::run() {
  for (const connection_script &script : connections_) {
    loopback_connection connection = listener_.accept(kAcceptTimeoutMs);
    if (!connection.is_open()) {
      return;
    }
    requests_.emplace_back();
    play(connection, script, requests_.back());
  }
}

void keep_alive_server::play(loopback_connection &connection, const connection_script &script,
                             std::vector<std::string> &requests) {
  for (const std::string &answer : script.answers) {
    std::string request = read_request_head(connection);
    if (request.empty()) {
      return;  // the client went away
    }
    requests.push_back(request);
    if (!connection.send_all(answer)) {
      return;
    }
  }
  if (script.pause_ms > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(script.pause_ms));
  }
  if (!script.unasked.empty() && !connection.send_all(script.unasked)) {
    return;
  }
  switch (script.end) {
    case connection_end::close:
      break;
    case connection_end::close_on_request:
    case connection_end::reset_on_request: {
      std::string request = read_request_head(connection);
      if (!request.empty()) {
        requests.push_back(request);
      }
      if (script.end == connection_end::reset_on_request) {
        connection.reset();
      }
      break;
    }
    case connection_end::wait_for_close: {
      std::string more = connection.receive_until_closed(kWaitLimitMs);
      if (!more.empty()) {
        requests.push_back(more);
      }
      break;
    }
  }
  connection.close();
}
