// The single-instance lock that keeps two launchers from updating one
// installation at the same time. The operating system frees it when the
// holding process ends.
//
// Windows: a named mutex in the namespace of the logon session.
// POSIX: an advisory write lock on the file |name| in the current directory,
// which is the installation. Its identity is the installation's file, so
// launchers started with any environment and as any user (the elevated copy
// as root too) meet on it; only those who can write the installation can
// open it for writing, so nobody else can take it and block a launcher.
#ifndef TORVANE_PLATFORM_INSTANCE_LOCK_H
#define TORVANE_PLATFORM_INSTANCE_LOCK_H

#include <cstdint>

enum platform_lock_result {
  PLATFORM_LOCK_ACQUIRED,        // this process holds the lock now
  PLATFORM_LOCK_NOT_NEEDED,      // this process cannot write the installation, so it cannot
                                 // race a holder: it may go on, holding nothing (POSIX only)
  PLATFORM_LOCK_HELD_ELSEWHERE,  // another holder has it
  PLATFORM_LOCK_FAILED,          // the lock object could not be made or opened
};

// An opaque handle: a mutex handle on Windows, a descriptor on POSIX.
typedef intptr_t platform_lock_handle;

// The handle of no lock; neither platform ever makes a lock with it.
constexpr platform_lock_handle PLATFORM_LOCK_NO_HANDLE = -1;

// platform_lock_acquire creates or opens the lock called |name| and takes it.
// On PLATFORM_LOCK_ACQUIRED |*handle| holds it until platform_lock_release;
// on any other result nothing is held and there is nothing to release. A
// second acquire in the same process counts as another holder.
platform_lock_result platform_lock_acquire(const char *name, platform_lock_handle *handle);

// platform_lock_release gives the lock up and closes |handle|, which came
// from PLATFORM_LOCK_ACQUIRED.
void platform_lock_release(platform_lock_handle handle);

#endif
