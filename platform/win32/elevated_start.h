// The elevated start of a program through the Windows shell, split from the
// shell call itself so that what the shell is handed can be seen: Windows
// asks the player's consent before the call returns, and Wine never
// elevates at all.
#ifndef TORVANE_PLATFORM_WIN32_ELEVATED_START_H
#define TORVANE_PLATFORM_WIN32_ELEVATED_START_H

#include <cstdint>

// The shell's start of |program| with the verb |verb|, the parameter text
// |parameters| (null for none) and the working directory |directory|, all
// UTF-16. Returns the shell's result: above 32 when the start was handed
// over, else one of its error codes.
typedef intptr_t (*win32_shell_start)(const wchar_t *verb, const wchar_t *program,
                                      const wchar_t *parameters, const wchar_t *directory);

// win32_shell_start_with_shell_execute is the real shell start
// (ShellExecuteW, no owner window, shown normally).
intptr_t win32_shell_start_with_shell_execute(const wchar_t *verb, const wchar_t *program,
                                              const wchar_t *parameters, const wchar_t *directory);

// win32_start_elevated starts the program |program| (UTF-8) with the
// parameter text |parameters| (UTF-8, or null) and the verb "runas"
// through |shell|. The working directory is the current directory, the
// installation: an elevated process started without one begins in the
// system folder. Returns the shell's result, or without calling the shell
// a shell error code: 2 (file not found) for a program name that is not
// UTF-8, 1 for such parameters, 3 (path not found) when the current
// directory cannot be told, 8 (out of memory).
int win32_start_elevated(win32_shell_start shell, const char *program, const char *parameters);

#endif
