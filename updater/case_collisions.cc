#include "updater/case_collisions.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "updater/file_name_case.h"

namespace {

struct sort_key {
  uint32_t hash;  // ovu_name_case_hash of the name
  int32_t index;
};

// Orders by hash, then by the names ignoring case, then by position: the
// names that are one file on Windows end up side by side, the first of
// them in the list leading. Texts are compared only where hashes tie.
class key_order {
 public:
  explicit key_order(const char *const *names) : names_(names) {}
  bool operator()(const sort_key &a, const sort_key &b) const {
    if (a.hash != b.hash) {
      return a.hash < b.hash;
    }
    int order = ovu_compare_names_ignoring_case(names_[a.index], names_[b.index]);
    if (order != 0) {
      return order < 0;
    }
    return a.index < b.index;
  }

 private:
  const char *const *names_;
};

bool by_index(const ovu_case_collision &a, const ovu_case_collision &b) { return a.index < b.index; }

}  // namespace

int ovu_find_case_collisions(const char *const *names, int32_t count, qarn_growable_array &collisions) {
  if (count < 2) {
    return 1;
  }
  sort_key *keys = static_cast<sort_key *>(std::malloc(sizeof(sort_key) * static_cast<size_t>(count)));
  if (keys == nullptr) {
    return 0;
  }
  for (int32_t i = 0; i < count; i++) {
    keys[i] = {ovu_name_case_hash(names[i]), i};
  }
  std::sort(keys, keys + count, key_order(names));
  int32_t first_found = collisions.count;
  int stored = 1;
  int32_t leader = 0;
  for (int32_t k = 1; k < count && stored; k++) {
    const char *leading_name = names[keys[leader].index];
    const char *name = names[keys[k].index];
    if (keys[k].hash != keys[leader].hash || ovu_compare_names_ignoring_case(name, leading_name) != 0) {
      leader = k;
    } else if (std::strcmp(name, leading_name) != 0) {
      ovu_case_collision found = {keys[k].index, keys[leader].index};
      stored = collisions.append(&found);
    }
  }
  std::free(keys);
  if (collisions.count - first_found > 1) {
    ovu_case_collision *found = static_cast<ovu_case_collision *>(collisions.at(first_found));
    std::sort(found, found + (collisions.count - first_found), by_index);
  }
  return stored;
}
