#include "net/tcp_socket.h"

#include <cstdio>
#include <cstring>

#include "net/socket_error.h"
#include "net/ssl_startup.h"
#include "support/diagnostics.h"

namespace {

// report_ssl_error reads the library's error text into this many bytes
// and formats its line into the larger buffer.
constexpr int kSslErrorTextSize = 256;
constexpr int kSslErrorLineSize = 1024;

constexpr int kWriteOrException = PLATFORM_SOCKET_WRITABLE | PLATFORM_SOCKET_EXCEPTION;
constexpr int kReadOrException = PLATFORM_SOCKET_READABLE | PLATFORM_SOCKET_EXCEPTION;
// A zero time-out makes a wait a poll.
constexpr int kPollTimeoutMs = 0;

void report(const char *text, int32_t category) {
  qarn_diagnostic(text, category, QARN_MODULE_NET);
}

}  // namespace

qarn_tcp_socket::qarn_tcp_socket()
    : ssl(nullptr),
      ssl_enabled(0),
      address(),
      state(QARN_SOCKET_STATE_UNCONNECTED),
      read_error(0),
      error(0) {}

qarn_tcp_socket::~qarn_tcp_socket() {
  if (net.is_open()) {
    report("Error in ~qarn_tcp_socket(), socket not closed.", QARN_DIAG_OPERATION);
    net.close();
  }
  free_ssl();
}

int qarn_tcp_socket::enable_ssl() {
  if (state != QARN_SOCKET_STATE_UNCONNECTED) {
    report("Error in qarn_tcp_socket::enable_ssl(), socket not in unconnected state.",
           QARN_DIAG_OPERATION);
    return 0;
  }
  if (ssl_enabled) {
    report("Error in qarn_server_socket_writeable::make_ssl_capable(), socket already SSL "
           "enabled.",
           QARN_DIAG_OPERATION);
    return 1;
  }
  ssl_enabled = 1;
  return 1;
}

int qarn_tcp_socket::disable_ssl() {
  if (state != QARN_SOCKET_STATE_UNCONNECTED) {
    report("Error in qarn_tcp_socket::disable_ssl(), socket not in unconnected state.",
           QARN_DIAG_OPERATION);
    return 0;
  }
  ssl_enabled = 0;
  free_ssl();
  return 1;
}

void qarn_tcp_socket::close() {
  state = QARN_SOCKET_STATE_UNCONNECTED;
  net.close();
}

void qarn_tcp_socket::free_ssl() {
  if (ssl != nullptr) {
    tls_connection_free(ssl);
    ssl = nullptr;
  }
}

int qarn_tcp_socket::fail_connection(int *slot, int code) {
  *slot = code;
  close();
  return -1;
}

// ---------------------------------------------------------------------------
// Connecting

int qarn_tcp_socket::start_nonblocking_connect(const platform_sockaddr_in *peer, int port,
                                               int timeout_ms) {
  if (state == QARN_SOCKET_STATE_CONNECTING || state == QARN_SOCKET_STATE_SSL_CONNECTING) {
    error = QARN_SOCKET_IN_PROGRESS;
    return QARN_CONNECT_FAILED;
  }
  if (state == QARN_SOCKET_STATE_CONNECTED) {
    error = QARN_SOCKET_ALREADY_CONNECTED;
    return QARN_CONNECT_FAILED;
  }
  if (peer == nullptr) {
    report("Error in qarn_tcp_socket::start_nonblocking_connect(), NULL address.",
           QARN_DIAG_MISUSE);
    error = QARN_SOCKET_BAD_ADDRESS;
    return QARN_CONNECT_FAILED;
  }
  if (net.is_open()) {
    report("Error in qarn_tcp_socket::start_nonblocking_connect(), socket not closed.",
           QARN_DIAG_OPERATION);
    net.close();
  }
  if (!net.open()) {
    report("Error in qarn_tcp_socket::start_nonblocking_connect(), unable to create new "
           "socket?",
           QARN_DIAG_RESOURCE);
    error = QARN_SOCKET_TOO_MANY_SOCKETS;
    return QARN_CONNECT_FAILED;
  }
  // One deadline for the TCP connect and every step of the handshake.
  const qarn_deadline deadline = qarn_deadline_after(timeout_ms);
  state = QARN_SOCKET_STATE_CONNECTING;
  std::memcpy(&address, peer, sizeof(address));
  address.family = PLATFORM_AF_INET;
  address.port = platform_htons(static_cast<uint16_t>(port));
  net.set_nonblocking();

  int rc = net.connect(&address, PLATFORM_SOCKADDR_IN_LENGTH);
  if (rc == 0 || rc == QARN_SOCKET_ALREADY_CONNECTED) {
    error = 0;
    int r = ssl_try_connect(false, deadline);
    if (r != 0) {
      return r > 0 ? QARN_CONNECT_DONE : QARN_CONNECT_FAILED;
    }
    // The handshake has begun but waits for the peer: finish it by the
    // deadline. Without a TLS object there is nothing to wait for.
    if (state == QARN_SOCKET_STATE_SSL_CONNECTING) {
      return finish_handshake(deadline);
    }
    return QARN_CONNECT_NO_TLS_OBJECT;
  }
  error = rc;
  if (!qarn_socket_error_is_transient(rc) && rc != QARN_SOCKET_ALREADY_IN_PROGRESS) {
    return fail_connection(&error, rc);
  }
  return wait_for_connect(deadline);
}

