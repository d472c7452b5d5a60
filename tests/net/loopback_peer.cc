#include "tests/net/loopback_peer.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
typedef int socklen_t;
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <cstring>
#include <utility>

namespace {

constexpr size_t kPieceSize = 4096;
// A peer that takes no byte for this long has stopped reading.
constexpr int kSendTimeoutMs = 10000;

platform_socket_handle open_stream() {
  platform_socket_startup();
  return platform_socket_open();
}

bool wait_for(platform_socket_handle handle, int condition, int timeout_ms) {
  int signalled = 0;
  return platform_socket_wait(handle, condition, timeout_ms, &signalled) > 0 &&
         (signalled & condition) != 0;
}

}  // namespace

platform_sockaddr_in loopback_address() {
  platform_sockaddr_in address;
  std::memset(&address, 0, sizeof(address));
  address.family = PLATFORM_AF_INET;
  address.address = platform_inet_addr("127.0.0.1");
  return address;
}

loopback_connection::~loopback_connection() { close(); }

loopback_connection::loopback_connection(loopback_connection &&other) noexcept
    : handle_(std::exchange(other.handle_, PLATFORM_INVALID_SOCKET)) {}

loopback_connection &loopback_connection::operator=(loopback_connection &&other) noexcept {
  if (this != &other) {
    close();
    handle_ = std::exchange(other.handle_, PLATFORM_INVALID_SOCKET);
  }
  return *this;
}

bool loopback_connection::send_all(const std::string &bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    // One piece at a time, once the socket takes more: a send of megabytes
    // that blocks while the client resets the connection never returned
    // under Wine.
    if (!wait_for(handle_, PLATFORM_SOCKET_WRITABLE, kSendTimeoutMs)) {
      return false;
    }
    size_t left = bytes.size() - done;
    int n = platform_socket_send(handle_, bytes.data() + done, static_cast<int>(left < kPieceSize ? left : kPieceSize));
    if (n <= 0) {
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string loopback_connection::receive_exactly(size_t count, int timeout_ms) {
  std::string received;
  char piece[kPieceSize];
  while (received.size() < count && wait_for(handle_, PLATFORM_SOCKET_READABLE, timeout_ms)) {
    size_t wanted = count - received.size();
    int n = platform_socket_recv(handle_, piece,
                                 static_cast<int>(wanted < sizeof(piece) ? wanted : sizeof(piece)));
    if (n <= 0) {
      break;
    }
    received.append(piece, static_cast<size_t>(n));
  }
  return received;
}

std::string loopback_connection::receive_until_closed(int timeout_ms) {
  std::string received;
  char piece[kPieceSize];
  while (wait_for(handle_, PLATFORM_SOCKET_READABLE, timeout_ms)) {
    int n = platform_socket_recv(handle_, piece, sizeof(piece));
    if (n <= 0) {
      break;
    }
    received.append(piece, static_cast<size_t>(n));
  }
  return received;
}

void loopback_connection::close() {
  if (is_open()) {
    platform_socket_close(handle_);
    handle_ = PLATFORM_INVALID_SOCKET;
  }
}

void loopback_connection::reset() {
  if (!is_open()) {
    return;
  }
  linger value;
  value.l_onoff = 1;
  value.l_linger = 0;
  auto native_socket = static_cast<decltype(::socket(0, 0, 0))>(handle_);
  setsockopt(native_socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&value), sizeof(value));
  close();
}

loopback_listener::loopback_listener(int backlog) {
  platform_socket_handle handle = open_stream();
  if (handle == PLATFORM_INVALID_SOCKET) {
    return;
  }
  platform_sockaddr_in address = loopback_address();
  sockaddr_in native_address;
  std::memcpy(&native_address, &address, sizeof(native_address));
  socklen_t length = sizeof(native_address);
  auto native_socket = static_cast<decltype(::socket(0, 0, 0))>(handle);
  if (bind(native_socket, reinterpret_cast<sockaddr *>(&native_address), length) != 0 ||
      listen(native_socket, backlog) != 0 ||
      getsockname(native_socket, reinterpret_cast<sockaddr *>(&native_address), &length) != 0) {
    platform_socket_close(handle);
    return;
  }
  handle_ = handle;
  port_ = ntohs(native_address.sin_port);
}

loopback_listener::~loopback_listener() {
  for (platform_socket_handle client : waiting_clients_) {
    platform_socket_close(client);
  }
  if (is_listening()) {
    platform_socket_close(handle_);
  }
}

loopback_connection loopback_listener::accept(int timeout_ms) {
  if (!wait_for(handle_, PLATFORM_SOCKET_READABLE, timeout_ms)) {
    return loopback_connection();
  }
  auto native_socket = static_cast<decltype(::socket(0, 0, 0))>(handle_);
  // INVALID_SOCKET and -1 both come out negative.
  platform_socket_handle handle =
      static_cast<platform_socket_handle>(::accept(native_socket, nullptr, nullptr));
  if (handle < 0) {
    return loopback_connection();
  }
  // An accepted socket may inherit non-blocking mode; the peer helpers
  // block.
  platform_socket_set_nonblocking(handle, 0);
  return loopback_connection(handle);
}

int loopback_listener::fill_backlog(int probe_ms, int max_clients) {
  platform_sockaddr_in address = loopback_address();
  address.port = platform_htons(static_cast<uint16_t>(port_));
  int completed = 0;
  for (int i = 0; i < max_clients; ++i) {
    platform_socket_handle client = platform_socket_open();
    if (client == PLATFORM_INVALID_SOCKET) {
      break;
    }
    waiting_clients_.push_back(client);
    platform_socket_set_nonblocking(client, 1);
    platform_socket_connect(client, &address, PLATFORM_SOCKADDR_IN_LENGTH);
    int signalled = 0;
    int n = platform_socket_wait(client, PLATFORM_SOCKET_WRITABLE | PLATFORM_SOCKET_EXCEPTION,
                                 probe_ms, &signalled);
    if (n <= 0 || signalled != PLATFORM_SOCKET_WRITABLE) {
      break;
    }
    ++completed;
  }
  return completed;
}

int unused_loopback_port() {
  int port = 0;
  {
    loopback_listener probe(1);
    port = probe.port();
  }
  return port;
}
