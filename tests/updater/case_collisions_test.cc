// Names of one list that are one file on Windows.
#include "updater/case_collisions.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using found_pairs = std::vector<std::pair<int32_t, int32_t>>;

found_pairs collisions_of(const std::vector<std::string> &list) {
  std::vector<const char *> names;
  for (const std::string &name : list) {
    names.push_back(name.c_str());
  }
  qarn_growable_array collisions;
  collisions.init(sizeof(ovu_case_collision));
  EXPECT_EQ(ovu_find_case_collisions(names.data(), static_cast<int32_t>(names.size()), collisions), 1);
  found_pairs found;
  for (int32_t i = 0; i < collisions.count; i++) {
    const ovu_case_collision *c = static_cast<const ovu_case_collision *>(collisions.at(i));
    found.emplace_back(c->index, c->earlier);
  }
  collisions.release();
  return found;
}

struct list_case {
  const char *what;
  std::vector<std::string> names;
  found_pairs collisions;  // (index, earlier), in list order
};

TEST(case_collisions_test, finds_every_later_spelling_of_a_file) {
  const list_case cases[] = {
      {"empty", {}, {}},
      {"one name", {"a"}, {}},
      {"different names", {"a", "b", "c/a"}, {}},
      {"two spellings", {"data/a", "Data/A"}, {{1, 0}}},
      {"three spellings, the first leads", {"B", "x", "b", "y", "b"}, {{2, 0}, {4, 0}}},
      {"a name given twice is no collision", {"a", "b", "a"}, {}},
      {"a name given again after another spelling", {"a", "A", "a"}, {{1, 0}}},
      {"the separators", {"data/maps/a", "data\\maps\\a"}, {{1, 0}}},
      {"letters beyond ASCII", {"\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", "ete"}, {{1, 0}}},
      {"two groups interleaved", {"a", "b", "B", "A"}, {{2, 1}, {3, 0}}},
  };
  for (const list_case &c : cases) {
    EXPECT_EQ(collisions_of(c.names), c.collisions) << c.what;
  }
}

// Every spelling of one name: the sort still sees each name a bounded
// number of times, and finds them all.
TEST(case_collisions_test, many_spellings_of_one_name_are_all_found) {
  const std::string word = "abcdefghijklmno";
  std::vector<std::string> names;
  for (uint32_t bits = 0; bits < (1u << word.size()); bits++) {
    std::string spelling = word;
    for (size_t i = 0; i < word.size(); i++) {
      if (bits & (1u << i)) {
        spelling[i] = static_cast<char>(spelling[i] - 'a' + 'A');
      }
    }
    names.push_back(spelling);
  }
  found_pairs found = collisions_of(names);
  ASSERT_EQ(found.size(), names.size() - 1);
  for (size_t i = 0; i < found.size(); i++) {
    EXPECT_EQ(found[i], std::make_pair(static_cast<int32_t>(i + 1), 0));
  }
}

}  // namespace
