// Test helper: another process that asks for the single-instance lock named
// by its argument. Exits 0 when it got the lock, 3 when it was refused, 2 on
// wrong use. It never releases the lock, so the system must free it.
#include "support/process_control.h"

namespace {

constexpr int PROBE_ACQUIRED = 0;
constexpr int PROBE_USAGE = 2;
constexpr int PROBE_REFUSED = 3;

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    return PROBE_USAGE;
  }
  return qarn_acquire_instance_lock(argv[1]) ? PROBE_ACQUIRED : PROBE_REFUSED;
}
