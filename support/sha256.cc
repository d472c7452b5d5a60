#include "support/sha256.h"

#include <cstring>

#include "support/sha256_compress.h"

const uint32_t qarn_sha256_round_constants[QARN_SHA256_ROUNDS] = {
    0x428a2f98u, 0x71374491u, 0xb5c0fbcfu, 0xe9b5dba5u, 0x3956c25bu, 0x59f111f1u, 0x923f82a4u,
    0xab1c5ed5u, 0xd807aa98u, 0x12835b01u, 0x243185beu, 0x550c7dc3u, 0x72be5d74u, 0x80deb1feu,
    0x9bdc06a7u, 0xc19bf174u, 0xe49b69c1u, 0xefbe4786u, 0x0fc19dc6u, 0x240ca1ccu, 0x2de92c6fu,
    0x4a7484aau, 0x5cb0a9dcu, 0x76f988dau, 0x983e5152u, 0xa831c66du, 0xb00327c8u, 0xbf597fc7u,
    0xc6e00bf3u, 0xd5a79147u, 0x06ca6351u, 0x14292967u, 0x27b70a85u, 0x2e1b2138u, 0x4d2c6dfcu,
    0x53380d13u, 0x650a7354u, 0x766a0abbu, 0x81c2c92eu, 0x92722c85u, 0xa2bfe8a1u, 0xa81a664bu,
    0xc24b8b70u, 0xc76c51a3u, 0xd192e819u, 0xd6990624u, 0xf40e3585u, 0x106aa070u, 0x19a4c116u,
    0x1e376c08u, 0x2748774cu, 0x34b0bcb5u, 0x391c0cb3u, 0x4ed8aa4au, 0x5b9cca4fu, 0x682e6ff3u,
    0x748f82eeu, 0x78a5636fu, 0x84c87814u, 0x8cc70208u, 0x90befffau, 0xa4506cebu, 0xbef9a3f7u,
    0xc67178f2u,
};

