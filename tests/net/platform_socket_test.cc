#include "platform/socket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/net/loopback_peer.h"

namespace {

constexpr int kPeerTimeoutMs = 5000;
constexpr int kMaxSends = 200;

// Keeps sending to a peer that has gone until the system refuses, then once
// more: the refusals must come back as errors, never as a signal that ends
// the process.
TEST(PlatformSocketTest, SendingToAVanishedPeerNeverRaisesASignal) {
  loopback_listener listener(4);
  ASSERT_TRUE(listener.is_listening());
  platform_socket_handle client = platform_socket_open();
  ASSERT_NE(PLATFORM_INVALID_SOCKET, client);
  platform_sockaddr_in address = loopback_address();
  address.port = platform_htons(static_cast<uint16_t>(listener.port()));
  ASSERT_EQ(0, platform_socket_connect(client, &address, PLATFORM_SOCKADDR_IN_LENGTH));
  listener.accept(kPeerTimeoutMs).close();

  const std::string block(1024, 'z');
  int refusals = 0;
  for (int i = 0; i < kMaxSends && refusals < 2; ++i) {
    if (platform_socket_send(client, block.data(), static_cast<int>(block.size())) < 0) {
      ++refusals;
      EXPECT_EQ(QARN_SOCKET_ABORTED, platform_socket_last_error());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_EQ(2, refusals);
  platform_socket_close(client);
}

TEST(PlatformSocketTest, FailedNonblockingConnectIsTheExceptionCondition) {
  int port = unused_loopback_port();
  platform_socket_handle client = platform_socket_open();
  ASSERT_NE(PLATFORM_INVALID_SOCKET, client);
  ASSERT_EQ(0, platform_socket_set_nonblocking(client, 1));
  platform_sockaddr_in address = loopback_address();
  address.port = platform_htons(static_cast<uint16_t>(port));
  if (platform_socket_connect(client, &address, PLATFORM_SOCKADDR_IN_LENGTH) < 0) {
    int code = platform_socket_last_error();
    ASSERT_TRUE(code == QARN_SOCKET_WOULD_BLOCK || code == QARN_SOCKET_IN_PROGRESS ||
                code == QARN_SOCKET_REFUSED)
        << code;
    if (code != QARN_SOCKET_REFUSED) {
      int signalled = 0;
      EXPECT_EQ(1, platform_socket_wait(client,
                                        PLATFORM_SOCKET_WRITABLE | PLATFORM_SOCKET_EXCEPTION,
                                        kPeerTimeoutMs, &signalled));
      EXPECT_EQ(PLATFORM_SOCKET_EXCEPTION, signalled);
    }
  } else {
    ADD_FAILURE() << "connected to a port where nothing listens";
  }
  platform_socket_close(client);
}

// The system's own errors of calls that fail on purpose, as both platform
// layers must report them.
TEST(PlatformSocketTest, SystemErrorsMapOntoTheTransportCodes) {
  ASSERT_EQ(1, platform_socket_startup());
  loopback_listener listener(4);
  ASSERT_TRUE(listener.is_listening());
  platform_sockaddr_in listening = loopback_address();
  listening.port = platform_htons(static_cast<uint16_t>(listener.port()));
  platform_sockaddr_in closed = loopback_address();
  closed.port = platform_htons(static_cast<uint16_t>(unused_loopback_port()));
  char block[16];

  platform_socket_handle refused = platform_socket_open();
  ASSERT_NE(PLATFORM_INVALID_SOCKET, refused);
  EXPECT_EQ(-1, platform_socket_connect(refused, &closed, PLATFORM_SOCKADDR_IN_LENGTH));
  EXPECT_EQ(QARN_SOCKET_REFUSED, platform_socket_last_error()) << "connect to a closed port";
  platform_socket_close(refused);

  platform_socket_handle unconnected = platform_socket_open();
  ASSERT_NE(PLATFORM_INVALID_SOCKET, unconnected);
  EXPECT_EQ(-1, platform_socket_recv(unconnected, block, sizeof(block)));
  EXPECT_EQ(QARN_SOCKET_NOT_CONNECTED, platform_socket_last_error()) << "receive before a connect";
  platform_socket_close(unconnected);

  platform_socket_handle connected = platform_socket_open();
  ASSERT_NE(PLATFORM_INVALID_SOCKET, connected);
  ASSERT_EQ(0, platform_socket_connect(connected, &listening, PLATFORM_SOCKADDR_IN_LENGTH));
  loopback_connection peer = listener.accept(kPeerTimeoutMs);
  ASSERT_TRUE(peer.is_open());
  EXPECT_EQ(-1, platform_socket_connect(connected, &listening, PLATFORM_SOCKADDR_IN_LENGTH));
  EXPECT_EQ(QARN_SOCKET_ALREADY_CONNECTED, platform_socket_last_error()) << "second connect";
  ASSERT_EQ(0, platform_socket_set_nonblocking(connected, 1));
  EXPECT_EQ(-1, platform_socket_recv(connected, block, sizeof(block)));
  EXPECT_EQ(QARN_SOCKET_WOULD_BLOCK, platform_socket_last_error()) << "receive with nothing sent";
  platform_socket_close(connected);
}

}  // namespace
