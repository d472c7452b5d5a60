#include "net/socket_stack.h"

#include <atomic>

#include "platform/socket.h"
#include "support/diagnostics.h"

namespace {

// Downloads on several threads check the stack at once.
std::atomic<int> g_started{0};
std::atomic<int> g_checks{0};

}  // namespace

void check_socket_stack_startup() {
  ++g_checks;
  if (g_started) {
    return;
  }
  if (platform_socket_startup()) {
    g_started = 1;
    return;
  }
  qarn_diagnostic("Error in check_socket_stack_startup(), WSAStartup failed.",
                  QARN_DIAG_RESOURCE, QARN_MODULE_NET);
}

int qarn_socket_stack_started() { return g_started; }

int qarn_socket_stack_startup_checks() { return g_checks; }
