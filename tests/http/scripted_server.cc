#include "tests/http/scripted_server.h"

#ifdef _WIN32
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

#include <chrono>
#include <utility>

namespace {

constexpr int kBacklog = 4;
constexpr int kAcceptTimeoutMs = 10000;
constexpr int kRequestTimeoutMs = 5000;
// A held connection is given up after this long even if the client stays.
constexpr int kHoldLimitMs = 20000;
const char kEndOfHead[] = "\r\n\r\n";

std::string read_request(loopback_connection &connection) {
  std::string request;
  while (request.size() < 4 || request.compare(request.size() - 4, 4, kEndOfHead) != 0) {
    std::string byte = connection.receive_exactly(1, kRequestTimeoutMs);
    if (byte.empty()) {
      break;
    }
    request += byte;
  }
  return request;
}

// reset_on_close makes the close of |connection| reset it instead of
// ending it in order: a linger time of zero.
void reset_on_close(loopback_connection &connection) {
  linger value;
  value.l_onoff = 1;
  value.l_linger = 0;
  setsockopt(connection.native(), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&value), sizeof(value));
}

}  // namespace

scripted_server::scripted_server(std::vector<script_piece> pieces, script_end end)
    : listener_(kBacklog), pieces_(std::move(pieces)), end_(end) {
  if (listener_.is_listening()) {
    thread_ = std::thread([this] { run(); });
  }
}

scripted_server::~scripted_server() { finish(); }

std::string scripted_server::finish(bool *client_closed) {
  if (thread_.joinable()) {
    thread_.join();
  }
  if (client_closed != nullptr) {
    *client_closed = client_closed_;
  }
  return request_;
}

void scripted_server::run() {
  loopback_connection connection = listener_.accept(kAcceptTimeoutMs);
  if (!connection.is_open()) {
    return;
  }
  request_ = read_request(connection);
  for (const script_piece &piece : pieces_) {
    if (!piece.bytes.empty() && !connection.send_all(piece.bytes)) {
      client_closed_ = true;  // the client gave up before the script's end
      return;
    }
    if (piece.pause_ms > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(piece.pause_ms));
    }
  }
  if (end_ == script_end::hold) {
    auto start = std::chrono::steady_clock::now();
    connection.receive_until_closed(kHoldLimitMs);
    client_closed_ = std::chrono::steady_clock::now() - start < std::chrono::milliseconds(kHoldLimitMs);
  }
  if (end_ == script_end::reset) {
    reset_on_close(connection);
  }
  connection.close();
}
