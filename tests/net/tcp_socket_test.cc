#include "net/tcp_socket.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "net/ssl_startup.h"
#include "support/diagnostics.h"
#include "tests/net/loopback_peer.h"
#include "tests/net/tcp_socket_io.h"

namespace {

constexpr int kConnectTimeoutMs = 5000;
constexpr int kPeerTimeoutMs = 5000;
constexpr int kBlockSize = 8192;
constexpr int kShortTimeoutMs = 300;

std::string pattern(size_t length) {
  std::string bytes(length, '\0');
  for (size_t i = 0; i < length; ++i) {
    bytes[i] = static_cast<char>('A' + (i * 7 + i / 251) % 26);
  }
  return bytes;
}

long elapsed_ms(std::chrono::steady_clock::time_point start) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - start)
                               .count());
}

class TcpSocketTest : public testing::Test {
 protected:
  void SetUp() override {
    qarn_set_diagnostic_mask(QARN_MASK_NONE);
    ASSERT_TRUE(listener_.is_listening());
  }

  // connect_and_accept connects |socket_| and accepts its peer.
  void connect_and_accept() {
    ASSERT_EQ(QARN_CONNECT_DONE, connect_to_loopback(socket_, listener_.port(), kConnectTimeoutMs));
    ASSERT_EQ(QARN_SOCKET_STATE_CONNECTED, socket_.state);
    peer_ = listener_.accept(kPeerTimeoutMs);
    ASSERT_TRUE(peer_.is_open());
  }

  void TearDown() override { socket_.close(); }

  loopback_listener listener_{8};
  loopback_connection peer_;
  qarn_tcp_socket socket_;
};

TEST_F(TcpSocketTest, NewSocketIsUnconnectedWithoutTls) {
  EXPECT_EQ(QARN_SOCKET_STATE_UNCONNECTED, socket_.state);
  EXPECT_EQ(nullptr, socket_.ssl);
  EXPECT_EQ(0, socket_.ssl_enabled);
  EXPECT_EQ(0, socket_.error);
  EXPECT_EQ(0, socket_.read_error);
  EXPECT_EQ(0, socket_.net.is_open());
  EXPECT_EQ(QARN_SOCKET_STATE_UNCONNECTED, socket_.poll_state());
}

TEST_F(TcpSocketTest, ExchangesBytesBothWaysWithAListeningPeer) {
  connect_and_accept();
  EXPECT_EQ(QARN_SOCKET_STATE_CONNECTED, socket_.poll_state());
  EXPECT_EQ(PLATFORM_AF_INET, socket_.address.family);
  EXPECT_EQ(platform_htons(static_cast<uint16_t>(listener_.port())), socket_.address.port);

  const std::string request = pattern(200000);
  ASSERT_TRUE(write_all(socket_, request, kPeerTimeoutMs));
  EXPECT_EQ(request, peer_.receive_exactly(request.size(), kPeerTimeoutMs));

  const std::string response = pattern(100003);
  ASSERT_TRUE(peer_.send_all(response));
  EXPECT_EQ(response, read_exactly(socket_, response.size(), kPeerTimeoutMs));
  EXPECT_EQ(QARN_SOCKET_STATE_CONNECTED, socket_.state);
}

TEST_F(TcpSocketTest, NonblockingReadGivesZeroUntilDataArrives) {
  connect_and_accept();
  char block[kBlockSize];
  EXPECT_EQ(0, socket_.nonblocking_read(block, sizeof(block)));
  EXPECT_EQ(QARN_SOCKET_WOULD_BLOCK, socket_.read_error);
  ASSERT_TRUE(peer_.send_all("ping"));
  EXPECT_EQ("ping", read_exactly(socket_, 4, kPeerTimeoutMs));
}

