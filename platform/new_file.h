// Creating a file that must be new: never an existing file, and never the
// target of a link that someone planted under the name.
#ifndef TORVANE_PLATFORM_NEW_FILE_H
#define TORVANE_PLATFORM_NEW_FILE_H

#include <cstdio>

// platform_unlink_file removes the file or link |path| (UTF-8): a link
// itself, never what it leads to; never a directory. Returns 0, or -1 with
// errno set (ENOENT when nothing has the name).
int platform_unlink_file(const char *path);

// platform_create_new_file creates the file |path| (UTF-8) and opens it for
// writing in binary mode, with the permissions any new file gets there. It
// fails when anything of that name exists, a link included, even one that
// leads nowhere: the call never writes through a link (O_CREAT | O_EXCL |
// O_NOFOLLOW on POSIX, CREATE_NEW on Windows). Returns the stream (the
// caller closes it), or null with errno set (EEXIST when the name was
// taken).
FILE *platform_create_new_file(const char *path);

#endif
