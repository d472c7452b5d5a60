// TLS through qarn_tcp_socket against a BoringSSL server on loopback.
#ifdef TORVANE_WITH_TLS

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <functional>
#include <string>
#include <thread>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wignored-qualifiers"
#include <openssl/ssl.h>
#pragma GCC diagnostic pop

#include "net/ssl_startup.h"
#include "net/tcp_socket.h"
#include "support/diagnostics.h"
#include "tests/net/loopback_peer.h"
#include "tests/net/tcp_socket_io.h"
#include "tests/net/tls_identity.h"

namespace {

constexpr int kConnectTimeoutMs = 5000;
constexpr int kPeerTimeoutMs = 5000;
constexpr int kShortTimeoutMs = 300;
constexpr int kBlockSize = 8192;

std::string pattern(size_t length, char first) {
  std::string bytes(length, '\0');
  for (size_t i = 0; i < length; ++i) {
    bytes[i] = static_cast<char>(first + (i * 13 + i / 509) % 23);
  }
  return bytes;
}

// What the server does once its handshake is done.
using server_script = std::function<void(SSL *connection)>;

std::string server_read_exactly(SSL *connection, size_t count) {
  std::string received;
  char block[kBlockSize];
  while (received.size() < count) {
    int n = SSL_read(connection, block, sizeof(block));
    if (n <= 0) {
      break;
    }
    received.append(block, static_cast<size_t>(n));
  }
  return received;
}

bool server_write_all(SSL *connection, const std::string &bytes) {
  return SSL_write(connection, bytes.data(), static_cast<int>(bytes.size())) ==
         static_cast<int>(bytes.size());
}

class TlsSocketTest : public testing::Test {
 protected:
  void SetUp() override {
    qarn_set_diagnostic_mask(QARN_MASK_NONE);
    qarn_release_ssl_context();
    ASSERT_EQ(1, init_ssl());
    ASSERT_TRUE(listener_.is_listening());
    server_context_ = new_server_context();
    ASSERT_EQ(1, socket_.enable_ssl());
  }

  void TearDown() override {
    socket_.close();
    if (server_.joinable()) {
      server_.join();
    }
    tls_context_free(server_context_);
    socket_.disable_ssl();
    qarn_release_ssl_context();
  }

  // start_tls_server accepts one connection in a thread, runs the
  // handshake and then |script|; |server_handshake_ok_| tells how the
  // handshake went.
  void start_tls_server(server_script script) {
    server_ = std::thread([this, script] {
      loopback_connection peer = listener_.accept(kPeerTimeoutMs);
      if (!peer.is_open()) {
        return;
      }
      bssl::UniquePtr<SSL> connection(SSL_new(server_context_));
      SSL_set_fd(connection.get(), peer.native());
      server_handshake_ok_ = SSL_accept(connection.get()) == 1;
      if (server_handshake_ok_) {
        script(connection.get());
      }
    });
  }

  // start_raw_server accepts one connection in a thread; with |handshake|
  // it runs the TLS handshake first, else it reads what the client sent
  // first (its hello) unless |read_first| is false. Then it sends |raw|
  // as it is, outside any TLS record layer, and resets the connection.
  void start_raw_server(bool handshake, bool read_first, const std::string &raw) {
    server_ = std::thread([this, handshake, read_first, raw] {
      loopback_connection peer = listener_.accept(kPeerTimeoutMs);
      if (!peer.is_open()) {
        return;
      }
      bssl::UniquePtr<SSL> connection(SSL_new(server_context_));
      if (handshake) {
        SSL_set_fd(connection.get(), peer.native());
        server_handshake_ok_ = SSL_accept(connection.get()) == 1;
      } else if (read_first) {
        peer.receive_exactly(1, kPeerTimeoutMs);
      }
      if (!raw.empty()) {
        peer.send_all(raw);
      }
      peer.reset();
    });
  }

  int connect_socket(int timeout_ms) {
    return connect_to_loopback(socket_, listener_.port(), timeout_ms);
  }
  bool write_all(const std::string &bytes) { return ::write_all(socket_, bytes, kPeerTimeoutMs); }
  std::string read_exactly(size_t count) { return ::read_exactly(socket_, count, kPeerTimeoutMs); }

