#include "platform/socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

static_assert(sizeof(sockaddr_in) == sizeof(platform_sockaddr_in),
              "the address record has the system's layout");
static_assert(AF_INET == PLATFORM_AF_INET, "IPv4 family value");

namespace {

constexpr WORD kWinsockVersion = MAKEWORD(2, 2);  // 0x0202
constexpr long kMillisecondsPerSecond = 1000;
constexpr long kMicrosecondsPerMillisecond = 1000;

struct winsock_code {
  int winsock_error;
  int code;
};

const winsock_code kWinsockCodes[] = {
    {WSANOTINITIALISED, QARN_SOCKET_STACK_NOT_STARTED},
    {WSAEBADF, QARN_SOCKET_BAD_SOCKET},
    {WSAEINVAL, QARN_SOCKET_BAD_SOCKET},
    {WSAENOTSOCK, QARN_SOCKET_BAD_SOCKET},
    {WSAEFAULT, QARN_SOCKET_BAD_ADDRESS},
    {WSAEMFILE, QARN_SOCKET_TOO_MANY_SOCKETS},
    {WSAENOBUFS, QARN_SOCKET_NO_BUFFER_SPACE},
    {WSAEMSGSIZE, QARN_SOCKET_MESSAGE_TOO_LONG},
    {WSAEADDRINUSE, QARN_SOCKET_ADDRESS_IN_USE},
    {WSAESHUTDOWN, QARN_SOCKET_SHUT_DOWN},
    {WSAEDISCON, QARN_SOCKET_SHUT_DOWN},
    {WSAECONNABORTED, QARN_SOCKET_ABORTED},
    {WSAECONNRESET, QARN_SOCKET_ABORTED},
    {WSAEHOSTDOWN, QARN_SOCKET_HOST_DOWN},
    {WSAEHOSTUNREACH, QARN_SOCKET_HOST_UNREACHABLE},
    {WSAENETDOWN, QARN_SOCKET_NETWORK_DOWN},
    {WSAENETUNREACH, QARN_SOCKET_NETWORK_UNREACHABLE},
    {WSAENETRESET, QARN_SOCKET_NETWORK_RESET},
    {WSAEWOULDBLOCK, QARN_SOCKET_WOULD_BLOCK},
    {WSAEINPROGRESS, QARN_SOCKET_IN_PROGRESS},
    {WSAEINTR, QARN_SOCKET_INTERRUPTED},
    {WSAECONNREFUSED, QARN_SOCKET_REFUSED},
    {WSAETIMEDOUT, QARN_SOCKET_TIMED_OUT},
    {WSAEALREADY, QARN_SOCKET_ALREADY_IN_PROGRESS},
    {WSAEISCONN, QARN_SOCKET_ALREADY_CONNECTED},
    {WSAENOTCONN, QARN_SOCKET_NOT_CONNECTED},
};

SOCKET native(platform_socket_handle handle) { return static_cast<SOCKET>(handle); }

}  // namespace

int platform_socket_startup() {
  WSADATA data;
  return WSAStartup(kWinsockVersion, &data) == 0 ? 1 : 0;
}

platform_socket_handle platform_socket_open() {
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  return s == INVALID_SOCKET ? PLATFORM_INVALID_SOCKET
                             : static_cast<platform_socket_handle>(s);
}

int platform_socket_close(platform_socket_handle handle) {
  return closesocket(native(handle)) == 0 ? 0 : -1;
}

int platform_socket_connect(platform_socket_handle handle,
                            const platform_sockaddr_in *address, int address_len) {
  sockaddr_in native_address;
  if (address == nullptr || address_len != static_cast<int>(sizeof(native_address))) {
    WSASetLastError(WSAEFAULT);
    return -1;
  }
  std::memcpy(&native_address, address, sizeof(native_address));
  return connect(native(handle), reinterpret_cast<const sockaddr *>(&native_address),
                 sizeof(native_address)) == 0
             ? 0
             : -1;
}

int platform_socket_recv(platform_socket_handle handle, void *buffer, int size) {
  int n = recv(native(handle), static_cast<char *>(buffer), size, 0);
  return n == SOCKET_ERROR ? -1 : n;
}

// Windows sockets raise no signal on a broken connection.
int platform_socket_send(platform_socket_handle handle, const void *data, int length) {
  int n = send(native(handle), static_cast<const char *>(data), length, 0);
  return n == SOCKET_ERROR ? -1 : n;
}

int platform_socket_set_nonblocking(platform_socket_handle handle, int on) {
  u_long mode = on ? 1 : 0;
  return ioctlsocket(native(handle), FIONBIO, &mode) == 0 ? 0 : -1;
}

int platform_socket_wait(platform_socket_handle handle, int requested, int timeout_ms,
                         int *signalled) {
  *signalled = 0;
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
  // The first argument only matters elsewhere; Windows ignores it.
  int n = select(static_cast<int>(native(handle)) + 1, &read_set, &write_set, &exception_set,
                 timeout_ms < 0 ? nullptr : &timeout);
  if (n == SOCKET_ERROR) {
    return -1;
  }
  if (FD_ISSET(native(handle), &read_set)) *signalled |= PLATFORM_SOCKET_READABLE;
  if (FD_ISSET(native(handle), &write_set)) *signalled |= PLATFORM_SOCKET_WRITABLE;
  if (FD_ISSET(native(handle), &exception_set)) *signalled |= PLATFORM_SOCKET_EXCEPTION;
  return n;
}

int platform_socket_last_error() {
  int value = WSAGetLastError();
  if (value == 0) {
    return QARN_SOCKET_NO_ERROR_RECORDED;
  }
  for (const winsock_code &entry : kWinsockCodes) {
    if (entry.winsock_error == value) {
      return entry.code;
    }
  }
  return QARN_SOCKET_OTHER_FAILURE;
}

void platform_socket_clear_last_error() { WSASetLastError(0); }

int platform_socket_native(platform_socket_handle handle) {
  return static_cast<int>(native(handle));
}

int platform_socket_run_without_broken_pipe(int (*operation)(void *context), void *context) {
  return operation(context);
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
