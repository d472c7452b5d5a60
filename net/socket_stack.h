// One-time start of the system's socket stack.
#ifndef TORVANE_NET_SOCKET_STACK_H
#define TORVANE_NET_SOCKET_STACK_H

// check_socket_stack_startup starts the socket stack unless it already
// runs. A failed start is reported and tried again on the next call. The
// stack is never shut down.
void check_socket_stack_startup();

// qarn_socket_stack_started returns 1 once the socket stack has started.
int qarn_socket_stack_started();

// qarn_socket_stack_startup_checks returns how many times
// check_socket_stack_startup has been called in this process, so that a
// caller can see whether an operation needed the socket stack.
int qarn_socket_stack_startup_checks();

#endif
