#include "support/memory_wipe.h"

void qarn_wipe_bytes(void *bytes, size_t length) {
  if (bytes == nullptr) {
    return;
  }
  // Stores through a volatile pointer count as observable, so they survive
  // dead-store elimination before a free().
  volatile unsigned char *wipe = static_cast<volatile unsigned char *>(bytes);
  for (size_t i = 0; i < length; i++) {
    wipe[i] = 0;
  }
}
