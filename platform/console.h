// The console window (or terminal) the launcher runs in.
#ifndef TORVANE_PLATFORM_CONSOLE_H
#define TORVANE_PLATFORM_CONSOLE_H

// platform_set_console_title sets the window title; nonzero on success.
// Where standard output is not a console it does nothing and returns 1.
int platform_set_console_title(const char *title);

#endif