TEST_F(TcpSocketTest, ClosedPortIsAFailedConnect) {
  int port = unused_loopback_port();
  ASSERT_NE(0, port);
  EXPECT_EQ(QARN_CONNECT_FAILED, connect_to_loopback(socket_, port, kConnectTimeoutMs));
  EXPECT_EQ(QARN_SOCKET_STATE_UNCONNECTED, socket_.state);
  EXPECT_EQ(QARN_SOCKET_ABORTED, socket_.error);
  EXPECT_EQ(0, socket_.net.is_open());
}

// A listener whose backlog is full answers no further connection attempt,
// so the connect wait runs out.
TEST(TcpSocketTimeoutTest, PeerThatAcceptsNothingTimesOut) {
  loopback_listener listener(1);
  ASSERT_TRUE(listener.is_listening());
  int completed = listener.fill_backlog(kShortTimeoutMs, 64);
  ASSERT_GE(completed, 1);
  ASSERT_LT(completed, 64) << "the backlog never filled";

  qarn_tcp_socket socket;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(QARN_CONNECT_FAILED, connect_to_loopback(socket, listener.port(), kShortTimeoutMs));
  EXPECT_GE(elapsed_ms(start), kShortTimeoutMs - 20);
  EXPECT_EQ(QARN_SOCKET_TIMED_OUT, socket.error);
  EXPECT_EQ(QARN_SOCKET_STATE_UNCONNECTED, socket.state);
  EXPECT_EQ(0, socket.net.is_open());
}

TEST_F(TcpSocketTest, PeerClosingAfterSendingIsAnOrderlyEnd) {
  connect_and_accept();
  const std::string last_words = pattern(20000);
  ASSERT_TRUE(peer_.send_all(last_words));
  peer_.close();

  EXPECT_EQ(last_words, read_exactly(socket_, last_words.size(), kPeerTimeoutMs));
  char block[kBlockSize];
  EXPECT_EQ(-1, socket_.blocking_read(block, sizeof(block), kPeerTimeoutMs));
  EXPECT_EQ(0, socket_.read_error);
  EXPECT_EQ(QARN_SOCKET_STATE_UNCONNECTED, socket_.state);
  EXPECT_EQ(0, socket_.net.is_open());
}

TEST_F(TcpSocketTest, BlockingReadTimeOutKeepsTheConnection) {
  connect_and_accept();
  char block[kBlockSize];
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(0, socket_.blocking_read(block, sizeof(block), kShortTimeoutMs));
  EXPECT_GE(elapsed_ms(start), kShortTimeoutMs - 20);
  EXPECT_EQ(QARN_SOCKET_STATE_CONNECTED, socket_.state);
  ASSERT_TRUE(peer_.send_all("late"));
  EXPECT_EQ("late", read_exactly(socket_, 4, kPeerTimeoutMs));
}

struct unconnected_case {
  const char *name;
  std::function<int(qarn_tcp_socket &)> operation;
  int qarn_tcp_socket::*code_field;
};

TEST(TcpSocketUnconnectedTest, ReadsAndWritesBeforeAnyConnectAreNotConnected) {
  qarn_set_diagnostic_mask(QARN_MASK_NONE);
  char block[kBlockSize];
  const unconnected_case cases[] = {
      {"nonblocking_write",
       [](qarn_tcp_socket &s) { return s.nonblocking_write("x", 1, kShortTimeoutMs); },
       &qarn_tcp_socket::error},
      {"nonblocking_read", [&](qarn_tcp_socket &s) { return s.nonblocking_read(block, 1); },
       &qarn_tcp_socket::read_error},
      {"blocking_read",
       [&](qarn_tcp_socket &s) { return s.blocking_read(block, 1, kShortTimeoutMs); },
       &qarn_tcp_socket::read_error},
  };
  for (const unconnected_case &c : cases) {
    qarn_tcp_socket socket;
    testing::internal::CaptureStdout();
    int result = c.operation(socket);
    EXPECT_EQ("", testing::internal::GetCapturedStdout()) << c.name;
    EXPECT_EQ(-1, result) << c.name;
    EXPECT_EQ(QARN_SOCKET_NOT_CONNECTED, socket.*c.code_field) << c.name;
    EXPECT_EQ(QARN_SOCKET_STATE_UNCONNECTED, socket.state) << c.name;
  }
}