  loopback_listener listener_{8};
  ssl_ctx_st *server_context_ = nullptr;
  std::thread server_;
  bool server_handshake_ok_ = false;
  qarn_tcp_socket socket_;
};

TEST_F(TlsSocketTest, HandshakeThenDataBothWaysThenCleanClose) {
  const std::string request = pattern(50000, 'a');
  const std::string response = pattern(70001, 'A');
  std::string server_received;
  start_tls_server([&](SSL *connection) {
    server_received = server_read_exactly(connection, request.size());
    server_write_all(connection, response);
    SSL_shutdown(connection);
  });

  testing::internal::CaptureStdout();
  ASSERT_EQ(QARN_CONNECT_DONE, connect_socket(kConnectTimeoutMs));
  EXPECT_EQ("", testing::internal::GetCapturedStdout());
  EXPECT_EQ(QARN_SOCKET_STATE_CONNECTED, socket_.state);
  EXPECT_NE(nullptr, socket_.ssl);

  ASSERT_TRUE(write_all(request));
  EXPECT_EQ(response, read_exactly(response.size()));
  char block[kBlockSize];
  EXPECT_EQ(-1, socket_.blocking_read(block, sizeof(block), kPeerTimeoutMs));
  EXPECT_EQ(0, socket_.read_error);
  EXPECT_EQ(QARN_SOCKET_STATE_UNCONNECTED, socket_.state);
  server_.join();
  EXPECT_TRUE(server_handshake_ok_);
  EXPECT_EQ(request, server_received);
}

// A peer that drops the connection without a TLS close ends the stream in
// order as well.
TEST_F(TlsSocketTest, PeerDroppingWithoutTlsCloseIsAnOrderlyEnd) {
  start_tls_server([](SSL *connection) { server_write_all(connection, "last words"); });
  ASSERT_EQ(QARN_CONNECT_DONE, connect_socket(kConnectTimeoutMs));
  EXPECT_EQ("last words", read_exactly(10));
  server_.join();
  char block[kBlockSize];
  EXPECT_EQ(-1, socket_.blocking_read(block, sizeof(block), kPeerTimeoutMs));
  EXPECT_EQ(0, socket_.read_error);
  EXPECT_EQ(QARN_SOCKET_STATE_UNCONNECTED, socket_.state);
}

TEST_F(TlsSocketTest, BufferedBytesAreDeliveredWithoutWaiting) {
  start_tls_server([](SSL *connection) {
    server_write_all(connection, pattern(3 * kBlockSize, 'k'));
    server_read_exactly(connection, 1);
  });
  ASSERT_EQ(QARN_CONNECT_DONE, connect_socket(kConnectTimeoutMs));
  // Small reads leave decrypted bytes inside the TLS object; each later
  // read must get them at once.
  std::string received;
  char piece[100];
  auto start = std::chrono::steady_clock::now();
  while (received.size() < 3 * kBlockSize) {
    int n = socket_.blocking_read(piece, sizeof(piece), kPeerTimeoutMs);
    ASSERT_GT(n, 0);
    received.append(piece, static_cast<size_t>(n));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kPeerTimeoutMs));
  EXPECT_EQ(pattern(3 * kBlockSize, 'k'), received);
  ASSERT_TRUE(write_all("x"));
}

TEST_F(TlsSocketTest, PlainTextPeerFailsTheHandshakeAndLeavesStateFour) {
  server_ = std::thread([this] {
    loopback_connection peer = listener_.accept(kPeerTimeoutMs);
    peer.send_all("HTTP/1.0 400 Bad Request\r\n\r\nplain text, no TLS here\r\n");
    peer.receive_until_closed(kPeerTimeoutMs);
  });

  testing::internal::CaptureStdout();
  EXPECT_EQ(QARN_CONNECT_FAILED, connect_socket(kConnectTimeoutMs));
  std::string output = testing::internal::GetCapturedStdout();
  EXPECT_EQ(QARN_SOCKET_ABORTED, socket_.error);
  EXPECT_EQ(QARN_SOCKET_STATE_SSL_CONNECTING, socket_.state);
  EXPECT_EQ(1, socket_.net.is_open());
  const std::string headline = "SSL connect failed in qarn_tcp_socket::ssl_retry_connect().\n";
  ASSERT_EQ(headline, output.substr(0, headline.size()));
  const std::string tail = " - err code 1.\n";
  ASSERT_GT(output.size(), headline.size() + tail.size());
  EXPECT_EQ(tail, output.substr(output.size() - tail.size()));
  EXPECT_EQ(2, std::count(output.begin(), output.end(), '\n'));

  EXPECT_EQ(QARN_SOCKET_STATE_SSL_CONNECTING, socket_.poll_state());
  char block[kBlockSize];
  EXPECT_EQ(-1, socket_.blocking_read(block, sizeof(block), kShortTimeoutMs));
  EXPECT_EQ(QARN_SOCKET_NOT_CONNECTED, socket_.read_error);
  EXPECT_EQ(-1, socket_.nonblocking_write("x", 1, kShortTimeoutMs));
  EXPECT_EQ(QARN_SOCKET_NOT_CONNECTED, socket_.error);
  EXPECT_EQ(QARN_CONNECT_FAILED, connect_socket(kConnectTimeoutMs));
  EXPECT_EQ(QARN_SOCKET_IN_PROGRESS, socket_.error);

  socket_.close();
  EXPECT_EQ(QARN_SOCKET_STATE_UNCONNECTED, socket_.state);
  EXPECT_EQ(0, socket_.net.is_open());
}

