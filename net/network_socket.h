// qarn_network_socket: the owner of one socket handle. Its operations turn
// socket failures into the transport's negative error codes.
#ifndef TORVANE_NET_NETWORK_SOCKET_H
#define TORVANE_NET_NETWORK_SOCKET_H

#include "platform/socket.h"

class qarn_network_socket {
 public:
  // The constructor starts the socket stack if needed; no handle is open.
  qarn_network_socket();
  // The destructor closes the handle if it is open.
  ~qarn_network_socket();
  qarn_network_socket(const qarn_network_socket &) = delete;
  qarn_network_socket &operator=(const qarn_network_socket &) = delete;

  // open creates an IPv4 stream socket into |handle|. Returns 1, or 0 when
  // no handle was created. An open handle is replaced without being closed;
  // callers close first.
  int open();
  // close closes the handle if it is open; |handle| is then invalid.
  void close();
  // is_open returns 1 while a handle is open.
  int is_open() const { return handle != PLATFORM_INVALID_SOCKET; }

  // connect connects to |address| (|address_len| bytes, 16 for IPv4).
  // Returns 0 when connected at once, else a negative code (transient
  // while a non-blocking connect goes on).
  int connect(const platform_sockaddr_in *address, int address_len);
  // receive reads at most |size| bytes. Returns the byte count, 0 when the
  // peer closed, else a negative code.
  int receive(void *buffer, int size);
  // send writes at most |length| bytes once. Returns the byte count, else a
  // negative code.
  int send(const void *data, int length);
  // wait waits up to |timeout_ms| (negative: without limit) for the
  // |requested| platform_socket_condition bits. Returns the number of
  // signalled conditions (stored as bits in |*signalled|), 0 on time-out,
  // else a negative code.
  int wait(int requested, int timeout_ms, int *signalled);
  // set_blocking and set_nonblocking switch the mode. Return 1, or 0 after
  // a report.
  int set_blocking();
  int set_nonblocking();

  // The socket handle, PLATFORM_INVALID_SOCKET when none is open.
  platform_socket_handle handle;
};

#endif
