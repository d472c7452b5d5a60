// Starting programs: replacing this process by another image, the
// administrator test and the elevated start of a program.
#ifndef TORVANE_PLATFORM_PROCESS_H
#define TORVANE_PLATFORM_PROCESS_H

// Paths and arguments are UTF-8, as in platform/file_system.h.

// platform_exec replaces this process by the image at |path| with the
// null-terminated argument vector |argv| (at most 32 arguments on Windows;
// E2BIG beyond). It returns only on failure: -1, with errno set. No
// descriptor of this process leaks into the new image.
int platform_exec(const char *path, char *const argv[]);

// platform_is_user_admin returns nonzero if the process runs with
// administrator rights (root on POSIX).
int platform_is_user_admin();

// Shell results up to this value are error codes; above it, success.
constexpr int PLATFORM_SHELL_SUCCESS_ABOVE = 32;

// platform_start_elevated starts |program| with the parameter text
// |parameters| and administrator rights, as the Windows shell's "runas"
// does, in the current directory (the installation). It returns a value
// above 32 when the start was handed over, else one of the shell's error
// codes (0 out of resources, 2 file not found, ...). On POSIX the elevation
// helper (pkexec, else sudo) replaces this process in the same terminal, so
// there a successful start does not return at all.
int platform_start_elevated(const char *program, const char *parameters);

#endif
