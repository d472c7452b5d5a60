// Directory creation, file status, opening, renaming and removing files,
// and the durable replacement of a file.
//
// Every name given to these calls is UTF-8, as the publisher's names are.
// POSIX hands the bytes to the system as they are. Windows turns them into
// UTF-16 for its wide calls, so that a name with an accented letter or an
// emoji is the same name on the disk, and refuses a name that is not valid
// UTF-8: the call fails with errno EILSEQ and touches no file.
#ifndef TORVANE_PLATFORM_FILE_SYSTEM_H
#define TORVANE_PLATFORM_FILE_SYSTEM_H

#include <cstdint>
#include <cstdio>

// platform_fopen opens |path| as fopen does with |mode|. Returns the stream
// (the caller closes it with fclose), or null with errno set.
FILE *platform_fopen(const char *path, const char *mode);

// platform_remove removes the file |path|. Returns 0, or -1 with errno set
// (ENOENT when there is no such file).
int platform_remove(const char *path);

// platform_rename gives the file |from| the name |to|, as C's rename does:
// POSIX replaces an existing |to|, Windows refuses it. Returns 0, or -1
// with errno set.
int platform_rename(const char *from, const char *to);

// platform_mkdir creates one directory. Returns 0 on success, -1 with errno
// set on failure (EEXIST when something of that name exists). |mode| is
// ignored where directory creation takes none.
int platform_mkdir(const char *path, int mode);

struct platform_file_status {
  int is_directory;
  int is_regular_file;
  int64_t size;               // bytes, 64 bits on every system
  int64_t modification_time;  // seconds since 1970-01-01 00:00 UTC
};

// platform_stat fills |status| for |path|. Returns 1 on success, else 0.
int platform_stat(const char *path, platform_file_status *status);

// platform_read_line_chars reads the characters of |file| up to the next
// line feed, carriage return, NUL or the end of the file, taking the
// stream's lock once. The first |room| of them go to |out| (the others are
// consumed and dropped), their number to |*stored|, and the character that
// ended the read (consumed too; EOF at the end of the file) to |*end|.
// Returns the number of characters consumed before it.
int32_t platform_read_line_chars(FILE *file, char *out, int32_t room, int32_t *stored, int *end);

// platform_flush_file_to_disk hands the buffered bytes of |file| to the
// system and waits until the system has them on the disk. Returns 0, or -1
// when either step failed.
int platform_flush_file_to_disk(FILE *file);

// platform_replace_file gives the closed file |from| the name |to| in one
// step: a reader sees either the old |to| or the whole new file, never a
// mix and never no file, also after a crash or a power loss. An existing
// |to| is replaced (POSIX rename; MoveFileExW with MOVEFILE_REPLACE_EXISTING
// on Windows, whose rename refuses an existing target). Returns 0, or -1
// with |from| and |to| as they were.
int platform_replace_file(const char *from, const char *to);

// platform_create_private_file creates the file |path|, which must not
// exist yet, readable and writable by its owner only, and opens it for
// writing in binary mode. Returns the stream (the caller closes it), or
// null (the file existed, or could not be made).
FILE *platform_create_private_file(const char *path);

// platform_has_windows_file_names tells whether file names follow Windows'
// rules here: device names (CON, NUL, COM1, ...) have a meaning in every
// directory, some characters are refused, and trailing dots and blanks are
// dropped, so that a file of such a name cannot be made as named.
int platform_has_windows_file_names();

#endif
