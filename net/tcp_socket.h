// qarn_tcp_socket: an IPv4 TCP client connection with an optional TLS
// layer, driven without threads. The handle stays in non-blocking mode and
// every operation either completes at once or waits on the socket for at
// most the milliseconds its caller gives (a negative time-out waits without
// limit). Failures are reported through the diagnostics and recorded in
// |error| (connect, TLS, write) or |read_error| (read) as negative
// qarn_socket_error codes.
#ifndef TORVANE_NET_TCP_SOCKET_H
#define TORVANE_NET_TCP_SOCKET_H

#include "net/deadline.h"
#include "net/network_socket.h"
#include "net/tls_library.h"
#include "platform/socket.h"

// Connection states; callers test them as bits.
enum qarn_socket_state : int {
  QARN_SOCKET_STATE_UNCONNECTED = 1,    // no connection; the handle is closed
  QARN_SOCKET_STATE_CONNECTING = 2,     // a TCP connect is in progress
  QARN_SOCKET_STATE_SSL_CONNECTING = 4, // TCP stands, the TLS handshake has not finished
  QARN_SOCKET_STATE_CONNECTED = 8,      // ready for reading and writing
};

// Results of start_nonblocking_connect.
enum qarn_connect_result : int {
  QARN_CONNECT_FAILED = -1,
  QARN_CONNECT_NO_TLS_OBJECT = 0,  // TCP stands (state 2) but TLS could not start
  QARN_CONNECT_DONE = 1,
};

class qarn_tcp_socket {
 public:
  // A new socket is unconnected, without TLS, with no error recorded.
  qarn_tcp_socket();
  // The destructor reports and closes a handle that is still open, then
  // frees the TLS object.
  ~qarn_tcp_socket();
  qarn_tcp_socket(const qarn_tcp_socket &) = delete;
  qarn_tcp_socket &operator=(const qarn_tcp_socket &) = delete;

  // enable_ssl asks for TLS on the next connection. Returns 1 when TLS is
  // (or already was) requested; 0 after a report when the socket is not
  // unconnected.
  int enable_ssl();
  // disable_ssl turns TLS off for the next connection and frees the TLS
  // object. Returns 1, or 0 after a report when the socket is not
  // unconnected.
  int disable_ssl();

  // start_nonblocking_connect connects a new handle to |address| (its
  // family and port are overwritten with IPv4 and |port|, given in host
  // byte order), waiting up to |timeout_ms| for the TCP connect and the
  // whole TLS handshake together. Returns QARN_CONNECT_DONE (state 8),
  // QARN_CONNECT_NO_TLS_OBJECT (state 2, handle open) or
  // QARN_CONNECT_FAILED (see |error| and |state|).
  int start_nonblocking_connect(const platform_sockaddr_in *address, int port, int timeout_ms);

  // poll_state advances a TCP connect in progress without waiting and
  // returns the state. A handshake left in state 4 is not advanced.
  int poll_state();

  // nonblocking_write waits up to |timeout_ms| for room and writes once.
  // Returns the bytes written (> 0), 0 when nothing was written (also for
  // null |data| or |length| <= 0, without waiting), or -1 when the
  // connection failed or is not connected. The caller loops over partial
  // writes, offering the same bytes again after a 0.
  int nonblocking_write(const void *data, int length, int timeout_ms);

  // nonblocking_read reads what is there. Returns the bytes read (> 0), 0
  // when nothing is there yet, or -1 when the connection ended (|read_error|
  // 0 for an orderly end by the peer) or is not connected.
  int nonblocking_read(void *buffer, int size);

  // blocking_read is nonblocking_read after waiting up to |timeout_ms| for
  // data; 0 when none came.
  int blocking_read(void *buffer, int size, int timeout_ms);

  // close closes the handle; the state becomes 1. No TLS close message is
  // sent; the TLS object stays until the next connect, disable_ssl or
  // destruction.
  void close();

  ssl_st *ssl;                   // TLS object of the current connection, owned, or null
  int ssl_enabled;               // 1 when the next connection runs TLS
  qarn_network_socket net;       // the handle
  platform_sockaddr_in address;  // the peer of the last connect
  int state;                     // a qarn_socket_state
  int read_error;                // last read failure; 0 after an orderly end
  int error;                     // last connect, TLS or write failure

 private:
  int wait_for_connect(const qarn_deadline &deadline);
  int ssl_try_connect(bool wait_for_handshake, const qarn_deadline &deadline);
  int ssl_retry_connect(int *wanted_condition);
  int finish_handshake(const qarn_deadline &deadline);
  void report_ssl_error(int code);
  void report_tls_absent();
  void free_ssl();
  // fail_connection records |code| in |*slot|, closes and returns -1.
  int fail_connection(int *slot, int code);
  int orderly_end();
  int tls_write_once(const void *data, int length);
  int tls_read_once(void *buffer, int size);
  int plain_read_once(void *buffer, int size);
};

#endif
