#include "net/network_socket.h"

#include "net/socket_error.h"
#include "net/socket_stack.h"
#include "support/diagnostics.h"

qarn_network_socket::qarn_network_socket() : handle(PLATFORM_INVALID_SOCKET) {
  check_socket_stack_startup();
}

qarn_network_socket::~qarn_network_socket() { close(); }

int qarn_network_socket::open() {
  handle = platform_socket_open();
  return is_open();
}

void qarn_network_socket::close() {
  if (!is_open()) {
    return;
  }
  platform_socket_close(handle);
  handle = PLATFORM_INVALID_SOCKET;
}

int qarn_network_socket::connect(const platform_sockaddr_in *address, int address_len) {
  if (platform_socket_connect(handle, address, address_len) < 0) {
    return qarn_last_socket_error();
  }
  return 0;
}

int qarn_network_socket::receive(void *buffer, int size) {
  int n = platform_socket_recv(handle, buffer, size);
  return n < 0 ? qarn_last_socket_error() : n;
}

int qarn_network_socket::send(const void *data, int length) {
  int n = platform_socket_send(handle, data, length);
  return n < 0 ? qarn_last_socket_error() : n;
}

int qarn_network_socket::wait(int requested, int timeout_ms, int *signalled) {
  int n = platform_socket_wait(handle, requested, timeout_ms, signalled);
  return n < 0 ? qarn_last_socket_error() : n;
}

int qarn_network_socket::set_blocking() {
  if (platform_socket_set_nonblocking(handle, 0) < 0) {
    qarn_diagnostic(
        "Error in qarn_network_socket::set_blocking(), setting blocking mode failed.",
        QARN_DIAG_OPERATION, QARN_MODULE_NET);
    return 0;
  }
  return 1;
}

int qarn_network_socket::set_nonblocking() {
  if (platform_socket_set_nonblocking(handle, 1) < 0) {
    qarn_diagnostic(
        "Error in qarn_network_socket::set_nonblocking(), setting nonblocking mode failed.",
        QARN_DIAG_OPERATION, QARN_MODULE_NET);
    return 0;
  }
  return 1;
}
