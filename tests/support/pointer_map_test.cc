#include "support/pointer_map.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "tests/common/diagnostic_capture.h"

namespace {

constexpr uint32_t INITIAL_MASK = QARN_POINTER_MAP_INITIAL_CAPACITY - 1;

struct hash_case {
  const char *text;
  uint32_t hash;
};

const hash_case HASH_CASES[] = {
    {"", 0x1AAD0981u},
    {"a", 0x5A8F2298u},
    {"abc", 0x4AF578A2u},
};

class string_hash_test : public testing::TestWithParam<hash_case> {};

TEST_P(string_hash_test, matches_known_value) {
  EXPECT_EQ(qarn_string_hash(GetParam().text), GetParam().hash) << "'" << GetParam().text << "'";
}

INSTANTIATE_TEST_SUITE_P(table, string_hash_test, testing::ValuesIn(HASH_CASES));

TEST(string_hash, high_bytes_count_as_unsigned_and_length_matters) {
  EXPECT_NE(qarn_string_hash("\xff"), qarn_string_hash("\x7f"));
  EXPECT_NE(qarn_string_hash("ab"), qarn_string_hash("ba"));
  EXPECT_NE(qarn_string_hash("File"), qarn_string_hash("file"));
}

// Finds keys whose home slot, under |mask|, is |slot|. Keys are new on each
// call, so the same slot may be asked for several times.
class colliding_keys {
 public:
  std::string for_slot(uint32_t slot, uint32_t mask = INITIAL_MASK) {
    for (;;) {
      std::string key = "key-" + std::to_string(next_++);
      if ((qarn_pointer_map_hash(key.c_str()) & mask) == slot) {
        return key;
      }
    }
  }

 private:
  uint32_t next_ = 0;
};

class pointer_map_test : public diagnostic_capture_test {
 protected:
  // Distinct, stable, non-null values to store.
  void *value(size_t index) { return &values_[index]; }

  // Every key of |keys| except the one at |except| must lead to its value.
  void expect_findable(const qarn_void_pointer_map &map, const std::vector<std::string> &keys,
                       const std::vector<bool> &removed) {
    for (size_t i = 0; i < keys.size(); i++) {
      EXPECT_EQ(map.lookup(keys[i].c_str()), removed[i] ? nullptr : value(i))
          << "key " << i << " '" << keys[i] << "' home "
          << (qarn_pointer_map_hash(keys[i].c_str()) & INITIAL_MASK);
    }
  }

