// TLS through qarn_tcp_socket against a BoringSSL server on loopback.
#ifdef TORVANE_WITH_TLS

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
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