int qarn_tcp_socket::wait_for_connect(const qarn_deadline &deadline) {
  int signalled = 0;
  int n = net.wait(kWriteOrException, qarn_deadline_remaining_ms(deadline), &signalled);
  if (n < 0) {
    return fail_connection(&error, QARN_SOCKET_OTHER_FAILURE);
  }
  if (n == 0) {
    return fail_connection(&error, QARN_SOCKET_TIMED_OUT);
  }
  if (signalled & PLATFORM_SOCKET_EXCEPTION) {
    return fail_connection(&error, QARN_SOCKET_ABORTED);
  }
  if (signalled & PLATFORM_SOCKET_WRITABLE) {
    return ssl_try_connect(true, deadline);
  }
  return fail_connection(&error, QARN_SOCKET_ABORTED);
}

int qarn_tcp_socket::poll_state() {
  if (state != QARN_SOCKET_STATE_CONNECTING) {
    return state;
  }
  int signalled = 0;
  int n = net.wait(kWriteOrException, kPollTimeoutMs, &signalled);
  if (n < 0) {
    error = n;
    if (!qarn_socket_error_is_transient(n)) {
      close();
    }
  } else if (signalled & PLATFORM_SOCKET_EXCEPTION) {
    fail_connection(&error, QARN_SOCKET_ABORTED);
  } else if (signalled & PLATFORM_SOCKET_WRITABLE) {
    ssl_try_connect(false, qarn_deadline_after(kPollTimeoutMs));
  }
  return state;
}

// ---------------------------------------------------------------------------
// TLS handshake

int qarn_tcp_socket::ssl_try_connect(bool wait_for_handshake, const qarn_deadline &deadline) {
  if (!ssl_enabled) {
    state = QARN_SOCKET_STATE_CONNECTED;
    return 1;
  }
  if (state != QARN_SOCKET_STATE_CONNECTING) {
    report("Error in qarn_tcp_socket::ssl_try_connect(), socket not in connecting state.",
           QARN_DIAG_OPERATION);
    return fail_connection(&error, QARN_SOCKET_ABORTED);
  }
  free_ssl();
  if (!tls_library_present()) {
    report_tls_absent();
    return 0;
  }
  ssl = tls_connection_new(qarn_ssl_context());
  if (ssl == nullptr) {
    report("Unable to allocate SSL struct in qarn_tcp_socket::ssl_try_connect(), did you run "
           "qarn_ssl_network_startup()?",
           QARN_DIAG_OPERATION);
    report_ssl_error(0);
    return 0;
  }
  if (!tls_connection_set_cipher_list(ssl, QARN_SSL_CIPHER_LIST)) {
    report("Error in qarn_tcp_socket::ssl_try_connect(), unable to set cipher list?",
           QARN_DIAG_OPERATION);
    return fail_connection(&error, QARN_SOCKET_ABORTED);
  }
  if (!tls_connection_set_fd(ssl, platform_socket_native(net.handle))) {
    report("Error in qarn_tcp_socket::ssl_try_connect(), set_fd failed?", QARN_DIAG_OPERATION);
    return fail_connection(&error, QARN_SOCKET_ABORTED);
  }
  state = QARN_SOCKET_STATE_SSL_CONNECTING;
  if (!wait_for_handshake) {
    return ssl_retry_connect(nullptr);
  }
  return finish_handshake(deadline);
}

