// qarn_keyed_hash: SipHash-2-4, a 64-bit hash of a byte string under a
// 128-bit secret key. Without the key, nobody can choose texts whose hashes
// collide more often than chance would have them, which an unkeyed hash
// cannot promise to a table whose keys come from the network.
#ifndef TORVANE_SUPPORT_KEYED_HASH_H
#define TORVANE_SUPPORT_KEYED_HASH_H

#include <cstddef>
#include <cstdint>

struct qarn_hash_key {
  uint64_t k0;  // key bytes 0-7, little-endian
  uint64_t k1;  // key bytes 8-15, little-endian
};

// qarn_keyed_hash returns the SipHash-2-4 of the |length| bytes at |data|
// under |key|.
uint64_t qarn_keyed_hash(const qarn_hash_key &key, const void *data, size_t length);

// qarn_process_hash_key returns a key drawn once per process from the
// process-wide random generator, at the first call. It stays the same for
// the life of the process.
const qarn_hash_key &qarn_process_hash_key();

#endif
