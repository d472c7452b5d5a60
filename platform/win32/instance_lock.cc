// Single-instance lock on a named mutex. The name lives in the session's
// namespace of named objects; Windows drops the mutex with its last handle,
// so a crashed launcher never leaves a stale lock behind.
#include "platform/instance_lock.h"

#include <windows.h>

platform_lock_result platform_lock_acquire(const char *name, platform_lock_handle *handle) {
  *handle = 0;
  HANDLE mutex = CreateMutexA(nullptr, TRUE, name);
  if (mutex == nullptr) {
    return PLATFORM_LOCK_FAILED;
  }
  // The call opens an existing mutex without failing; only the last error
  // tells that another launcher made it first.
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return PLATFORM_LOCK_HELD_ELSEWHERE;
  }
  *handle = reinterpret_cast<platform_lock_handle>(mutex);
  return PLATFORM_LOCK_ACQUIRED;
}

void platform_lock_release(platform_lock_handle handle) {
  HANDLE mutex = reinterpret_cast<HANDLE>(handle);
  ReleaseMutex(mutex);
  CloseHandle(mutex);
}
