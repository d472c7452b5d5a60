// The program's arguments in the encoding of every other text of the
// system: UTF-8.
#ifndef TORVANE_PLATFORM_ARGUMENTS_H
#define TORVANE_PLATFORM_ARGUMENTS_H

// platform_utf8_arguments returns the |argc| arguments that main was given
// as |argv|, in UTF-8 and with the same null-terminated layout. POSIX
// returns |argv| itself. Windows hands main its arguments in the ANSI code
// page, which cannot write every name (Cyrillic letters on a Western
// system, any character beyond the Basic Multilingual Plane anywhere); it
// returns a UTF-8 copy of the wide command line's arguments instead, kept
// until the process ends, or |argv| itself when no such copy can be made
// (no memory, or a command line that does not split into |argc| arguments
// the way the C runtime split it).
char **platform_utf8_arguments(int argc, char **argv);

#endif
