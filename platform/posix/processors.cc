#include "platform/processors.h"

#include <sched.h>
#include <unistd.h>

int32_t platform_processor_count() {
  // A process confined to fewer processors than the machine has (a CPU
  // set, taskset) gains nothing from threads beyond those.
#ifdef __linux__
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  if (sched_getaffinity(0, sizeof(allowed), &allowed) == 0) {
    int count = CPU_COUNT(&allowed);
    if (count > 0) {
      return static_cast<int32_t>(count);
    }
  }
#endif
  long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<int32_t>(online) : 1;
}
