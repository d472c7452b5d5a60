#include "updater/installed_files_check.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/common/scratch_directory.h"

namespace {

// How an entry's file stands on the disk.
enum class on_disk { as_recorded, missing, other_size, directory };

// A list of entries over |directory_count| directories, each file as
// |state_of| says, with the answers that the check must give.
class installed_files_check_test : public testing::Test {
 protected:
  void make_installation(int32_t count, int directory_count, on_disk (*state_of)(int32_t)) {
    names.resize(static_cast<size_t>(count));
    entries.resize(static_cast<size_t>(count));
    expected.resize(static_cast<size_t>(count));
    for (int d = 0; d < directory_count; d++) {
      std::filesystem::create_directories(dir.file("d" + std::to_string(d)));
    }
    for (int32_t i = 0; i < count; i++) {
      // Names come grouped by directory, as a sorted release lists them.
      int d = static_cast<int>(static_cast<int64_t>(i) * directory_count / count);
      names[i] = "d" + std::to_string(d) + "/f" + std::to_string(i) + ".dat";
      int64_t size = i % 50;
      entries[i] = {const_cast<char *>(names[i].c_str()), nullptr, size, i + 1 < count ? &entries[i + 1] : nullptr};
      on_disk state = state_of(i);
      if (state == on_disk::as_recorded || state == on_disk::other_size) {
        dir.write_filled_file(names[i], state == on_disk::as_recorded ? size : size + 1);
      } else if (state == on_disk::directory) {
        std::filesystem::create_directory(dir.file(names[i]));
      }
      expected[i] = state == on_disk::as_recorded ? 1 : 0;
    }
  }

  std::vector<unsigned char> check(const std::string &base, int32_t count) {
    std::vector<unsigned char> matches(static_cast<size_t>(count) + 1, 7);
    ovu_check_installed_files(base.c_str(), entries.data(), count, matches.data());
    EXPECT_EQ(matches[count], 7) << "nothing past the list is written";
    matches.resize(static_cast<size_t>(count));
    return matches;
  }

  scratch_directory dir;
  std::vector<std::string> names;
  std::vector<ovu_manifest_entry> entries;
  std::vector<unsigned char> expected;
};

// A long list is split in halves: the entries around the split and at both
// ends are wrong in every way, and each answer must land on its own entry.
TEST_F(installed_files_check_test, a_long_list_gets_every_answer_in_its_place) {
  const int32_t count = 3 * OVU_SHARED_CHECK_MIN_ENTRIES + 1;
  static const int32_t half = count / 2;
  make_installation(count, 40, [](int32_t i) {
    const int32_t around_split[] = {0, half - 2, half + 1, 3 * OVU_SHARED_CHECK_MIN_ENTRIES};
    for (int32_t at : around_split) {
      if (i == at) return on_disk::missing;
    }
    if (i == half - 1) return on_disk::other_size;
    if (i == half) return on_disk::directory;
    return i % 97 == 5 ? on_disk::missing : on_disk::as_recorded;
  });
  EXPECT_EQ(check(dir.path().string(), count), expected);
}

TEST_F(installed_files_check_test, a_short_list_and_an_empty_one) {
  const int32_t count = 9;
  make_installation(count, 2, [](int32_t i) {
    const on_disk states[] = {on_disk::as_recorded, on_disk::missing, on_disk::other_size, on_disk::directory};
    return states[i % 4];
  });
  EXPECT_EQ(check(dir.path().string(), count), expected);
  EXPECT_EQ(check(dir.path().string(), 0), std::vector<unsigned char>{});
}

}  // namespace
