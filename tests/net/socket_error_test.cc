#include "net/socket_error.h"

#include <gtest/gtest.h>

namespace {

struct transient_case {
  int code;
  int transient;
};

const transient_case kTransientCases[] = {
    {QARN_SOCKET_WOULD_BLOCK, 1},         {QARN_SOCKET_IN_PROGRESS, 1},
    {QARN_SOCKET_INTERRUPTED, 1},         {QARN_SOCKET_NO_ERROR_RECORDED, 1},
    {QARN_SOCKET_OTHER_FAILURE, 0},       {QARN_SOCKET_STACK_NOT_STARTED, 0},
    {QARN_SOCKET_BAD_SOCKET, 0},          {QARN_SOCKET_BAD_ADDRESS, 0},
    {QARN_SOCKET_TOO_MANY_SOCKETS, 0},    {QARN_SOCKET_NO_BUFFER_SPACE, 0},
    {QARN_SOCKET_MESSAGE_TOO_LONG, 0},    {QARN_SOCKET_ADDRESS_IN_USE, 0},
    {QARN_SOCKET_SHUT_DOWN, 0},           {QARN_SOCKET_ABORTED, 0},
    {QARN_SOCKET_HOST_DOWN, 0},           {QARN_SOCKET_HOST_UNREACHABLE, 0},
    {QARN_SOCKET_NETWORK_DOWN, 0},        {QARN_SOCKET_NETWORK_UNREACHABLE, 0},
    {QARN_SOCKET_NETWORK_RESET, 0},       {QARN_SOCKET_REFUSED, 0},
    {QARN_SOCKET_TIMED_OUT, 0},           {QARN_SOCKET_ALREADY_IN_PROGRESS, 0},
    {QARN_SOCKET_ALREADY_CONNECTED, 0},   {QARN_SOCKET_NOT_CONNECTED, 0},
    {0, 0},
};

// The numbers callers and logs see; a renumbered code would still pass
// every test that names it.
struct number_case {
  int code;
  int number;
};

const number_case kNumberCases[] = {
    {QARN_SOCKET_OTHER_FAILURE, -1},        {QARN_SOCKET_NO_ERROR_RECORDED, -2},
    {QARN_SOCKET_STACK_NOT_STARTED, -10},   {QARN_SOCKET_BAD_SOCKET, -11},
    {QARN_SOCKET_BAD_ADDRESS, -12},         {QARN_SOCKET_TOO_MANY_SOCKETS, -13},
    {QARN_SOCKET_NO_BUFFER_SPACE, -14},     {QARN_SOCKET_MESSAGE_TOO_LONG, -15},
    {QARN_SOCKET_ADDRESS_IN_USE, -16},      {QARN_SOCKET_SHUT_DOWN, -20},
    {QARN_SOCKET_ABORTED, -21},             {QARN_SOCKET_HOST_DOWN, -22},
    {QARN_SOCKET_HOST_UNREACHABLE, -23},    {QARN_SOCKET_NETWORK_DOWN, -24},
    {QARN_SOCKET_NETWORK_UNREACHABLE, -25}, {QARN_SOCKET_NETWORK_RESET, -26},
    {QARN_SOCKET_WOULD_BLOCK, -30},         {QARN_SOCKET_IN_PROGRESS, -31},
    {QARN_SOCKET_INTERRUPTED, -32},         {QARN_SOCKET_REFUSED, -40},
    {QARN_SOCKET_TIMED_OUT, -41},           {QARN_SOCKET_ALREADY_IN_PROGRESS, -42},
    {QARN_SOCKET_ALREADY_CONNECTED, -43},   {QARN_SOCKET_NOT_CONNECTED, -44},
};

TEST(SocketErrorTest, CodesKeepTheirNumbers) {
  for (const number_case &c : kNumberCases) {
    EXPECT_EQ(c.number, c.code);
  }
}

TEST(SocketErrorTest, OnlyTheRetryableCodesAreTransient) {
  for (const transient_case &c : kTransientCases) {
    EXPECT_EQ(c.transient, qarn_socket_error_is_transient(c.code)) << "code " << c.code;
  }
}

TEST(SocketErrorTest, NoRecordedErrorIsMinusTwo) {
  platform_socket_clear_last_error();
  EXPECT_EQ(QARN_SOCKET_NO_ERROR_RECORDED, qarn_last_socket_error());
}

TEST(SocketErrorTest, ClosingABadHandleIsABadSocket) {
  platform_socket_startup();
  platform_socket_handle handle = platform_socket_open();
  ASSERT_NE(PLATFORM_INVALID_SOCKET, handle);
  ASSERT_EQ(0, platform_socket_close(handle));
  EXPECT_EQ(-1, platform_socket_close(handle));
  EXPECT_EQ(QARN_SOCKET_BAD_SOCKET, qarn_last_socket_error());
}

}  // namespace
