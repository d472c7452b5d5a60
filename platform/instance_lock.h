// Named single-instance lock shared by the launchers of one user. The
// operating system frees it when the holding process ends.
#ifndef TORVANE_PLATFORM_INSTANCE_LOCK_H
#define TORVANE_PLATFORM_INSTANCE_LOCK_H

#include <cstdint>

enum platform_lock_result {
  PLATFORM_LOCK_ACQUIRED,        // this process holds the lock now
  PLATFORM_LOCK_HELD_ELSEWHERE,  // another process holds it
  PLATFORM_LOCK_FAILED,          // the lock object could not be made
};

// An opaque handle: a mutex handle on Windows, a descriptor on POSIX.
typedef intptr_t platform_lock_handle;

// platform_lock_acquire creates or opens the lock called |name| and takes it.
// On PLATFORM_LOCK_ACQUIRED |*handle| holds it until platform_lock_release.
platform_lock_result platform_lock_acquire(const char *name, platform_lock_handle *handle);

// platform_lock_release gives the lock up and closes |handle|.
void platform_lock_release(platform_lock_handle handle);

#endif