namespace {

constexpr int32_t LENGTH_FIELD_LEN = 8;
constexpr unsigned char PADDING_START = 0x80;
constexpr int32_t SCHEDULE_WORDS = QARN_SHA256_ROUNDS;
constexpr int32_t BLOCK_WORDS = QARN_SHA256_BLOCK_LEN / 4;

constexpr uint32_t INITIAL_STATE[QARN_SHA256_STATE_WORDS] = {
    0x6a09e667u, 0xbb67ae85u, 0x3c6ef372u, 0xa54ff53au,
    0x510e527fu, 0x9b05688cu, 0x1f83d9abu, 0x5be0cd19u,
};

uint32_t rotate_right(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

uint32_t load_big_endian(const unsigned char *in) {
  return (uint32_t{in[0]} << 24) | (uint32_t{in[1]} << 16) | (uint32_t{in[2]} << 8) | in[3];
}

void store_big_endian(unsigned char *out, uint64_t value, int byte_count) {
  for (int i = 0; i < byte_count; i++) {
    out[i] = static_cast<unsigned char>(value >> (8 * (byte_count - 1 - i)));
  }
}

void expand_schedule(const unsigned char *block, uint32_t w[SCHEDULE_WORDS]) {
  for (int t = 0; t < BLOCK_WORDS; t++) {
    w[t] = load_big_endian(block + 4 * t);
  }
  for (int t = BLOCK_WORDS; t < SCHEDULE_WORDS; t++) {
    uint32_t s0 = rotate_right(w[t - 15], 7) ^ rotate_right(w[t - 15], 18) ^ (w[t - 15] >> 3);
    uint32_t s1 = rotate_right(w[t - 2], 17) ^ rotate_right(w[t - 2], 19) ^ (w[t - 2] >> 10);
    w[t] = w[t - 16] + s0 + w[t - 7] + s1;
  }
}

void compress(uint32_t state[QARN_SHA256_STATE_WORDS], const unsigned char *block) {
  uint32_t w[SCHEDULE_WORDS];
  expand_schedule(block, w);
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
  for (int t = 0; t < SCHEDULE_WORDS; t++) {
    uint32_t sum1 = rotate_right(e, 6) ^ rotate_right(e, 11) ^ rotate_right(e, 25);
    uint32_t choose = (e & f) ^ (~e & g);
    uint32_t t1 = h + sum1 + choose + qarn_sha256_round_constants[t] + w[t];
    uint32_t sum0 = rotate_right(a, 2) ^ rotate_right(a, 13) ^ rotate_right(a, 22);
    uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
    uint32_t t2 = sum0 + majority;
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
  state[5] += f;
  state[6] += g;
  state[7] += h;
}

// The compression function in use. It starts as a stand-in that makes the
// choice at the first compression, so that no static initialiser order
// matters and the CPU is asked only once.
void choose_then_compress(uint32_t state[QARN_SHA256_STATE_WORDS], const unsigned char *blocks,
                          size_t block_count);
qarn_sha256_compress_function active_compress = choose_then_compress;
qarn_sha256_implementation active_implementation = QARN_SHA256_PORTABLE;

qarn_sha256_compress_function compress_function_of(qarn_sha256_implementation implementation) {
  switch (implementation) {
    case QARN_SHA256_SHA_EXTENSIONS:
      return qarn_sha256_compress_extensions;
    case QARN_SHA256_PORTABLE:
      break;
  }
  return qarn_sha256_compress_portable;
}

void select_implementation(qarn_sha256_implementation implementation) {
  active_implementation = implementation;
  active_compress = compress_function_of(implementation);
}

void choose_fastest() {
  select_implementation(qarn_sha256_extensions_available() ? QARN_SHA256_SHA_EXTENSIONS
                                                           : QARN_SHA256_PORTABLE);
}

void choose_then_compress(uint32_t state[QARN_SHA256_STATE_WORDS], const unsigned char *blocks,
                          size_t block_count) {
  choose_fastest();
  active_compress(state, blocks, block_count);
}

}  // namespace

void qarn_sha256_compress_portable(uint32_t state[QARN_SHA256_STATE_WORDS],
                                   const unsigned char *blocks, size_t block_count) {
  for (size_t i = 0; i < block_count; i++) {
    compress(state, blocks + i * QARN_SHA256_BLOCK_LEN);
  }
}

int qarn_sha256_implementation_available(qarn_sha256_implementation implementation) {
  switch (implementation) {
    case QARN_SHA256_PORTABLE:
      return 1;
    case QARN_SHA256_SHA_EXTENSIONS:
      return qarn_sha256_extensions_available();
  }
  return 0;
}

int qarn_sha256_use_implementation(qarn_sha256_implementation implementation) {
  if (!qarn_sha256_implementation_available(implementation)) {
    return 0;
  }
  select_implementation(implementation);
  return 1;
}

qarn_sha256_implementation qarn_sha256_implementation_in_use() {
  if (active_compress == choose_then_compress) {
    choose_fastest();
  }
  return active_implementation;
}

void qarn_sha256_init(qarn_sha256_context *context) {
  std::memcpy(context->state, INITIAL_STATE, sizeof(INITIAL_STATE));
  context->byte_count = 0;
  context->buffer_fill = 0;
}

// Whole blocks go to the compression function straight from the caller's
// bytes, as many as there are in one call, so that an accelerated one keeps
// its state in registers across them; only a partial block is copied.
void qarn_sha256_update(qarn_sha256_context *context, const void *bytes, uint64_t count) {
  const unsigned char *in = static_cast<const unsigned char *>(bytes);
  context->byte_count += count;
  if (context->buffer_fill > 0) {
    uint64_t room = static_cast<uint64_t>(QARN_SHA256_BLOCK_LEN - context->buffer_fill);
    uint64_t take = count < room ? count : room;
    std::memcpy(context->buffer + context->buffer_fill, in, static_cast<size_t>(take));
    context->buffer_fill += static_cast<int32_t>(take);
    in += take;
    count -= take;
    if (context->buffer_fill < QARN_SHA256_BLOCK_LEN) {
      return;
    }
    active_compress(context->state, context->buffer, 1);
    context->buffer_fill = 0;
  }
  uint64_t whole_blocks = count / QARN_SHA256_BLOCK_LEN;
  if (whole_blocks > 0) {
    active_compress(context->state, in, static_cast<size_t>(whole_blocks));
    in += whole_blocks * QARN_SHA256_BLOCK_LEN;
    count -= whole_blocks * QARN_SHA256_BLOCK_LEN;
  }
  if (count > 0) {
    std::memcpy(context->buffer, in, static_cast<size_t>(count));
    context->buffer_fill = static_cast<int32_t>(count);
  }
}

void qarn_sha256_final(qarn_sha256_context *context, unsigned char digest[QARN_SHA256_DIGEST_LEN]) {
  uint64_t bit_count = context->byte_count * 8;
  context->buffer[context->buffer_fill++] = PADDING_START;
  if (context->buffer_fill > QARN_SHA256_BLOCK_LEN - LENGTH_FIELD_LEN) {
    std::memset(context->buffer + context->buffer_fill, 0,
                static_cast<size_t>(QARN_SHA256_BLOCK_LEN - context->buffer_fill));
    active_compress(context->state, context->buffer, 1);
    context->buffer_fill = 0;
  }
  std::memset(context->buffer + context->buffer_fill, 0,
              static_cast<size_t>(QARN_SHA256_BLOCK_LEN - LENGTH_FIELD_LEN - context->buffer_fill));
  store_big_endian(context->buffer + QARN_SHA256_BLOCK_LEN - LENGTH_FIELD_LEN, bit_count,
                   LENGTH_FIELD_LEN);
  active_compress(context->state, context->buffer, 1);
  for (int i = 0; i < QARN_SHA256_STATE_WORDS; i++) {
    store_big_endian(digest + 4 * i, context->state[i], 4);
  }
}