TEST_F(TcpSocketTest, ConnectOnAConnectedSocketLeavesItConnected) {
  connect_and_accept();
  platform_socket_handle handle = socket_.net.handle;
  EXPECT_EQ(QARN_CONNECT_FAILED, connect_to_loopback(socket_, listener_.port(), kConnectTimeoutMs));
  EXPECT_EQ(QARN_SOCKET_ALREADY_CONNECTED, socket_.error);
  EXPECT_EQ(QARN_SOCKET_STATE_CONNECTED, socket_.state);
  EXPECT_EQ(handle, socket_.net.handle);
  ASSERT_TRUE(write_all(socket_, "still here", kPeerTimeoutMs));
  EXPECT_EQ("still here", peer_.receive_exactly(10, kPeerTimeoutMs));
}

TEST_F(TcpSocketTest, EmptyWritesReturnAtOnceAndSendNothing) {
  connect_and_accept();
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(0, socket_.nonblocking_write(nullptr, 10, -1));
  EXPECT_EQ(0, socket_.nonblocking_write("abc", 0, -1));
  EXPECT_EQ(0, socket_.nonblocking_write("abc", -5, -1));
  EXPECT_LT(elapsed_ms(start), kShortTimeoutMs);
  char block[4];
  EXPECT_EQ(0, socket_.nonblocking_read(nullptr, 4));
  EXPECT_EQ(0, socket_.blocking_read(block, 0, -1));
  socket_.close();
  EXPECT_EQ("", peer_.receive_until_closed(kPeerTimeoutMs));
}

TEST_F(TcpSocketTest, WritingToAVanishedPeerFailsWithoutASignal) {
  connect_and_accept();
  peer_.close();
  const std::string block = pattern(kBlockSize);
  int result = 0;
  for (int attempt = 0; attempt < 200 && result >= 0; ++attempt) {
    result = socket_.nonblocking_write(block.data(), static_cast<int>(block.size()),
                                       kShortTimeoutMs);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(-1, result);
  EXPECT_EQ(QARN_SOCKET_ABORTED, socket_.error);
  EXPECT_EQ(QARN_SOCKET_STATE_UNCONNECTED, socket_.state);
}

TEST_F(TcpSocketTest, SocketReconnectsAfterClose) {
  connect_and_accept();
  socket_.close();
  EXPECT_EQ(QARN_SOCKET_STATE_UNCONNECTED, socket_.state);
  EXPECT_EQ(0, socket_.net.is_open());
  EXPECT_EQ("", peer_.receive_until_closed(kPeerTimeoutMs));
  connect_and_accept();
  ASSERT_TRUE(write_all(socket_, "again", kPeerTimeoutMs));
  EXPECT_EQ("again", peer_.receive_exactly(5, kPeerTimeoutMs));
}

TEST_F(TcpSocketTest, DestroyingAnOpenSocketReportsOnceAndCloses) {
  testing::internal::CaptureStdout();
  {
    qarn_tcp_socket open_socket;
    ASSERT_EQ(QARN_CONNECT_DONE,
              connect_to_loopback(open_socket, listener_.port(), kConnectTimeoutMs));
  }
  EXPECT_EQ("Error in ~qarn_tcp_socket(), socket not closed.\n",
            testing::internal::GetCapturedStdout());
  loopback_connection peer = listener_.accept(kPeerTimeoutMs);
  ASSERT_TRUE(peer.is_open());
  EXPECT_EQ("", peer.receive_until_closed(kPeerTimeoutMs)) << "the handle was closed";

  testing::internal::CaptureStdout();
  {
    qarn_tcp_socket closed_socket;
    ASSERT_EQ(QARN_CONNECT_DONE,
              connect_to_loopback(closed_socket, listener_.port(), kConnectTimeoutMs));
    closed_socket.close();
  }
  EXPECT_EQ("", testing::internal::GetCapturedStdout());
}

TEST_F(TcpSocketTest, TlsChoiceIsFixedWhileConnected) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(1, socket_.enable_ssl());
  EXPECT_EQ(1, socket_.enable_ssl());
  EXPECT_EQ(1, socket_.disable_ssl());
  EXPECT_EQ(
      "Error in qarn_server_socket_writeable::make_ssl_capable(), socket already SSL enabled.\n",
      testing::internal::GetCapturedStdout());
  EXPECT_EQ(0, socket_.ssl_enabled);

  connect_and_accept();
  testing::internal::CaptureStdout();
  EXPECT_EQ(0, socket_.enable_ssl());
  EXPECT_EQ(0, socket_.disable_ssl());
  EXPECT_EQ(
      "Error in qarn_tcp_socket::enable_ssl(), socket not in unconnected state.\n"
      "Error in qarn_tcp_socket::disable_ssl(), socket not in unconnected state.\n",
      testing::internal::GetCapturedStdout());
  EXPECT_EQ(0, socket_.ssl_enabled);
  EXPECT_EQ(QARN_SOCKET_STATE_CONNECTED, socket_.state);
}

