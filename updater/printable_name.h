// A file name as a message shows it: a name from a manifest may hold a
// carriage return or another control character, which would break the
// message's line or move the console's cursor. Such bytes are shown
// escaped ("\r", "\n", "\t", "\x1b"); every other byte as it is.
#ifndef TORVANE_UPDATER_PRINTABLE_NAME_H
#define TORVANE_UPDATER_PRINTABLE_NAME_H

#include "support/bounded_string.h"

// ovu_append_printable_name appends |name| to |out| with its control
// characters escaped.
void ovu_append_printable_name(qarn_bounded_string_base &out, const char *name);

#endif
