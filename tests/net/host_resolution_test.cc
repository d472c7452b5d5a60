#include "net/host_resolution.h"

#include <gtest/gtest.h>

#include <cstring>

#include "net/socket_stack.h"
#include "support/diagnostics.h"

namespace {

struct quad_case {
  const char *host;
  int is_quad;
};

const quad_case kQuadCases[] = {
    {"127.0.0.1", 1},
    {"0.0.0.0", 1},
    {"192.168.001.010", 1},
    {"0001.2.3.4", 1},       // seven digits, first part 1
    {"255.255.255.255", 1},
    {"001.002.003.004", 1},  // twelve digits
    {"1.2.3", 0},            // two dots
    {"1.2.3.4.", 0},         // trailing dot
    {"1..2.3", 0},           // empty part
    {".1.2.3", 0},           // leading dot
    {"256.1.1.1", 0},        // part above 255
    {"1111.1.1.1", 0},
    {"1.2.3.4 ", 0},         // trailing space
    {"+1.2.3.4", 0},         // sign
    {"1.2.3.4.5", 0},        // four dots
    {"0001.0002.0003.4", 0}, // thirteen digits
    {"", 0},
    {"localhost", 0},
    {"1.2.3.a", 0},
};

TEST(HostResolutionTest, DottedQuadTable) {
  for (const quad_case &c : kQuadCases) {
    EXPECT_EQ(c.is_quad, qarn_is_dotted_quad(c.host)) << "'" << c.host << "'";
  }
  EXPECT_EQ(0, qarn_is_dotted_quad(nullptr));
}

struct converted_case {
  const char *host;
  uint8_t bytes[4];
};

const converted_case kConvertedCases[] = {
    {"127.0.0.1", {127, 0, 0, 1}},
    {"0.0.0.0", {0, 0, 0, 0}},
    {"192.168.001.010", {192, 168, 1, 10}},
    {"0001.2.3.4", {1, 2, 3, 4}},
    // Parts are decimal, as the test that admits them reads them.
    {"08.09.010.0255", {8, 9, 10, 255}},
};

TEST(HostResolutionTest, DottedQuadsConvertWithoutTheSocketStack) {
  for (const converted_case &c : kConvertedCases) {
    platform_sockaddr_in address;
    std::memset(&address, 0xAB, sizeof(address));
    int checks_before = qarn_socket_stack_startup_checks();
    ASSERT_EQ(1, qarn_resolve_host(c.host, &address)) << c.host;
    EXPECT_EQ(checks_before, qarn_socket_stack_startup_checks()) << c.host;
    EXPECT_EQ(PLATFORM_AF_INET, address.family);
    EXPECT_EQ(0, std::memcmp(c.bytes, &address.address, 4)) << c.host;
    EXPECT_EQ(0xABABu, address.port) << "the port is left for the connect";
  }
}

// Hosts that fail the dotted-quad test go to the name lookup, which starts
// the socket stack first. These all fail locally, without asking a name
// server; what the lookup makes of them is the system's affair.
TEST(HostResolutionTest, OtherHostsGoToTheNameLookup) {
  const char *const hosts[] = {"1.2.3", "1..2.3", "256.1.1.1", "1111.1.1.1", "1.2.3.4 ",
                               "+1.2.3.4"};
  for (const char *host : hosts) {
    platform_sockaddr_in address = {};
    int checks_before = qarn_socket_stack_startup_checks();
    qarn_resolve_host(host, &address);
    EXPECT_EQ(checks_before + 1, qarn_socket_stack_startup_checks()) << "'" << host << "'";
  }
  EXPECT_EQ(1, qarn_socket_stack_started());
}

TEST(HostResolutionTest, LocalhostResolvesToLoopback) {
  platform_sockaddr_in address = {};
  ASSERT_EQ(1, qarn_resolve_host("localhost", &address));
  const uint8_t loopback[4] = {127, 0, 0, 1};
  EXPECT_EQ(PLATFORM_AF_INET, address.family);
  EXPECT_EQ(0, std::memcmp(loopback, &address.address, 4));
}

TEST(HostResolutionTest, UnresolvableHostGivesZeroSilentlyAndLeavesTheAddress) {
  qarn_set_diagnostic_mask(QARN_MASK_NONE);
  platform_sockaddr_in address;
  std::memset(&address, 0x5C, sizeof(address));
  platform_sockaddr_in before = address;
  testing::internal::CaptureStdout();
  int result = qarn_resolve_host("no such host.invalid", &address);
  EXPECT_EQ("", testing::internal::GetCapturedStdout());
  EXPECT_EQ(0, result);
  EXPECT_EQ(0, std::memcmp(&before, &address, sizeof(address)));
}

}  // namespace
