// The console window (or terminal) the launcher runs in.
#ifndef TORVANE_PLATFORM_CONSOLE_H
#define TORVANE_PLATFORM_CONSOLE_H

// platform_set_console_title sets the window title; nonzero on success.
// On POSIX, where standard output is not a terminal, it does nothing and
// returns 1. On Windows a process without a console gets 0.
int platform_set_console_title(const char *title);

// platform_stderr_is_terminal returns 1 when standard error goes to a
// terminal (progress lines are then worth showing), else 0.
int platform_stderr_is_terminal();

#endif
