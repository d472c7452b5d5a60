// Loopback peers for the transport tests: a listening socket on 127.0.0.1
// and the accepted connections, with the few socket calls the transport
// itself never makes (bind, listen, accept). The only test file that
// includes the system's socket headers is loopback_peer.cc.
#ifndef TORVANE_TESTS_NET_LOOPBACK_PEER_H
#define TORVANE_TESTS_NET_LOOPBACK_PEER_H

#include <cstdint>
#include <string>
#include <vector>

#include "platform/socket.h"

// loopback_address returns 127.0.0.1 as an address record (port 0).
platform_sockaddr_in loopback_address();

// An accepted connection; closed when destroyed.
class loopback_connection {
 public:
  loopback_connection() = default;
  explicit loopback_connection(platform_socket_handle handle) : handle_(handle) {}
  ~loopback_connection();
  loopback_connection(loopback_connection &&other) noexcept;
  loopback_connection &operator=(loopback_connection &&other) noexcept;
  loopback_connection(const loopback_connection &) = delete;
  loopback_connection &operator=(const loopback_connection &) = delete;

  bool is_open() const { return handle_ != PLATFORM_INVALID_SOCKET; }
  int native() const { return platform_socket_native(handle_); }
  // send_all writes every byte of |bytes|, waiting up to 10 s for the peer
  // to take each piece; true when all went.
  bool send_all(const std::string &bytes);
  // receive_exactly reads |count| bytes, waiting up to |timeout_ms| for
  // each piece; returns what arrived.
  std::string receive_exactly(size_t count, int timeout_ms);
  // receive_until_closed reads until the peer closes or |timeout_ms| passes
  // without data.
  std::string receive_until_closed(int timeout_ms);
  void close();
  // reset closes the connection with a reset instead of an orderly end (a
  // linger time of zero).
  void reset();

 private:
  platform_socket_handle handle_ = PLATFORM_INVALID_SOCKET;
};

// A socket listening on 127.0.0.1 at a port the system picked.
class loopback_listener {
 public:
  explicit loopback_listener(int backlog);
  ~loopback_listener();
  loopback_listener(const loopback_listener &) = delete;
  loopback_listener &operator=(const loopback_listener &) = delete;

  bool is_listening() const { return handle_ != PLATFORM_INVALID_SOCKET; }
  int port() const { return port_; }
  // accept waits up to |timeout_ms| for a connection; the result is not
  // open when none came.
  loopback_connection accept(int timeout_ms);
  // fill_backlog connects clients that are never accepted until one of
  // them is no longer completed within |probe_ms|; returns how many were
  // completed. The clients stay open until the listener is destroyed.
  int fill_backlog(int probe_ms, int max_clients);

 private:
  platform_socket_handle handle_ = PLATFORM_INVALID_SOCKET;
  int port_ = 0;
  std::vector<platform_socket_handle> waiting_clients_;
};

// unused_loopback_port returns a port on 127.0.0.1 where nothing listens:
// one the system just handed out and took back.
int unused_loopback_port();

#endif
