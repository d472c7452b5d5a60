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
constexpr size_t kEndOfHeadLength = sizeof(kEndOfHead) - 1;

// bytes_short_of_the_end returns how many more bytes the head needs at
// least: what the end of |request| still lacks of the empty line. Reading
// that many never reads past the head, and a long head is read in pieces
// rather than byte by byte, which under Wine's slower calls could outlast
// the client's patience.
size_t bytes_short_of_the_end(const std::string &request) {
  for (size_t matched = kEndOfHeadLength; matched > 0; matched--) {
    if (request.size() >= matched && request.compare(request.size() - matched, matched, kEndOfHead, matched) == 0) {
      return kEndOfHeadLength - matched;
    }
  }
  return kEndOfHeadLength;
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

std::string read_request_head(loopback_connection &connection) {
  std::string request;
  for (size_t needed = kEndOfHeadLength; needed > 0; needed = bytes_short_of_the_end(request)) {
    std::string piece = connection.receive_exactly(needed, kRequestTimeoutMs);
    request += piece;
    if (piece.size() < needed) {
      break;  // the client closed or went silent before the head's end
    }
  }
  return request;
}

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
  request_ = read_request_head(connection);
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