// finish_handshake drives the handshake to its end, waiting for the
// condition the library asks for before each further step, all of it by
// |deadline|: a peer that feeds the handshake a byte at a time cannot keep
// it going. A handshake that fails or runs out of time keeps state 4 and its
// handle, like any failed handshake.
int qarn_tcp_socket::finish_handshake(const qarn_deadline &deadline) {
  int wanted = 0;
  int r = ssl_retry_connect(&wanted);
  while (r == 0) {
    int wait_ms = qarn_deadline_remaining_ms(deadline);
    if (wait_ms == 0) {
      error = QARN_SOCKET_TIMED_OUT;
      return -1;
    }
    int signalled = 0;
    int n = net.wait(wanted | PLATFORM_SOCKET_EXCEPTION, wait_ms, &signalled);
    if (n == 0) {
      error = QARN_SOCKET_TIMED_OUT;
      return -1;
    }
    if (n < 0 && !qarn_socket_error_is_transient(n)) {
      error = n;
      return -1;
    }
    if (n > 0 && (signalled & PLATFORM_SOCKET_EXCEPTION)) {
      error = QARN_SOCKET_ABORTED;
      return -1;
    }
    r = ssl_retry_connect(&wanted);
  }
  return r;
}

// ssl_retry_connect runs one step of the handshake. Returns 1 when it
// finished (state 8), 0 when it waits for the peer (|*wanted_condition|,
// if given, says for what), -1 when it failed.
int qarn_tcp_socket::ssl_retry_connect(int *wanted_condition) {
  if (ssl == nullptr) {
    report("Error in qarn_tcp_socket::ssl_retry_connect(), NULL ssl context?",
           QARN_DIAG_OPERATION);
    error = QARN_SOCKET_ABORTED;
    return -1;
  }
  int r = tls_connect(ssl);
  if (r > 0) {
    state = QARN_SOCKET_STATE_CONNECTED;
    return 1;
  }
  if (r == 0) {
    report("Warning in qarn_tcp_socket::ssl_retry_connect(), SSL connect failed due to "
           "protocol issue.",
           QARN_DIAG_CONNECTION);
    error = QARN_SOCKET_ABORTED;
    return -1;
  }
  int e = tls_get_error(ssl, r);
  if (e == QARN_TLS_ERROR_WANT_READ || e == QARN_TLS_ERROR_WANT_WRITE) {
    if (wanted_condition != nullptr) {
      *wanted_condition =
          e == QARN_TLS_ERROR_WANT_READ ? PLATFORM_SOCKET_READABLE : PLATFORM_SOCKET_WRITABLE;
    }
    return 0;
  }
  if (e == QARN_TLS_ERROR_ZERO_RETURN) {
    report("Controlled ssl close in qarn_tcp_socket::ssl_retry_connect(), bailing.",
           QARN_DIAG_CONNECTION);
  } else {
    report("SSL connect failed in qarn_tcp_socket::ssl_retry_connect().", QARN_DIAG_CONNECTION);
    report_ssl_error(e);
  }
  error = QARN_SOCKET_ABORTED;
  return -1;
}

// A build without TLS tells it here, where a connection asks for TLS, and
// nowhere else: the start-up is silent.
void qarn_tcp_socket::report_tls_absent() {
  char text[kSslErrorTextSize];
  tls_error_string_n(tls_oldest_error(), text, sizeof(text));
  char line[kSslErrorLineSize];
  std::snprintf(line, sizeof(line), "Error in qarn_tcp_socket::ssl_try_connect(), %s.", text);
  report(line, QARN_DIAG_RESOURCE);
}

void qarn_tcp_socket::report_ssl_error(int code) {
  char text[kSslErrorTextSize];
  tls_error_string_n(tls_oldest_error(), text, sizeof(text));
  char line[kSslErrorLineSize];
  std::snprintf(line, sizeof(line), "%s - err code %d.", text, code);
  report(line, QARN_DIAG_TRACE);
}

// ---------------------------------------------------------------------------
// Writing

int qarn_tcp_socket::nonblocking_write(const void *data, int length, int timeout_ms) {
  if (state != QARN_SOCKET_STATE_CONNECTED) {
    error = QARN_SOCKET_NOT_CONNECTED;
    return -1;
  }
  if (data == nullptr || length <= 0) {
    return 0;
  }
  int signalled = 0;
  int n = net.wait(kWriteOrException, timeout_ms, &signalled);
  if (n == 0) {
    return 0;
  }
  if (n < 0) {
    return fail_connection(&error, QARN_SOCKET_OTHER_FAILURE);
  }
  if (signalled & PLATFORM_SOCKET_EXCEPTION) {
    return fail_connection(&error, QARN_SOCKET_ABORTED);
  }
  if (!(signalled & PLATFORM_SOCKET_WRITABLE)) {
    return 0;
  }
  if (ssl_enabled) {
    return tls_write_once(data, length);
  }
  int sent = net.send(data, length);
  if (sent >= 0) {
    return sent;
  }
  error = sent;
  if (qarn_socket_error_is_transient(sent)) {
    return 0;
  }
  return fail_connection(&error, sent);
}

