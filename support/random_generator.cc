#include "support/random_generator.h"

#include "support/clock.h"

namespace {

// A step's top 5 bits pick one of 32 characters.
constexpr int RANDOM_CHAR_SHIFT = 27;
constexpr uint32_t RANDOM_DIGIT_COUNT = 10;
// Bytes of the seeding block that carry the clock or the tick count.
constexpr int CLOCK_BYTES = 8;
constexpr int TICK_BYTES = 4;

qarn_random_generator g_process_generator;

void store_little_endian(unsigned char *out, uint64_t value, int byte_count) {
  for (int i = 0; i < byte_count; i++) {
    out[i] = static_cast<unsigned char>(value >> (8 * i));
  }
}

char random_char(uint32_t step_value) {
  uint32_t d = step_value >> RANDOM_CHAR_SHIFT;
  if (d < RANDOM_DIGIT_COUNT) {
    return static_cast<char>('0' + d);
  }
  return static_cast<char>('a' + (d - RANDOM_DIGIT_COUNT));
}

// Seeds the process-wide generator before main runs.
struct process_generator_seeder {
  process_generator_seeder() { g_process_generator.seed_from_clock(); }
};
process_generator_seeder g_seeder;

}  // namespace

uint32_t qarn_random_generator::step() {
  uint64_t product = uint64_t{QARN_RANDOM_MULTIPLIER} * lags_[index_] + carry_;
  carry_ = static_cast<uint32_t>(product >> 32);
  lags_[index_] = static_cast<uint32_t>(product);
  uint32_t result = lags_[index_];
  index_ = (index_ + 1) % QARN_RANDOM_LAG_COUNT;
  return result;
}

void qarn_random_generator::mix(int32_t value) {
  uint32_t x = static_cast<uint32_t>(value);
  for (int32_t k = 0; k < QARN_RANDOM_LAG_COUNT; k++) {
    x = x * QARN_RANDOM_MIX_MULTIPLIER + QARN_RANDOM_MIX_INCREMENT;
    lags_[k] ^= x;
  }
  for (int32_t k = 0; k < QARN_RANDOM_LAG_COUNT; k++) {
    step();
  }
}

// Each byte goes in as a signed 8-bit number, so bytes 128-255 mix in as
// negative values.
void qarn_random_generator::mix_block(const unsigned char (&block)[QARN_RANDOM_SEED_BLOCK_LEN]) {
  for (unsigned char byte : block) {
    mix(static_cast<int32_t>(static_cast<signed char>(byte)));
  }
}

void qarn_random_generator::seed_from_clock() {
  unsigned char block[QARN_RANDOM_SEED_BLOCK_LEN] = {};
  store_little_endian(block, static_cast<uint64_t>(qarn_clock_us()), CLOCK_BYTES);
  mix_block(block);
  store_little_endian(block, qarn_clock_tick_count(), TICK_BYTES);
  store_little_endian(block + TICK_BYTES, 0, CLOCK_BYTES - TICK_BYTES);
  mix_block(block);
}

qarn_random_generator &qarn_process_random_generator() { return g_process_generator; }

void qarn_append_random_chars(qarn_random_generator &generator, qarn_bounded_string_base &text,
                              int32_t count) {
  for (int32_t i = 0; i < count; i++) {
    text.append_char(random_char(generator.step()));
  }
}

void qarn_append_random_chars(qarn_bounded_string_base &text, int32_t count) {
  qarn_append_random_chars(g_process_generator, text, count);
}
