#include "support/keyed_hash.h"

#include <cstdint>

#include "support/random_generator.h"

namespace {

// The four state words start as the key XORed with "somepseudorandomlygeneratedbytes".
constexpr uint64_t INIT_V0 = 0x736f6d6570736575ull;
constexpr uint64_t INIT_V1 = 0x646f72616e646f6dull;
constexpr uint64_t INIT_V2 = 0x6c7967656e657261ull;
constexpr uint64_t INIT_V3 = 0x7465646279746573ull;
constexpr uint64_t FINAL_XOR = 0xffu;
constexpr int COMPRESSION_ROUNDS = 2;
constexpr int FINALIZATION_ROUNDS = 4;
constexpr size_t WORD_LEN = 8;
constexpr int LENGTH_SHIFT = 56;

uint64_t rotate_left(uint64_t x, int bits) { return (x << bits) | (x >> (64 - bits)); }

uint64_t load_little_endian(const unsigned char *bytes, size_t count) {
  uint64_t word = 0;
  for (size_t i = 0; i < count; i++) {
    word |= static_cast<uint64_t>(bytes[i]) << (8 * i);
  }
  return word;
}

struct sip_state {
  uint64_t v0, v1, v2, v3;

  void round() {
    v0 += v1;
    v1 = rotate_left(v1, 13);
    v1 ^= v0;
    v0 = rotate_left(v0, 32);
    v2 += v3;
    v3 = rotate_left(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = rotate_left(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = rotate_left(v1, 17);
    v1 ^= v2;
    v2 = rotate_left(v2, 32);
  }

  void absorb(uint64_t word) {
    v3 ^= word;
    for (int i = 0; i < COMPRESSION_ROUNDS; i++) {
      round();
    }
    v0 ^= word;
  }
};

// Folds the address of |where| into |generator|, both halves of it.
void mix_address(qarn_random_generator &generator, const void *where) {
  uint64_t address = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(where));
  generator.mix(static_cast<int32_t>(static_cast<uint32_t>(address)));
  generator.mix(static_cast<int32_t>(static_cast<uint32_t>(address >> 32)));
}

qarn_hash_key draw_process_key() {
  qarn_random_generator &generator = qarn_process_random_generator();
  // The clock at the first use adds to what the start-up seeding gave, and
  // a stack address adds what the system's address space randomisation
  // chose: the key then follows neither from the moment the process
  // started nor from the program's bytes.
  generator.seed_from_clock();
  int on_the_stack = 0;
  mix_address(generator, &on_the_stack);
  qarn_hash_key key;
  key.k0 = (static_cast<uint64_t>(generator.step()) << 32) | generator.step();
  key.k1 = (static_cast<uint64_t>(generator.step()) << 32) | generator.step();
  return key;
}

}  // namespace

uint64_t qarn_keyed_hash(const qarn_hash_key &key, const void *data, size_t length) {
  sip_state s = {key.k0 ^ INIT_V0, key.k1 ^ INIT_V1, key.k0 ^ INIT_V2, key.k1 ^ INIT_V3};
  const unsigned char *bytes = static_cast<const unsigned char *>(data);
  size_t whole = length - length % WORD_LEN;
  for (size_t offset = 0; offset < whole; offset += WORD_LEN) {
    s.absorb(load_little_endian(bytes + offset, WORD_LEN));
  }
  // The last word holds the remaining bytes and, in its top byte, the
  // length modulo 256.
  uint64_t last = load_little_endian(bytes + whole, length - whole) |
                  (static_cast<uint64_t>(length & 0xffu) << LENGTH_SHIFT);
  s.absorb(last);
  s.v2 ^= FINAL_XOR;
  for (int i = 0; i < FINALIZATION_ROUNDS; i++) {
    s.round();
  }
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

const qarn_hash_key &qarn_process_hash_key() {
  static const qarn_hash_key key = draw_process_key();
  return key;
}
