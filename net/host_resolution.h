// Host name resolution to one IPv4 address.
#ifndef TORVANE_NET_HOST_RESOLUTION_H
#define TORVANE_NET_HOST_RESOLUTION_H

#include "platform/socket.h"

// Limits of the dotted-quad form that is converted without a name lookup.
constexpr int QARN_DOTTED_QUAD_DOTS = 3;
constexpr int QARN_DOTTED_QUAD_MIN_DIGITS = 4;
constexpr int QARN_DOTTED_QUAD_MAX_DIGITS = 12;
constexpr int QARN_DOTTED_QUAD_MAX_PART = 255;

// qarn_is_dotted_quad returns 1 when |host| is four decimal parts of at
// most 255 joined by single dots, with 4 to 12 digits in all; else 0.
int qarn_is_dotted_quad(const char *host);

// qarn_resolve_host fills the family (IPv4) and the address of |*address|
// from |host| and leaves the rest of the record alone. A dotted quad is
// converted directly, each part read as a decimal number (leading zeros do
// not make it octal), and needs no socket stack; anything else goes to the
// system's name lookup, of which the first IPv4 result is taken. Returns 1
// when the address was filled; 0, with |*address| untouched and nothing
// printed, when the lookup failed (or, after a report, for null arguments).
int qarn_resolve_host(const char *host, platform_sockaddr_in *address);

#endif
