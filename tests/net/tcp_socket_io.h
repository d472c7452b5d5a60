// Whole transfers through a qarn_tcp_socket, plain or TLS, for the
// transport tests: connect to a loopback port, write everything, read a
// given count.
#ifndef TORVANE_TESTS_NET_TCP_SOCKET_IO_H
#define TORVANE_TESTS_NET_TCP_SOCKET_IO_H

#include <string>

#include "net/tcp_socket.h"
#include "tests/net/loopback_peer.h"

// Size of the blocks read_exactly reads in, as the downloader reads.
constexpr int TCP_SOCKET_IO_BLOCK_LEN = 8192;

// connect_to_loopback starts a non-blocking connect of |socket| to |port|
// on 127.0.0.1 and returns start_nonblocking_connect's result.
inline int connect_to_loopback(qarn_tcp_socket &socket, int port, int timeout_ms) {
  platform_sockaddr_in address = loopback_address();
  return socket.start_nonblocking_connect(&address, port, timeout_ms);
}

// write_all loops over partial writes as the downloader does, waiting up to
// |timeout_ms| for each; true once every byte of |bytes| is written.
inline bool write_all(qarn_tcp_socket &socket, const std::string &bytes, int timeout_ms) {
  size_t done = 0;
  while (done < bytes.size()) {
    int n = socket.nonblocking_write(bytes.data() + done, static_cast<int>(bytes.size() - done),
                                     timeout_ms);
    if (n < 0) {
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// read_exactly reads with blocking_read until |count| bytes came, the peer
// closed or a read failed; returns what came.
inline std::string read_exactly(qarn_tcp_socket &socket, size_t count, int timeout_ms) {
  std::string received;
  char block[TCP_SOCKET_IO_BLOCK_LEN];
  while (received.size() < count) {
    int n = socket.blocking_read(block, sizeof(block), timeout_ms);
    if (n <= 0) {
      break;
    }
    received.append(block, static_cast<size_t>(n));
  }
  return received;
}

#endif
