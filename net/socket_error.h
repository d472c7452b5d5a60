// The transport's socket error codes (declared with the platform layer that
// maps system errors onto them) and the two questions every socket
// operation asks about a failure.
#ifndef TORVANE_NET_SOCKET_ERROR_H
#define TORVANE_NET_SOCKET_ERROR_H

#include "platform/socket.h"

// qarn_last_socket_error returns the last socket error of the calling
// thread as one of the negative qarn_socket_error codes; -2 when the system
// recorded none.
int qarn_last_socket_error();

// qarn_socket_error_is_transient returns 1 for the codes that mean nothing
// has happened yet and the operation may be tried again (would block, in
// progress, interrupted, no error recorded); 0 for every other code. A
// transient failure never closes a connection.
int qarn_socket_error_is_transient(int code);

#endif