// A peer that takes the TCP connection but never answers the handshake is
// given up after the connect's time-out instead of being waited for
// forever.
TEST_F(TlsSocketTest, SilentPeerRunsTheHandshakeOutOfTime) {
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(QARN_CONNECT_FAILED, connect_socket(kShortTimeoutMs));
  EXPECT_GE(std::chrono::steady_clock::now() - start,
            std::chrono::milliseconds(kShortTimeoutMs - 20));
  EXPECT_EQ(QARN_SOCKET_TIMED_OUT, socket_.error);
  EXPECT_EQ(QARN_SOCKET_STATE_SSL_CONNECTING, socket_.state);
  EXPECT_EQ(1, socket_.net.is_open());
}

// The TLS library writes to the socket itself; a peer that has gone must
// not end the process with a signal there either.
TEST_F(TlsSocketTest, TlsWritesToAVanishedPeerNeverRaiseASignal) {
  start_tls_server([](SSL *) {});
  ASSERT_EQ(QARN_CONNECT_DONE, connect_socket(kConnectTimeoutMs));
  server_.join();
  const std::string block = pattern(1024, 'q');
  int failures = 0;
  for (int i = 0; i < 200 && failures == 0; ++i) {
    if (tls_write(socket_.ssl, block.data(), static_cast<int>(block.size())) <= 0) {
      ++failures;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_EQ(1, failures);
}

// A peer that feeds the handshake a byte at a time, each well within the
// time-out, is given up when the connect's time-out has passed as a whole.
TEST_F(TlsSocketTest, TricklingPeerRunsTheHandshakeOutOfTimeAsAWhole) {
  constexpr int kTimeoutMs = 1000;
  static constexpr int kDripMs = 400;
  static constexpr int kDripCount = 25;  // ten seconds of handshake if nothing stops it
  server_ = std::thread([this] {
    loopback_connection peer = listener_.accept(kPeerTimeoutMs);
    peer.receive_exactly(1, kPeerTimeoutMs);
    // A handshake record header announcing 16384 bytes, then its body a byte
    // at a time.
    if (!peer.send_all(std::string("\x16\x03\x03\x40\x00", 5))) {
      return;
    }
    for (int i = 0; i < kDripCount && peer.send_all("x"); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(kDripMs));
    }
  });
  auto start = std::chrono::steady_clock::now();
  testing::internal::CaptureStdout();
  EXPECT_EQ(QARN_CONNECT_FAILED, connect_socket(kTimeoutMs));
  testing::internal::GetCapturedStdout();
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(QARN_SOCKET_TIMED_OUT, socket_.error);
  EXPECT_GE(elapsed, std::chrono::milliseconds(kTimeoutMs - 20));
  EXPECT_LT(elapsed, std::chrono::milliseconds(kTimeoutMs + 4000));
  socket_.close();  // the peer's next byte then fails and its thread ends
}

// ---- A peer that resets the connection while the TLS library works.

std::atomic<int> g_broken_pipe_signals{0};

void count_broken_pipe(int) { g_broken_pipe_signals++; }

// Counts SIGPIPE instead of dying of it while the test runs: a signal that
// reached the process shows as a failed expectation, not as a lost test
// program.
class broken_pipe_counter {
 public:
  broken_pipe_counter() : previous_(std::signal(SIGPIPE, count_broken_pipe)) { g_broken_pipe_signals = 0; }
  ~broken_pipe_counter() { std::signal(SIGPIPE, previous_); }
  int count() const { return g_broken_pipe_signals; }

 private:
  void (*previous_)(int);
};

// A handshake record the client cannot parse (an unknown message type): it
// answers with an alert, a write of the library's own.
const std::string kBadHandshakeRecord("\x16\x03\x03\x00\x04\x63\x00\x00\x00", 9);
// An application data record that does not decrypt: again an alert.
const std::string kBadDataRecord = std::string("\x17\x03\x03\x00\x20", 5) + std::string(32, 'z');

TEST_F(TlsSocketTest, PeerResettingDuringTheHandshakeFailsTheConnectWithoutASignal) {
  broken_pipe_counter signals;
  start_raw_server(false, true, kBadHandshakeRecord);
  testing::internal::CaptureStdout();
  EXPECT_EQ(QARN_CONNECT_FAILED, connect_socket(kConnectTimeoutMs));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(QARN_SOCKET_ABORTED, socket_.error);
  EXPECT_EQ(QARN_SOCKET_STATE_SSL_CONNECTING, socket_.state);
  EXPECT_EQ(0, signals.count());
}

TEST_F(TlsSocketTest, PeerResettingDuringAReadFailsTheReadWithoutASignal) {
  broken_pipe_counter signals;
  start_raw_server(true, false, kBadDataRecord);
  ASSERT_EQ(QARN_CONNECT_DONE, connect_socket(kConnectTimeoutMs));
  server_.join();
  char block[kBlockSize];
  testing::internal::CaptureStdout();
  EXPECT_EQ(-1, socket_.blocking_read(block, sizeof(block), kPeerTimeoutMs));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(QARN_SOCKET_ABORTED, socket_.read_error);
  EXPECT_EQ(QARN_SOCKET_STATE_UNCONNECTED, socket_.state);
  EXPECT_EQ(0, signals.count());
}

// consume_reset lets |socket| notice the reset the way a wait for
// writability does (it reads and clears the socket's pending error), so
// that the next write inside the TLS library meets a connection already
// known to be gone: that write is the one that raises SIGPIPE when
// unprotected.
void consume_reset(qarn_tcp_socket &socket) {
  int signalled = 0;
  socket.net.wait(PLATFORM_SOCKET_WRITABLE | PLATFORM_SOCKET_EXCEPTION, kPeerTimeoutMs, &signalled);
  ASSERT_EQ(PLATFORM_SOCKET_EXCEPTION, signalled);
}

TEST_F(TlsSocketTest, HandshakeWritesToAResetPeerGiveAnErrorNotASignal) {
  qarn_tcp_socket plain;  // TCP only: the test drives the TLS object itself
  start_raw_server(false, false, "");
  ASSERT_EQ(QARN_CONNECT_DONE, connect_to_loopback(plain, listener_.port(), kConnectTimeoutMs));
  server_.join();
  consume_reset(plain);
  ssl_st *connection = tls_connection_new(qarn_ssl_context());
  ASSERT_NE(nullptr, connection);
  ASSERT_EQ(1, tls_connection_set_fd(connection, platform_socket_native(plain.net.handle)));
  broken_pipe_counter signals;
  EXPECT_LE(tls_connect(connection), 0);
  EXPECT_LE(tls_connect(connection), 0);  // and again, as a retrying caller would
  EXPECT_EQ(0, signals.count());
  tls_connection_free(connection);
  plain.close();
}

TEST_F(TlsSocketTest, ReadAlertsToAResetPeerGiveAnErrorNotASignal) {
  start_raw_server(true, false, kBadDataRecord);
  ASSERT_EQ(QARN_CONNECT_DONE, connect_socket(kConnectTimeoutMs));
  server_.join();
  consume_reset(socket_);
  broken_pipe_counter signals;
  char block[kBlockSize];
  EXPECT_LE(tls_read(socket_.ssl, block, sizeof(block)), 0);
  EXPECT_EQ(0, signals.count());
}

TEST_F(TlsSocketTest, ReconnectMakesANewTlsObject) {
  start_tls_server([](SSL *connection) { server_write_all(connection, "one"); });
  ASSERT_EQ(QARN_CONNECT_DONE, connect_socket(kConnectTimeoutMs));
  EXPECT_EQ("one", read_exactly(3));
  server_.join();
  socket_.close();
  EXPECT_NE(nullptr, socket_.ssl) << "kept until the next connect";

  start_tls_server([](SSL *connection) { server_write_all(connection, "two"); });
  ASSERT_EQ(QARN_CONNECT_DONE, connect_socket(kConnectTimeoutMs));
  EXPECT_EQ("two", read_exactly(3));
}

}  // namespace

#endif  // TORVANE_WITH_TLS
