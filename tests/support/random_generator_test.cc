#include "support/random_generator.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>

#include "support/bounded_string.h"
#include "support/clock.h"
#include "tests/common/diagnostic_capture.h"

namespace {

const char RANDOM_ALPHABET[] = "0123456789abcdefghijklmnopqrstuv";

// A second, plainly written model of the generator, to check the class
// against.
struct reference_generator {
  uint32_t lags[8] = {123456789u, 920370032u, 3761641487u, 2252023330u,
                      1475571481u, 2340457892u, 1600748723u, 1240767094u};
  uint32_t carry = 362436u;
  int index = 0;

  uint32_t step() {
    uint64_t t = 809430660ull * lags[index] + carry;
    carry = static_cast<uint32_t>(t >> 32);
    lags[index] = static_cast<uint32_t>(t & 0xFFFFFFFFu);
    uint32_t result = lags[index];
    index = (index + 1) & 7;
    return result;
  }
  void mix(int32_t value) {
    uint32_t x = static_cast<uint32_t>(value);
    for (uint32_t &lag : lags) {
      x = static_cast<uint32_t>((uint64_t{x} * 1664525u + 1013904223u) & 0xFFFFFFFFu);
      lag ^= x;
    }
    for (int i = 0; i < 8; i++) {
      step();
    }
  }
  void mix_bytes(const unsigned char *bytes, int count) {
    for (int i = 0; i < count; i++) {
      mix(bytes[i] < 128 ? bytes[i] : static_cast<int32_t>(bytes[i]) - 256);
    }
  }
};

// True when the next |count| steps of both generators agree.
bool same_steps(qarn_random_generator generator, reference_generator reference, int count) {
  for (int i = 0; i < count; i++) {
    if (generator.step() != reference.step()) {
      return false;
    }
  }
  return true;
}

TEST(random_generator_test, FirstStepsFromTheInitialState) {
  struct {
    uint32_t value;
    char character;
  } const expected[] = {{3206204568u, 'n'}, {4161915722u, 'v'}, {2486896948u, 'i'}};
  qarn_random_generator generator;
  for (const auto &e : expected) {
    EXPECT_EQ(generator.step(), e.value);
  }
  qarn_random_generator for_chars;
  qarn_bounded_string text("id-");
  qarn_append_random_chars(for_chars, text, 3);
  std::string chars;
  for (const auto &e : expected) {
    chars += e.character;
  }
  EXPECT_EQ(std::string(text.text()), "id-" + chars);
}

TEST(random_generator_test, StepsMatchTheModelOverManyRounds) {
  qarn_random_generator generator;
  reference_generator reference;
  EXPECT_TRUE(same_steps(generator, reference, 1000));
}

TEST(random_generator_test, MixFoldsSignedValuesIntoTheState) {
  for (int32_t value : {0, 1, -1, 127, -128, 255, 2147483647, -2147483647 - 1}) {
    qarn_random_generator generator;
    reference_generator reference;
    generator.mix(value);
    reference.mix(value);
    EXPECT_TRUE(same_steps(generator, reference, 64)) << "mixed " << value;
  }
  qarn_random_generator minus_one;
  qarn_random_generator byte_255;
  minus_one.mix(-1);
  byte_255.mix(255);
  EXPECT_NE(minus_one.step(), byte_255.step());
}

struct seed_case {
  int64_t seconds;
  uint32_t tick;
};
seed_case g_seed_time = {0, 0};
uint32_t seed_tick() { return g_seed_time.tick; }
int64_t seed_seconds() { return g_seed_time.seconds; }

class random_seed_test : public testing::TestWithParam<seed_case> {
 protected:
  void SetUp() override {
    g_seed_time = GetParam();
    qarn_clock_sources sources = {seed_tick, seed_seconds};
    qarn_clock_set_sources(&sources);
    qarn_clock_reset();
  }
  void TearDown() override {
    qarn_clock_set_sources(nullptr);
    qarn_clock_reset();
  }
};

TEST_P(random_seed_test, SeedMixesClockMicrosecondsThenTickCount) {
  const seed_case &c = GetParam();
  // The clock's first reading is half a second into the calendar second.
  uint64_t us = static_cast<uint64_t>((c.seconds * 1000 + 500) * 1000);
  unsigned char block[16] = {};
  for (int i = 0; i < 8; i++) {
    block[i] = static_cast<unsigned char>(us >> (8 * i));
  }
  reference_generator reference;
  reference.mix_bytes(block, 16);
  for (int i = 0; i < 4; i++) {
    block[i] = static_cast<unsigned char>(c.tick >> (8 * i));
  }
  std::memset(block + 4, 0, 4);
  reference.mix_bytes(block, 16);

  qarn_random_generator generator;
  generator.seed_from_clock();
  EXPECT_TRUE(same_steps(generator, reference, 64));
}

INSTANTIATE_TEST_SUITE_P(times, random_seed_test,
                         testing::Values(seed_case{1700000000, 5000},
                                         seed_case{1999999999, 0xF0E0D0C0u},
                                         seed_case{0, 0x7F80FF01u}));

TEST(random_generator_test, ProcessGeneratorWasSeededBeforeMain) {
  qarn_random_generator copy = qarn_process_random_generator();
  qarn_random_generator unseeded;
  int differing = 0;
  for (int i = 0; i < 8; i++) {
    differing += copy.step() != unseeded.step() ? 1 : 0;
  }
  EXPECT_GT(differing, 0);
}

TEST(random_generator_test, AppendsCountCharactersFromTheAlphabet) {
  qarn_bounded_string text("probe-");
  qarn_append_random_chars(text, 6);
  ASSERT_EQ(text.length(), 12);
  EXPECT_EQ(std::string(text.text()).substr(0, 6), "probe-");
  for (int i = 6; i < 12; i++) {
    EXPECT_NE(std::strchr(RANDOM_ALPHABET, text.text()[i]), nullptr)
        << "character '" << text.text()[i] << "'";
  }
}

TEST(random_generator_test, EveryCharacterOfTheAlphabetTurnsUp) {
  qarn_heap_bounded_string text(3201);
  qarn_append_random_chars(text, 3200);
  std::set<char> seen(text.text(), text.text() + text.length());
  EXPECT_EQ(seen, std::set<char>(RANDOM_ALPHABET, RANDOM_ALPHABET + 32));
}

class random_chars_test : public diagnostic_capture_test {};

TEST_F(random_chars_test, GeneratorAdvancesEvenWhenTheStringIsFull) {
  qarn_random_generator generator;
  reference_generator reference;
  start_capture();
  {
    qarn_heap_bounded_string text(2);
    qarn_append_random_chars(generator, text, 5);
    EXPECT_EQ(std::string(text.text()), "nv");
  }
  stop_capture();  // the full string reports itself; that is not under test
  for (int i = 0; i < 5; i++) {
    reference.step();
  }
  EXPECT_TRUE(same_steps(generator, reference, 8));
}

}  // namespace
