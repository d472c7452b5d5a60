// The status of files through an open directory: each file is looked up by
// its name within the directory, so that the path of a directory that holds
// many of the files is resolved once, not once per file. Names are UTF-8
// (file_system.h); links are followed wherever they are, as platform_stat
// follows them.
//
// POSIX keeps a descriptor of the directory (O_PATH where the system has
// it, so that searching the directory is all the permission needed, as
// for stat) and asks fstatat. Windows keeps the directory's path and asks
// platform_stat for the path joined with the name, as before.
#ifndef TORVANE_PLATFORM_DIRECTORY_STATUS_H
#define TORVANE_PLATFORM_DIRECTORY_STATUS_H

#include "platform/file_system.h"

struct platform_directory;

// platform_open_directory opens the directory |path| ("" is the current
// directory). Returns it, to be closed with platform_close_directory, or
// null with errno set (ENOENT, ENOTDIR, EACCES, EMFILE, ...).
platform_directory *platform_open_directory(const char *path);

// platform_stat_in_directory fills |status| for the file |name| (not empty;
// it may name a file in a subdirectory, "a/b") in |directory|: the result
// that platform_stat gives for the directory's path joined with |name| by
// "/". Returns 1 on success, else 0.
int platform_stat_in_directory(platform_directory *directory, const char *name, platform_file_status *status);

// platform_close_directory closes |directory|; null does nothing.
void platform_close_directory(platform_directory *directory);

#endif
