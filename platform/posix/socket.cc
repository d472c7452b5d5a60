#include "platform/socket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

static_assert(sizeof(sockaddr_in) == sizeof(platform_sockaddr_in),
              "the address record has the system's layout");
static_assert(AF_INET == PLATFORM_AF_INET, "IPv4 family value");

namespace {

struct errno_code {
  int errno_value;
  int code;
};

// errno values with the code of the matching Windows socket error.
const errno_code kErrnoCodes[] = {
    {EBADF, QARN_SOCKET_BAD_SOCKET},
    {EINVAL, QARN_SOCKET_BAD_SOCKET},
    {ENOTSOCK, QARN_SOCKET_BAD_SOCKET},
    {EFAULT, QARN_SOCKET_BAD_ADDRESS},
    {EMFILE, QARN_SOCKET_TOO_MANY_SOCKETS},
    {ENFILE, QARN_SOCKET_TOO_MANY_SOCKETS},
    {ENOBUFS, QARN_SOCKET_NO_BUFFER_SPACE},
    {ENOMEM, QARN_SOCKET_NO_BUFFER_SPACE},
    {EMSGSIZE, QARN_SOCKET_MESSAGE_TOO_LONG},
    {EADDRINUSE, QARN_SOCKET_ADDRESS_IN_USE},
    {ESHUTDOWN, QARN_SOCKET_SHUT_DOWN},
    {ECONNABORTED, QARN_SOCKET_ABORTED},
    {ECONNRESET, QARN_SOCKET_ABORTED},
    // Writing to a peer that has closed is a reset connection on Windows.
    {EPIPE, QARN_SOCKET_ABORTED},
    {EHOSTDOWN, QARN_SOCKET_HOST_DOWN},
    {EHOSTUNREACH, QARN_SOCKET_HOST_UNREACHABLE},
    {ENETDOWN, QARN_SOCKET_NETWORK_DOWN},
    {ENETUNREACH, QARN_SOCKET_NETWORK_UNREACHABLE},
    {ENETRESET, QARN_SOCKET_NETWORK_RESET},
    {EAGAIN, QARN_SOCKET_WOULD_BLOCK},
    {EWOULDBLOCK, QARN_SOCKET_WOULD_BLOCK},
    {EINPROGRESS, QARN_SOCKET_IN_PROGRESS},
    {EINTR, QARN_SOCKET_INTERRUPTED},
    {ECONNREFUSED, QARN_SOCKET_REFUSED},
    {ETIMEDOUT, QARN_SOCKET_TIMED_OUT},
    {EALREADY, QARN_SOCKET_ALREADY_IN_PROGRESS},
    {EISCONN, QARN_SOCKET_ALREADY_CONNECTED},
    {ENOTCONN, QARN_SOCKET_NOT_CONNECTED},
};

constexpr int kMillisecondsPerSecond = 1000;
constexpr int kMicrosecondsPerMillisecond = 1000;

int native(platform_socket_handle handle) { return static_cast<int>(handle); }

// A descriptor that select cannot watch fails the wait instead of
// overrunning the fd_set.
bool fits_fd_set(platform_socket_handle handle) {
  return handle >= 0 && handle < FD_SETSIZE;
}

// A socket that became writable after a non-blocking connect may carry the
// connect's failure; reading SO_ERROR tells, as Windows' exception set does.
bool has_pending_error(platform_socket_handle handle) {
  int pending = 0;
  socklen_t length = sizeof(pending);
  if (getsockopt(native(handle), SOL_SOCKET, SO_ERROR, &pending, &length) != 0) {
    return true;
  }
  if (pending != 0) {
    errno = pending;
    return true;
  }
  return false;
}

}  // namespace

int platform_socket_startup() { return 1; }

platform_socket_handle platform_socket_open() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  return fd < 0 ? PLATFORM_INVALID_SOCKET : fd;
}

int platform_socket_close(platform_socket_handle handle) {
  return close(native(handle)) == 0 ? 0 : -1;
}

int platform_socket_connect(platform_socket_handle handle,
                            const platform_sockaddr_in *address, int address_len) {
  sockaddr_in native_address;
  if (address == nullptr || address_len != static_cast<int>(sizeof(native_address))) {
    errno = EFAULT;
    return -1;
  }
  std::memcpy(&native_address, address, sizeof(native_address));
  return connect(native(handle), reinterpret_cast<const sockaddr *>(&native_address),
                 sizeof(native_address)) == 0
             ? 0
             : -1;
}

int platform_socket_recv(platform_socket_handle handle, void *buffer, int size) {
  ssize_t n = recv(native(handle), buffer, static_cast<size_t>(size), 0);
  return n < 0 ? -1 : static_cast<int>(n);
}

