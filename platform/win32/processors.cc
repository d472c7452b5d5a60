// Processor count of the Windows kernel: the process's affinity mask.
#include "platform/processors.h"

#include <windows.h>

int32_t platform_processor_count() {
  DWORD_PTR process_mask = 0;
  DWORD_PTR system_mask = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process_mask, &system_mask) && process_mask != 0) {
    int32_t count = 0;
    for (; process_mask != 0; process_mask &= process_mask - 1) {
      count++;
    }
    return count;
  }
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? static_cast<int32_t>(info.dwNumberOfProcessors) : 1;
}