// The first line of the report of a connection that asks for TLS and cannot
// have it, and the number of lines: a build with TLS whose context was never
// made names the missing start-up and adds the library's error line; a build
// without TLS says that it has none.
#ifdef TORVANE_WITH_TLS
const char kNoTlsObjectHeadline[] =
    "Unable to allocate SSL struct in qarn_tcp_socket::ssl_try_connect(), did you run "
    "qarn_ssl_network_startup()?\n";
constexpr long kNoTlsObjectLines = 2;
#else
const char kNoTlsObjectHeadline[] =
    "Error in qarn_tcp_socket::ssl_try_connect(), TLS support is not built into this program.\n";
constexpr long kNoTlsObjectLines = 1;
#endif

// Without a TLS context the TCP connection stands but TLS cannot start:
// the connect gives 0 and the socket stays connecting with its handle.
TEST_F(TcpSocketTest, TlsWithoutAContextStopsAfterTcp) {
  qarn_release_ssl_context();
  ASSERT_EQ(1, socket_.enable_ssl());
  testing::internal::CaptureStdout();
  int result = connect_to_loopback(socket_, listener_.port(), kConnectTimeoutMs);
  std::string output = testing::internal::GetCapturedStdout();
  EXPECT_EQ(QARN_CONNECT_NO_TLS_OBJECT, result);
  EXPECT_EQ(QARN_SOCKET_STATE_CONNECTING, socket_.state);
  EXPECT_EQ(1, socket_.net.is_open());
  EXPECT_EQ(nullptr, socket_.ssl);
  const std::string headline = kNoTlsObjectHeadline;
  ASSERT_EQ(headline, output.substr(0, headline.size()));
  EXPECT_EQ(kNoTlsObjectLines, std::count(output.begin(), output.end(), '\n'));
#ifdef TORVANE_WITH_TLS
  const std::string tail = " - err code 0.\n";
  ASSERT_GT(output.size(), headline.size() + tail.size());
  EXPECT_EQ(tail, output.substr(output.size() - tail.size()));
#endif

  // A connect during the connect in progress is refused.
  EXPECT_EQ(QARN_CONNECT_FAILED, connect_to_loopback(socket_, listener_.port(), kConnectTimeoutMs));
  EXPECT_EQ(QARN_SOCKET_IN_PROGRESS, socket_.error);
  EXPECT_EQ(QARN_SOCKET_STATE_CONNECTING, socket_.state);
  char block[4];
  EXPECT_EQ(-1, socket_.nonblocking_read(block, sizeof(block)));
  EXPECT_EQ(QARN_SOCKET_NOT_CONNECTED, socket_.read_error);

  socket_.close();
  EXPECT_EQ(QARN_SOCKET_STATE_UNCONNECTED, socket_.state);
  EXPECT_EQ(0, socket_.net.is_open());
}

}  // namespace
