#include "net/socket_error.h"

int qarn_last_socket_error() { return platform_socket_last_error(); }

int qarn_socket_error_is_transient(int code) {
  switch (code) {
    case QARN_SOCKET_WOULD_BLOCK:
    case QARN_SOCKET_IN_PROGRESS:
    case QARN_SOCKET_INTERRUPTED:
    case QARN_SOCKET_NO_ERROR_RECORDED:
      return 1;
    default:
      return 0;
  }
}
