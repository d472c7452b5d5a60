// A small lag-8 multiply-with-carry generator. Its only job is to make the
// names of probe files unique; it is not suitable for anything secret.
#ifndef TORVANE_SUPPORT_RANDOM_GENERATOR_H
#define TORVANE_SUPPORT_RANDOM_GENERATOR_H

#include <cstdint>

#include "support/bounded_string.h"

constexpr int32_t QARN_RANDOM_LAG_COUNT = 8;
constexpr uint32_t QARN_RANDOM_MULTIPLIER = 809430660u;
constexpr uint32_t QARN_RANDOM_INITIAL_CARRY = 362436u;
// The linear congruence that spreads a mixed-in value over the lags.
constexpr uint32_t QARN_RANDOM_MIX_MULTIPLIER = 1664525u;
constexpr uint32_t QARN_RANDOM_MIX_INCREMENT = 1013904223u;
// Bytes folded in by each half of the seeding.
constexpr int32_t QARN_RANDOM_SEED_BLOCK_LEN = 16;

class qarn_random_generator {
 public:
  // The constructor sets the fixed initial state. It is constexpr so that the
  // process-wide instance is ready before any static initialiser runs.
  constexpr qarn_random_generator()
      : index_(0),
        lags_{123456789u, 920370032u, 3761641487u, 2252023330u,
              1475571481u, 2340457892u, 1600748723u, 1240767094u},
        carry_(QARN_RANDOM_INITIAL_CARRY) {}

  // step advances the generator once and returns the new lag value.
  uint32_t step();

  // mix folds |value| into every lag, then takes and discards 8 steps.
  void mix(int32_t value);

  // seed_from_clock mixes in the clock's microseconds and the tick count.
  void seed_from_clock();

 private:
  void mix_block(const unsigned char (&block)[QARN_RANDOM_SEED_BLOCK_LEN]);

  int32_t index_;
  uint32_t lags_[QARN_RANDOM_LAG_COUNT];
  uint32_t carry_;
};

// qarn_process_random_generator returns the process-wide generator, seeded
// from the clock before main starts. It lives as long as the process.
qarn_random_generator &qarn_process_random_generator();

// qarn_append_random_chars appends |count| characters from 0-9 and a-v to
// |text|, one generator step each, using the process-wide generator.
// Characters that do not fit are dropped, but the generator still advances.
void qarn_append_random_chars(qarn_bounded_string_base &text, int32_t count);

// The same with an explicit generator.
void qarn_append_random_chars(qarn_random_generator &generator, qarn_bounded_string_base &text,
                              int32_t count);

#endif