int qarn_tcp_socket::tls_write_once(const void *data, int length) {
  int r = tls_write(ssl, data, length);
  if (r > 0) {
    return r;
  }
  int e = tls_get_error(ssl, r);
  if (e == QARN_TLS_ERROR_WANT_READ || e == QARN_TLS_ERROR_WANT_WRITE) {
    return 0;
  }
  if (e == QARN_TLS_ERROR_ZERO_RETURN) {
    report("Clean SSL shutdown in qarn_tcp_socket::nonblocking_write().", QARN_DIAG_TRACE);
    return fail_connection(&error, 0);
  }
  report("Unexpected ssl close in qarn_tcp_socket::nonblocking_write().", QARN_DIAG_TRACE);
  return fail_connection(&error, QARN_SOCKET_ABORTED);
}

// ---------------------------------------------------------------------------
// Reading

int qarn_tcp_socket::nonblocking_read(void *buffer, int size) {
  if (state != QARN_SOCKET_STATE_CONNECTED) {
    read_error = QARN_SOCKET_NOT_CONNECTED;
    return -1;
  }
  if (buffer == nullptr || size <= 0) {
    return 0;
  }
  return ssl_enabled ? tls_read_once(buffer, size) : plain_read_once(buffer, size);
}

int qarn_tcp_socket::orderly_end() { return fail_connection(&read_error, 0); }

int qarn_tcp_socket::tls_read_once(void *buffer, int size) {
  // Cleared first, so that an end of stream without a TLS close shows as
  // "no error recorded" instead of whatever an earlier call left behind.
  platform_socket_clear_last_error();
  int r = tls_read(ssl, buffer, size);
  if (r > 0) {
    return r;
  }
  int e = tls_get_error(ssl, r);
  if (e == QARN_TLS_ERROR_WANT_READ || e == QARN_TLS_ERROR_WANT_WRITE) {
    return 0;
  }
  bool dropped = e == QARN_TLS_ERROR_SYSCALL &&
                 qarn_last_socket_error() == QARN_SOCKET_NO_ERROR_RECORDED;
  if (dropped || e == QARN_TLS_ERROR_ZERO_RETURN) {
    return orderly_end();
  }
  report("Unexpected ssl close in qarn_tcp_socket::nonblocking_read().", QARN_DIAG_TRACE);
  read_error = QARN_SOCKET_ABORTED;
  report_ssl_error(e);
  return fail_connection(&read_error, QARN_SOCKET_ABORTED);
}

int qarn_tcp_socket::plain_read_once(void *buffer, int size) {
  int n = net.receive(buffer, size);
  if (n > 0) {
    return n;
  }
  if (n == 0) {
    return orderly_end();
  }
  read_error = n;
  if (qarn_socket_error_is_transient(n)) {
    return 0;
  }
  return fail_connection(&read_error, n);
}

int qarn_tcp_socket::blocking_read(void *buffer, int size, int timeout_ms) {
  if (state != QARN_SOCKET_STATE_CONNECTED) {
    read_error = QARN_SOCKET_NOT_CONNECTED;
    return -1;
  }
  if (buffer == nullptr || size <= 0) {
    return 0;
  }
  if (ssl_enabled) {
    // Bytes the TLS layer already holds are not signalled on the handle.
    int r = nonblocking_read(buffer, size);
    if (r != 0) {
      return r;
    }
  }
  int signalled = 0;
  int n = net.wait(kReadOrException, timeout_ms, &signalled);
  if (n == 0) {
    return 0;
  }
  if (n < 0) {
    if (qarn_socket_error_is_transient(n)) {
      return 0;
    }
    return fail_connection(&read_error, n);
  }
  if (signalled & PLATFORM_SOCKET_EXCEPTION) {
    return fail_connection(&read_error, QARN_SOCKET_ABORTED);
  }
  if (signalled & PLATFORM_SOCKET_READABLE) {
    return nonblocking_read(buffer, size);
  }
  return 0;
}
