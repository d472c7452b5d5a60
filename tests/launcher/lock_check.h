// Whether an instance lock is held, as another holder sees it.
#ifndef TORVANE_TESTS_LAUNCHER_LOCK_CHECK_H
#define TORVANE_TESTS_LAUNCHER_LOCK_CHECK_H

#include "platform/instance_lock.h"

// lock_is_free returns true if another holder in this process could take
// the lock |name| now. It takes the lock and gives it back at once, so the
// lock is as free afterwards as it was.
inline bool lock_is_free(const char *name) {
  platform_lock_handle handle = 0;
  if (platform_lock_acquire(name, &handle) != PLATFORM_LOCK_ACQUIRED) {
    return false;
  }
  platform_lock_release(handle);
  return true;
}

#endif
