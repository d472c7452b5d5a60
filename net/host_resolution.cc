#include "net/host_resolution.h"

#include <cstring>

#include "net/socket_stack.h"
#include "support/diagnostics.h"

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// dotted_quad_value converts a text that passed qarn_is_dotted_quad, reading
// every part as the decimal number the test checked. inet_addr would read
// a part with a leading zero as octal: "192.168.001.010" would become
// 192.168.1.8 and "08.1.1.1" the broadcast address.
uint32_t dotted_quad_value(const char *host) {
  uint8_t bytes[QARN_DOTTED_QUAD_DOTS + 1] = {};
  int part = 0;
  for (const char *p = host; *p != '\0'; ++p) {
    if (*p == '.') {
      ++part;
    } else {
      bytes[part] = static_cast<uint8_t>(bytes[part] * 10 + (*p - '0'));
    }
  }
  uint32_t value;  // network byte order: the first part comes first
  std::memcpy(&value, bytes, sizeof(value));
  return value;
}

}  // namespace

int qarn_is_dotted_quad(const char *host) {
  if (host == nullptr || !is_digit(host[0])) {
    return 0;
  }
  int dots = 0;
  int digits = 0;
  int part = 0;
  for (const char *p = host; *p != '\0'; ++p) {
    if (*p == '.') {
      if (!is_digit(p[1])) {
        return 0;
      }
      ++dots;
      part = 0;
      continue;
    }
    if (!is_digit(*p)) {
      return 0;
    }
    ++digits;
    // Leading zeros keep the value small, so a part never overflows
    // before it is seen to pass 255.
    part = part * 10 + (*p - '0');
    if (part > QARN_DOTTED_QUAD_MAX_PART || digits > QARN_DOTTED_QUAD_MAX_DIGITS) {
      return 0;
    }
  }
  return dots == QARN_DOTTED_QUAD_DOTS && digits >= QARN_DOTTED_QUAD_MIN_DIGITS;
}

int qarn_resolve_host(const char *host, platform_sockaddr_in *address) {
  if (host == nullptr || address == nullptr) {
    qarn_diagnostic("Error in qarn_resolve_host(), NULL host or address.", QARN_DIAG_MISUSE,
                    QARN_MODULE_NET);
    return 0;
  }
  if (qarn_is_dotted_quad(host)) {
    address->address = dotted_quad_value(host);
    address->family = PLATFORM_AF_INET;
    return 1;
  }
  check_socket_stack_startup();
  uint32_t found = 0;
  if (!platform_resolve_ipv4(host, &found)) {
    return 0;
  }
  address->address = found;
  address->family = PLATFORM_AF_INET;
  return 1;
}