  int values_[4096] = {};
};

TEST_F(pointer_map_test, new_map_has_32_empty_slots) {
  qarn_void_pointer_map map;
  EXPECT_EQ(map.capacity(), 32u);
  EXPECT_EQ(map.count(), 0u);
  EXPECT_EQ(map.lookup("anything"), nullptr);
}

TEST_F(pointer_map_test, stores_looks_up_and_removes) {
  qarn_void_pointer_map map;
  start_capture();
  EXPECT_EQ(map.store(value(0), "data/maps/town.map"), 1);
  EXPECT_EQ(map.store(value(1), "BRUXclient.exe"), 1);
  EXPECT_EQ(map.count(), 2u);
  EXPECT_EQ(map.lookup("data/maps/town.map"), value(0));
  EXPECT_EQ(map.lookup("BRUXclient.exe"), value(1));
  EXPECT_EQ(map.remove("data/maps/town.map"), value(0)) << "the stored pointer itself";
  EXPECT_EQ(map.count(), 1u);
  EXPECT_EQ(map.lookup("data/maps/town.map"), nullptr);
  EXPECT_EQ(map.remove("data/maps/town.map"), nullptr);
  EXPECT_EQ(map.remove("never stored"), nullptr);
  EXPECT_EQ(map.count(), 1u);
  EXPECT_EQ(stop_capture(), "") << "absent keys are not an error";
}

TEST_F(pointer_map_test, empty_key_is_valid) {
  qarn_void_pointer_map map;
  EXPECT_EQ(map.store(value(0), ""), 1);
  EXPECT_EQ(map.lookup(""), value(0));
  EXPECT_EQ(map.remove(""), value(0));
  EXPECT_EQ(map.lookup(""), nullptr);
}

TEST_F(pointer_map_test, keys_are_copied) {
  qarn_void_pointer_map map;
  char key[] = "update.tmp";
  ASSERT_EQ(map.store(value(0), key), 1);
  key[0] = 'X';
  EXPECT_EQ(map.lookup("update.tmp"), value(0));
  EXPECT_EQ(map.lookup(key), nullptr);
}

// A map that borrows its keys finds them through other copies of their
// text, grows, removes and clears without ever freeing one: the keys here
// live in one array on the stack, which a free would corrupt (and the
// sanitizer build reports).
TEST_F(pointer_map_test, borrowed_keys_are_used_in_place_and_never_freed) {
  constexpr int key_count = 100;  // the table grows three times
  constexpr int key_room = 16;
  char keys[key_count][key_room];
  {
    qarn_void_pointer_map map(qarn_map_keys::borrowed);
    for (int i = 0; i < key_count; i++) {
      std::snprintf(keys[i], key_room, "d%02d/f%03d", i % 7, i);
      ASSERT_EQ(map.store(value(static_cast<size_t>(i)), keys[i]), 1) << keys[i];
    }
    EXPECT_EQ(map.capacity(), 256u);
    for (int i = 0; i < key_count; i += 3) {
      std::string copy = keys[i];
      EXPECT_EQ(map.remove(copy.c_str()), value(static_cast<size_t>(i))) << copy;
    }
    for (int i = 0; i < key_count; i++) {
      std::string copy = keys[i];
      EXPECT_EQ(map.lookup(copy.c_str()), i % 3 == 0 ? nullptr : value(static_cast<size_t>(i))) << copy;
    }
    map.clear();
    EXPECT_EQ(map.lookup(keys[1]), nullptr);
    ASSERT_EQ(map.store(value(1), keys[1]), 1);
  }
  for (int i = 0; i < key_count; i++) {
    char expected[key_room];
    std::snprintf(expected, key_room, "d%02d/f%03d", i % 7, i);
    EXPECT_STREQ(keys[i], expected) << "the map left its keys as they were";
  }
}

TEST_F(pointer_map_test, keys_are_case_sensitive) {
  qarn_void_pointer_map map;
  ASSERT_EQ(map.store(value(0), "file"), 1);
  EXPECT_EQ(map.lookup("File"), nullptr);
  EXPECT_EQ(map.lookup("FILE"), nullptr);
  EXPECT_EQ(map.lookup("file"), value(0));
  EXPECT_EQ(map.store(value(1), "File"), 1) << "a different key";
  EXPECT_EQ(map.lookup("File"), value(1));
}

TEST_F(pointer_map_test, duplicate_is_refused_and_reported) {
  qarn_void_pointer_map map;
  ASSERT_EQ(map.store(value(0), "readme.txt"), 1);
  start_capture();
  EXPECT_EQ(map.store(value(1), "readme.txt"), 0);
  EXPECT_EQ(stop_capture(),
            "Error in qarn_void_pointer_map::store(), attempt to store duplicate thing at key "
            "'readme.txt'.\n");
  EXPECT_EQ(map.lookup("readme.txt"), value(0));
  EXPECT_EQ(map.count(), 1u);
}

TEST_F(pointer_map_test, duplicate_report_of_long_key_fits_its_buffer) {
  qarn_void_pointer_map map;
  std::string key(3000, 'k');
  ASSERT_EQ(map.store(value(0), key.c_str()), 1);
  start_capture();
  EXPECT_EQ(map.store(value(1), key.c_str()), 0);
  std::string out = stop_capture();
  std::string head =
      "Error in qarn_void_pointer_map::store(), attempt to store duplicate thing at key '";
  EXPECT_EQ(out.size(), 1023u + 1u) << "1023 characters and the newline";
  EXPECT_EQ(out.substr(0, head.size()), head);
  EXPECT_EQ(out.substr(out.size() - 3), "'.\n");
}

TEST_F(pointer_map_test, null_key_and_null_value) {
  qarn_void_pointer_map map;
  start_capture();
  EXPECT_EQ(map.lookup(nullptr), nullptr);
  EXPECT_EQ(map.remove(nullptr), nullptr);
  EXPECT_EQ(stop_capture(), "") << "lookup and remove of a null key are quiet";

  start_capture();
  EXPECT_EQ(map.store(value(0), nullptr), 0);
  EXPECT_EQ(stop_capture(), "Error in qarn_void_pointer_map::store(), got null key.\n");

  // A null value would look like an empty slot: refused.
  start_capture();
  EXPECT_EQ(map.store(nullptr, "key"), 0);
  EXPECT_EQ(stop_capture(), "Error in qarn_void_pointer_map::store(), got null value.\n");
  EXPECT_EQ(map.count(), 0u);

  qarn_set_diagnostic_mask(QARN_DIAG_MISUSE);
  ASSERT_EQ(map.store(value(0), "key"), 1);
  start_capture();
  map.store(value(0), nullptr);
  map.store(nullptr, "other");
  map.store(value(1), "key");
  EXPECT_EQ(stop_capture(), "") << "every refusal is category 4";
}

TEST_F(pointer_map_test, grows_to_64_slots_at_the_18th_store) {
  qarn_void_pointer_map map;
  colliding_keys keys;
  std::vector<std::string> stored;
  // Half of them share one home slot, so growth must also split a long run.
  for (size_t i = 0; i < 17; i++) {
    stored.push_back(i % 2 ? keys.for_slot(31) : "file" + std::to_string(i));
    ASSERT_EQ(map.store(value(i), stored.back().c_str()), 1);
  }
  EXPECT_EQ(map.capacity(), 32u);
  EXPECT_EQ(map.count(), 17u);

  stored.push_back(keys.for_slot(31));
  ASSERT_EQ(map.store(value(17), stored.back().c_str()), 1);
  EXPECT_EQ(map.capacity(), 64u);
  EXPECT_EQ(map.count(), 18u);
  expect_findable(map, stored, std::vector<bool>(stored.size(), false));

  for (size_t i = 18; i < 34; i++) {
    stored.push_back("more" + std::to_string(i));
    ASSERT_EQ(map.store(value(i), stored.back().c_str()), 1);
    EXPECT_EQ(map.capacity(), i < 33 ? 64u : 128u) << "after store " << i + 1;
  }
  expect_findable(map, stored, std::vector<bool>(stored.size(), false));
}

TEST_F(pointer_map_test, table_never_shrinks) {
  qarn_void_pointer_map map;
  std::vector<std::string> keys;
  for (size_t i = 0; i < 40; i++) {
    keys.push_back("k" + std::to_string(i));
    ASSERT_EQ(map.store(value(i), keys.back().c_str()), 1);
  }
  for (const std::string &key : keys) {
    ASSERT_NE(map.remove(key.c_str()), nullptr);
  }
  EXPECT_EQ(map.count(), 0u);
  EXPECT_EQ(map.capacity(), 128u);
}

// Runs of colliding keys, given by the home slot of each key in store order.
// With 32 slots, a key lands on the first free slot at or after its home.
struct run_case {
  const char *name;
  std::vector<uint32_t> homes;
};

const run_case RUN_CASES[] = {
    // One run in the middle: 5,6,7,8 share home 5; 9 and 10 are pushed on.
    {"middle", {5, 5, 5, 6, 5, 9, 8}},
    // Homes 30 and 31 wrap over slot 31 into 0, 1, 2 ...; keys at home 0
    // and 1 are pushed further.
    {"wrapping", {30, 30, 31, 30, 0, 31, 1, 3, 0}},
    // A run that starts at the last slot.
    {"from_last_slot", {31, 31, 31, 0, 31, 2}},
    // Keys already at home right behind the removed one must stay put.
    {"at_home_neighbours", {29, 30, 31, 0, 1, 29}},
};

void PrintTo(const run_case &c, std::ostream *out) { *out << c.name; }

class pointer_map_run_test : public pointer_map_test,
                             public testing::WithParamInterface<run_case> {
 protected:
  void SetUp() override {
    pointer_map_test::SetUp();
    colliding_keys finder;
    for (uint32_t home : GetParam().homes) {
      keys_.push_back(finder.for_slot(home));
    }
  }

  void fill(qarn_void_pointer_map &map) {
    for (size_t i = 0; i < keys_.size(); i++) {
      ASSERT_EQ(map.store(value(i), keys_[i].c_str()), 1);
    }
    ASSERT_EQ(map.capacity(), 32u);
  }

  // Removes |order| one by one, checking every key after each removal.
  void remove_in_order(const std::vector<size_t> &order) {
    qarn_void_pointer_map map;
    fill(map);
    std::vector<bool> removed(keys_.size(), false);
    for (size_t index : order) {
      ASSERT_EQ(map.remove(keys_[index].c_str()), value(index)) << "removing key " << index;
      removed[index] = true;
      expect_findable(map, keys_, removed);
    }
    EXPECT_EQ(map.count(), keys_.size() - order.size());
  }

  std::vector<std::string> keys_;
};

TEST_P(pointer_map_run_test, every_single_removal_keeps_the_rest_findable) {
  start_capture();
  for (size_t i = 0; i < keys_.size(); i++) {
    SCOPED_TRACE("removing key " + std::to_string(i));
    remove_in_order({i});
  }
  EXPECT_EQ(stop_capture(), "");
}

TEST_P(pointer_map_run_test, every_pair_of_removals_keeps_the_rest_findable) {
  for (size_t i = 0; i < keys_.size(); i++) {
    for (size_t j = 0; j < keys_.size(); j++) {
      if (i != j) {
        SCOPED_TRACE("removing keys " + std::to_string(i) + " then " + std::to_string(j));
        remove_in_order({i, j});
      }
    }
  }
}

TEST_P(pointer_map_run_test, removal_of_all_in_store_order_and_reverse) {
  std::vector<size_t> order;
  for (size_t i = 0; i < keys_.size(); i++) {
    order.push_back(i);
  }
  remove_in_order(order);
  remove_in_order(std::vector<size_t>(order.rbegin(), order.rend()));
}

TEST_P(pointer_map_run_test, removed_slot_is_reused) {
  qarn_void_pointer_map map;
  fill(map);
  ASSERT_EQ(map.remove(keys_[1].c_str()), value(1));
  ASSERT_EQ(map.store(value(100), keys_[1].c_str()), 1);
  EXPECT_EQ(map.lookup(keys_[1].c_str()), value(100));
  EXPECT_EQ(map.count(), keys_.size());
}

INSTANTIATE_TEST_SUITE_P(runs, pointer_map_run_test, testing::ValuesIn(RUN_CASES),
                         [](const testing::TestParamInfo<run_case> &info) {
                           return std::string(info.param.name);
                         });

TEST_F(pointer_map_test, agrees_with_std_map_over_random_operations) {
  // A small key pool keeps collisions, duplicates, absent keys and growth
  // frequent; the fixed seed makes a failure repeatable.
  constexpr size_t KEY_POOL = 400;
  constexpr int OPERATIONS = 30000;
  std::vector<std::string> pool;
  for (size_t i = 0; i < KEY_POOL; i++) {
    pool.push_back(i % 3 ? "data/file" + std::to_string(i) + ".dat" : std::to_string(i));
  }
  std::mt19937 random(20240611u);
  std::uniform_int_distribution<size_t> pick_key(0, KEY_POOL - 1);
  std::uniform_int_distribution<int> pick_op(0, 9);

  qarn_void_pointer_map map;
  std::map<std::string, void *> reference;
  qarn_set_diagnostic_mask(QARN_DIAG_MISUSE);  // duplicates are expected here
  for (int step = 0; step < OPERATIONS; step++) {
    size_t k = pick_key(random);
    const std::string &key = pool[k];
    int op = pick_op(random);
    auto found = reference.find(key);
    if (op < 4) {
      void *v = value(k + KEY_POOL * (step % 4));
      ASSERT_EQ(map.store(v, key.c_str()), found == reference.end() ? 1 : 0) << "step " << step;
      reference.emplace(key, v);
    } else if (op < 7) {
      ASSERT_EQ(map.lookup(key.c_str()), found == reference.end() ? nullptr : found->second)
          << "step " << step;
    } else {
      ASSERT_EQ(map.remove(key.c_str()), found == reference.end() ? nullptr : found->second)
          << "step " << step;
      if (found != reference.end()) {
        reference.erase(found);
      }
    }
    ASSERT_EQ(map.count(), reference.size()) << "step " << step;
    ASSERT_LE(map.count(), map.capacity() / 2 + 1) << "step " << step;
  }
  for (const std::string &key : pool) {
    auto found = reference.find(key);
    EXPECT_EQ(map.lookup(key.c_str()), found == reference.end() ? nullptr : found->second);
  }
}

}  // namespace

namespace {

TEST(pointer_map_clear_test, forgets_everything_and_takes_new_entries) {
  qarn_void_pointer_map map;
  int values[100];
  for (int i = 0; i < 100; i++) {
    ASSERT_EQ(map.store(&values[i], ("key" + std::to_string(i)).c_str()), 1);
  }
  map.clear();
  EXPECT_EQ(map.count(), 0u);
  EXPECT_EQ(map.capacity(), 0u);
  EXPECT_EQ(map.lookup("key7"), nullptr);
  EXPECT_EQ(map.remove("key7"), nullptr);
  ASSERT_EQ(map.store(&values[7], "key7"), 1);
  EXPECT_EQ(map.lookup("key7"), &values[7]);
  EXPECT_EQ(map.count(), 1u);
  map.clear();
  map.clear();
}

}  // namespace
