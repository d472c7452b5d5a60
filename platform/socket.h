// IPv4 TCP sockets: start-up of the socket stack, one handle per
// connection, a select-style wait, one-shot send and receive, and the last
// socket error of the calling thread mapped onto the transport's own codes.
// Both implementations give the same observable results; in particular a
// failed non-blocking connect shows as the exception condition of a wait.
#ifndef TORVANE_PLATFORM_SOCKET_H
#define TORVANE_PLATFORM_SOCKET_H

#include <cstdint>

// The transport's socket error codes. Every failure of a socket operation
// is one of these; the Windows and POSIX errors are mapped onto them.
enum qarn_socket_error : int32_t {
  QARN_SOCKET_OTHER_FAILURE = -1,
  QARN_SOCKET_NO_ERROR_RECORDED = -2,
  QARN_SOCKET_STACK_NOT_STARTED = -10,
  QARN_SOCKET_BAD_SOCKET = -11,
  QARN_SOCKET_BAD_ADDRESS = -12,
  QARN_SOCKET_TOO_MANY_SOCKETS = -13,
  QARN_SOCKET_NO_BUFFER_SPACE = -14,
  QARN_SOCKET_MESSAGE_TOO_LONG = -15,
  QARN_SOCKET_ADDRESS_IN_USE = -16,
  QARN_SOCKET_SHUT_DOWN = -20,
  QARN_SOCKET_ABORTED = -21,  // aborted or reset
  QARN_SOCKET_HOST_DOWN = -22,
  QARN_SOCKET_HOST_UNREACHABLE = -23,
  QARN_SOCKET_NETWORK_DOWN = -24,
  QARN_SOCKET_NETWORK_UNREACHABLE = -25,
  QARN_SOCKET_NETWORK_RESET = -26,
  QARN_SOCKET_WOULD_BLOCK = -30,
  QARN_SOCKET_IN_PROGRESS = -31,
  QARN_SOCKET_INTERRUPTED = -32,
  QARN_SOCKET_REFUSED = -40,
  QARN_SOCKET_TIMED_OUT = -41,
  QARN_SOCKET_ALREADY_IN_PROGRESS = -42,
  QARN_SOCKET_ALREADY_CONNECTED = -43,
  QARN_SOCKET_NOT_CONNECTED = -44,
};

// A socket handle: a SOCKET on Windows, a file descriptor elsewhere.
typedef intptr_t platform_socket_handle;
constexpr platform_socket_handle PLATFORM_INVALID_SOCKET = -1;

// Address family of IPv4, the same value on every supported system.
constexpr uint16_t PLATFORM_AF_INET = 2;

// The IPv4 socket address record, laid out exactly as the system's
// sockaddr_in (16 bytes): family, port and address in network byte order,
// then zero padding.
struct platform_sockaddr_in {
  uint16_t family;
  uint16_t port;     // network byte order
  uint32_t address;  // network byte order
  uint8_t zero[8];
};
static_assert(sizeof(platform_sockaddr_in) == 16, "sockaddr_in is 16 bytes");
constexpr int PLATFORM_SOCKADDR_IN_LENGTH = 16;

// Conditions of a wait, combined as bits.
enum platform_socket_condition : int {
  PLATFORM_SOCKET_READABLE = 1,
  PLATFORM_SOCKET_WRITABLE = 2,
  PLATFORM_SOCKET_EXCEPTION = 4,
};

// platform_socket_startup starts the socket stack (WSAStartup 2.2 on
// Windows; nothing to do elsewhere). Returns 1 on success, else 0.
int platform_socket_startup();

// platform_socket_open creates an IPv4 stream socket. Returns the handle,
// or PLATFORM_INVALID_SOCKET (the reason is in the last error).
platform_socket_handle platform_socket_open();

// platform_socket_close closes |handle|. Returns 0, or -1 on failure.
int platform_socket_close(platform_socket_handle handle);

// platform_socket_connect starts or completes a connect to |address| of
// |address_len| bytes. Returns 0 when connected, else -1 (last error set).
int platform_socket_connect(platform_socket_handle handle,
                            const platform_sockaddr_in *address, int address_len);

// platform_socket_recv reads at most |size| bytes into |buffer|. Returns the
// byte count, 0 when the peer has closed, or -1 (last error set).
int platform_socket_recv(platform_socket_handle handle, void *buffer, int size);

// platform_socket_send writes at most |length| bytes of |data| once. A peer
// that has gone never raises a signal. Returns the byte count or -1.
int platform_socket_send(platform_socket_handle handle, const void *data, int length);

// platform_socket_set_nonblocking switches non-blocking mode on (nonzero
// |on|) or off. Returns 0, or -1 on failure.
int platform_socket_set_nonblocking(platform_socket_handle handle, int on);

// platform_socket_wait waits up to |timeout_ms| (negative: without limit)
// for any of the |requested| conditions. Returns the number of signalled
// conditions and stores them as bits in |*signalled|; 0 on time-out; -1 when
// the wait failed (last error set). When both writability and exceptions
// are requested, a socket whose connect attempt failed signals only the
// exception.
int platform_socket_wait(platform_socket_handle handle, int requested, int timeout_ms,
                         int *signalled);

// platform_socket_last_error returns the last socket error of the calling
// thread as a qarn_socket_error; QARN_SOCKET_NO_ERROR_RECORDED when there is
// none.
int platform_socket_last_error();

// platform_socket_clear_last_error forgets the last socket error, so that a
// later platform_socket_last_error tells whether a call in between failed.
void platform_socket_clear_last_error();

// platform_socket_native returns the descriptor that a TLS library attaches
// to (the SOCKET or the file descriptor as an int).
int platform_socket_native(platform_socket_handle handle);

// platform_socket_run_without_broken_pipe runs |operation(context)| so that
// a write inside it to a peer that has gone fails with an error instead of
// raising a signal; used around writes that a TLS library makes itself.
// Returns what |operation| returns.
int platform_socket_run_without_broken_pipe(int (*operation)(void *context), void *context);

// platform_inet_addr converts a dotted-quad text as inet_addr does; the
// result is in network byte order.
uint32_t platform_inet_addr(const char *text);

// platform_htons converts a port to network byte order.
uint16_t platform_htons(uint16_t port);

// platform_resolve_ipv4 looks |host| up (getaddrinfo with family AF_INET
// and all other hints 0) and stores the first IPv4 address, in network byte
// order, in |*address|. Returns 1, or 0 when the lookup failed.
int platform_resolve_ipv4(const char *host, uint32_t *address);

#endif
