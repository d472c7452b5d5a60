// Temporary Diffie-Hellman parameters offered to the TLS context: six
// published groups with generator 2, built on first use and cached for the
// life of the process.
#ifndef TORVANE_NET_DH_PARAMETERS_H
#define TORVANE_NET_DH_PARAMETERS_H

#include "net/tls_library.h"

// Key lengths below this draw a warning even when a group exists for them.
constexpr int QARN_DH_SHORT_KEY_BITS = 1024;
// The generator of every group.
constexpr uint8_t QARN_DH_GENERATOR = 2;

// get_tmp_dh_callback returns the cached DH parameters whose prime has
// |key_length| bits (768, 1024, 1536, 2048, 3072 or 4096), building them on
// first use; the cache keeps ownership. Returns null after a warning for
// any other length, and null when the parameters cannot be built.
// |connection| is not used; |is_export| only appears in the warnings.
dh_st *get_tmp_dh_callback(ssl_st *connection, int is_export, int key_length);

#endif
