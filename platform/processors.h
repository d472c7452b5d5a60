// How many processors the process may run on.
#ifndef TORVANE_PLATFORM_PROCESSORS_H
#define TORVANE_PLATFORM_PROCESSORS_H

#include <cstdint>

// platform_processor_count returns the number of processors this process
// is allowed to run on (its affinity, where the system has one), at least 1.
int32_t platform_processor_count();

#endif
