// Flushing a whole file system to the disk. A system keeps written bytes
// in memory for a while; until they reach the disk a power loss can leave a
// file with its size but other bytes in it. Flushing files one by one costs
// a disk round trip each; where the system can flush everything written to
// one file system in one call, a batch of thousands of small files costs
// about what one of them does.
#ifndef TORVANE_PLATFORM_FILE_SYNC_H
#define TORVANE_PLATFORM_FILE_SYNC_H

// platform_can_flush_file_systems tells whether platform_flush_file_system
// works here: 1 on Linux (syncfs); 0 on Windows, which lets only
// administrators flush a volume, and on other POSIX systems.
int platform_can_flush_file_systems();

// platform_flush_file_system waits until everything written so far to the
// file system that holds |path| (an existing file or directory) is on the
// disk: the data of every file, and every rename. Returns 0; or -1 with
// errno set, when the system reported a write error or cannot flush a file
// system (ENOSYS).
int platform_flush_file_system(const char *path);

#endif
