// Names chosen to collide under the unkeyed string hash cost the map no
// more work than any other names: the map places keys by the process's
// keyed hash.
#include "support/pointer_map.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

// qarn_string_hash's start value and its step over one byte.
constexpr uint32_t UNKEYED_START = 0x5D3B915Du;

uint32_t unkeyed_step(uint32_t h, unsigned char byte) {
  h += byte;
  h *= 1025u;
  return h ^ (h >> 6);
}

// Names are made of printable characters without a separator.
const std::string ALPHABET = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_";
constexpr int PREFIX_LEN = 3;

std::string prefix_of(uint32_t number) {
  std::string prefix;
  for (int i = 0; i < PREFIX_LEN; i++) {
    prefix.push_back(ALPHABET[number % ALPHABET.size()]);
    number /= static_cast<uint32_t>(ALPHABET.size());
  }
  return prefix;
}

uint32_t after_text(uint32_t h, const std::string &text) {
  for (char c : text) {
    h = unkeyed_step(h, static_cast<unsigned char>(c));
  }
  return h;
}

// Two different blocks that lead from the state |h| to one state, and that
// state. Each step adds its byte before it mixes, so two blocks of a
// prefix and a last character meet when their prefixes' states differ by
// the difference of their last characters: a birthday search over the sums
// of the prefixes' states and the characters, which meet after about 1500
// prefixes.
struct block_pair {
  std::string first, second;
  uint32_t next_state;
};

bool find_block_pair(uint32_t h, block_pair *pair) {
  struct block {
    uint32_t prefix;
    char last;
  };
  std::unordered_map<uint32_t, block> sums;
  uint32_t prefix_count = 1;
  for (int i = 0; i < PREFIX_LEN; i++) {
    prefix_count *= static_cast<uint32_t>(ALPHABET.size());
  }
  for (uint32_t prefix = 0; prefix < prefix_count; prefix++) {
    uint32_t state = after_text(h, prefix_of(prefix));
    for (char last : ALPHABET) {
      auto found = sums.emplace(state + static_cast<unsigned char>(last), block{prefix, last});
      if (!found.second && found.first->second.prefix != prefix) {
        pair->first = prefix_of(found.first->second.prefix) + found.first->second.last;
        pair->second = prefix_of(prefix) + last;
        pair->next_state = after_text(h, pair->first);
        return after_text(h, pair->second) == pair->next_state;
      }
    }
  }
  return false;
}

// 2^|stages| names of equal length whose states after the last byte are
// equal, so that qarn_string_hash gives all of them one value: each stage
// doubles the set by a pair of blocks that meet.
std::vector<std::string> names_of_one_unkeyed_hash(int stages) {
  std::vector<std::string> names = {""};
  uint32_t state = UNKEYED_START;
  for (int stage = 0; stage < stages; stage++) {
    block_pair pair;
    if (!find_block_pair(state, &pair)) {
      return {};
    }
    std::vector<std::string> doubled;
    for (const std::string &name : names) {
      doubled.push_back(name + pair.first);
      doubled.push_back(name + pair.second);
    }
    names.swap(doubled);
    state = pair.next_state;
  }
  return names;
}

constexpr int STAGES = 13;  // 8192 names
// Linear probing at most half full averages under three slots per store
// and two per lookup for keys that chance places; this leaves room for
// bad luck and stays far below the names times the names that one shared
// home slot would cost.
constexpr uint64_t PROBES_PER_NAME = 8;

TEST(pointer_map_collision_test, names_of_one_unkeyed_hash_are_placed_by_chance) {
  std::vector<std::string> names = names_of_one_unkeyed_hash(STAGES);
  ASSERT_EQ(names.size(), size_t{1} << STAGES);
  const uint32_t shared = qarn_string_hash(names[0].c_str());
  for (const std::string &name : names) {
    ASSERT_EQ(qarn_string_hash(name.c_str()), shared) << name;
  }
  std::vector<int> values(names.size());
  qarn_void_pointer_map map;
  for (size_t i = 0; i < names.size(); i++) {
    ASSERT_EQ(map.store(&values[i], names[i].c_str()), 1) << names[i];
  }
  for (size_t i = 0; i < names.size(); i++) {
    ASSERT_EQ(map.lookup(names[i].c_str()), &values[i]) << names[i];
  }
  EXPECT_LE(map.probe_count(), PROBES_PER_NAME * names.size());
}

TEST(pointer_map_collision_test, every_store_and_lookup_counts_its_probes) {
  qarn_void_pointer_map map;
  int value = 0;
  EXPECT_EQ(map.probe_count(), 0u);
  ASSERT_EQ(map.store(&value, "readme.txt"), 1);
  EXPECT_EQ(map.probe_count(), 1u);
  EXPECT_EQ(map.lookup("readme.txt"), &value);
  EXPECT_EQ(map.probe_count(), 2u);
  EXPECT_EQ(map.remove("readme.txt"), &value);
  EXPECT_EQ(map.probe_count(), 3u);
}

}  // namespace
