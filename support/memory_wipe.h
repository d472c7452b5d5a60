// Wiping memory before it goes back to the allocator, so that texts such as
// key material and server paths do not linger in freed heap blocks.
#ifndef TORVANE_SUPPORT_MEMORY_WIPE_H
#define TORVANE_SUPPORT_MEMORY_WIPE_H

#include <cstddef>

// qarn_wipe_bytes sets |length| bytes at |bytes| to zero in a way the
// compiler may not drop, even when the block is freed right after. A null
// pointer does nothing.
void qarn_wipe_bytes(void *bytes, size_t length);

#endif