int platform_socket_send(platform_socket_handle handle, const void *data, int length) {
  ssize_t n = send(native(handle), data, static_cast<size_t>(length), MSG_NOSIGNAL);
  return n < 0 ? -1 : static_cast<int>(n);
}

int platform_socket_set_nonblocking(platform_socket_handle handle, int on) {
  int flags = fcntl(native(handle), F_GETFL, 0);
  if (flags < 0) {
    return -1;
  }
  flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  return fcntl(native(handle), F_SETFL, flags) == 0 ? 0 : -1;
}

int platform_socket_wait(platform_socket_handle handle, int requested, int timeout_ms,
                         int *signalled) {
  *signalled = 0;
  if (!fits_fd_set(handle)) {
    errno = EBADF;
    return -1;
  }
  fd_set read_set, write_set, exception_set;
  FD_ZERO(&read_set);
  FD_ZERO(&write_set);
  FD_ZERO(&exception_set);
  if (requested & PLATFORM_SOCKET_READABLE) FD_SET(native(handle), &read_set);
  if (requested & PLATFORM_SOCKET_WRITABLE) FD_SET(native(handle), &write_set);
  if (requested & PLATFORM_SOCKET_EXCEPTION) FD_SET(native(handle), &exception_set);
  timeval timeout;
  timeout.tv_sec = timeout_ms / kMillisecondsPerSecond;
  timeout.tv_usec = (timeout_ms % kMillisecondsPerSecond) * kMicrosecondsPerMillisecond;
  int n = select(native(handle) + 1, &read_set, &write_set, &exception_set,
                 timeout_ms < 0 ? nullptr : &timeout);
  if (n <= 0) {
    return n < 0 ? -1 : 0;
  }
  if (FD_ISSET(native(handle), &read_set)) *signalled |= PLATFORM_SOCKET_READABLE;
  if (FD_ISSET(native(handle), &write_set)) *signalled |= PLATFORM_SOCKET_WRITABLE;
  if (FD_ISSET(native(handle), &exception_set)) *signalled |= PLATFORM_SOCKET_EXCEPTION;
  const int write_and_exception = PLATFORM_SOCKET_WRITABLE | PLATFORM_SOCKET_EXCEPTION;
  if ((requested & write_and_exception) == write_and_exception &&
      (*signalled & PLATFORM_SOCKET_WRITABLE) && has_pending_error(handle)) {
    *signalled = PLATFORM_SOCKET_EXCEPTION;
  }
  int count = 0;
  for (int bit = PLATFORM_SOCKET_READABLE; bit <= PLATFORM_SOCKET_EXCEPTION; bit <<= 1) {
    if (*signalled & bit) ++count;
  }
  return count;
}

int platform_socket_last_error() {
  int value = errno;
  if (value == 0) {
    return QARN_SOCKET_NO_ERROR_RECORDED;
  }
  for (const errno_code &entry : kErrnoCodes) {
    if (entry.errno_value == value) {
      return entry.code;
    }
  }
  return QARN_SOCKET_OTHER_FAILURE;
}

void platform_socket_clear_last_error() { errno = 0; }

int platform_socket_native(platform_socket_handle handle) { return native(handle); }

int platform_socket_run_without_broken_pipe(int (*operation)(void *context), void *context) {
  // Block SIGPIPE for this thread while the operation runs, then swallow a
  // SIGPIPE that it raised, so that neither this process nor a program it
  // later becomes inherits an ignored signal.
  sigset_t pipe_only, previous;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  sigset_t pending;
  sigemptyset(&pending);
  bool was_pending = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_only, &previous);
  int result = operation(context);
  int saved_errno = errno;
  if (!was_pending) {
    sigemptyset(&pending);
    if (sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE)) {
      timespec no_wait = {0, 0};
      sigtimedwait(&pipe_only, nullptr, &no_wait);
    }
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  errno = saved_errno;
  return result;
}

uint32_t platform_inet_addr(const char *text) { return inet_addr(text); }

uint16_t platform_htons(uint16_t port) { return htons(port); }

int platform_resolve_ipv4(const char *host, uint32_t *address) {
  addrinfo hints;
  std::memset(&hints, 0, sizeof(hints));
  hints.ai_family = AF_INET;
  addrinfo *results = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &results) != 0) {
    return 0;
  }
  int found = 0;
  if (results != nullptr && results->ai_addr != nullptr &&
      results->ai_addr->sa_family == AF_INET) {
    sockaddr_in first;
    std::memcpy(&first, results->ai_addr, sizeof(first));
    *address = first.sin_addr.s_addr;
    found = 1;
  }
  freeaddrinfo(results);
  return found;
}
