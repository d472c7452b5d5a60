// The store of partial files: which planned entries get a slot, which kept
// files survive the preparation before the downloads, and which are
// removed.
#include "updater/partial_downloads.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/common/file_contents.h"
#include "tests/common/scratch_directory.h"

namespace {

const std::string TOKEN_A(64, 'a');
const std::string TOKEN_B(64, 'b');

// Entries that the plan points to; their texts live in the strings.
struct planned {
  std::string name;
  std::string hash;
  int64_t size;
};

class partial_downloads_test : public testing::Test {
 protected:
  // Prepares |store| for |files| as install_files does.
  void prepare(ovu_partial_downloads &store, const std::vector<planned> &files, bool verified = true) {
    std::filesystem::create_directories(dir_.path() / "tmp");  // as set_temporary_file makes it
    entries_.assign(files.size(), ovu_manifest_entry());
    qarn_growable_array plan;
    plan.init(sizeof(ovu_manifest_entry *));
    for (size_t i = 0; i < files.size(); i++) {
      texts_.push_back(files[i].name);
      entries_[i].name = const_cast<char *>(texts_.back().c_str());
      texts_.push_back(files[i].hash);
      entries_[i].hash = const_cast<char *>(texts_.back().c_str());
      entries_[i].size = files[i].size;
      entries_[i].next = nullptr;
      const ovu_manifest_entry *pointer = &entries_[i];
      ASSERT_EQ(plan.append(&pointer), 1);
    }
    store.prepare(temporary_.c_str(), plan, verified);
    plan.release();
  }
  // Keeps |bytes| as the broken download of entry |index|.
  void keep(const ovu_partial_downloads &store, size_t index, const std::string &bytes) {
    int32_t slot = store.slot_of(&entries_[index]);
    ASSERT_GE(slot, 0);
    write_file(temporary_, bytes);
    ASSERT_EQ(store.keep(slot, temporary_.c_str()), 1);
  }
  int64_t kept(const ovu_partial_downloads &store, size_t index) const {
    int32_t slot = store.slot_of(&entries_[index]);
    return slot < 0 ? -1 : store.kept_length(slot);
  }
  std::vector<std::string> partial_files() const {
    std::vector<std::string> names;
    std::filesystem::path directory = dir_.path() / "tmp" / OVU_PARTIAL_DIRECTORY;
    if (std::filesystem::is_directory(directory)) {
      for (const auto &file : std::filesystem::directory_iterator(directory)) {
        if (file.path().extension() == ".part") {
          names.push_back(file.path().filename().string());
        }
      }
    }
    return names;
  }

  scratch_directory dir_;
  std::string temporary_ = dir_.file("tmp/update.tmp");
  std::vector<ovu_manifest_entry> entries_;
  std::deque<std::string> texts_;  // the entries' texts: a deque keeps them in place
};

TEST_F(partial_downloads_test, TheEightLargestVerifiableEntriesGetTheSlots) {
  std::vector<planned> files;
  for (int i = 0; i < 12; i++) {
    files.push_back({"f" + std::to_string(i), TOKEN_A, 100 + i});
  }
  files.push_back({"huge but no SHA-256", "0123456789abcdef0123456789abcdef", 100000});
  files.push_back({"one byte", TOKEN_A, 1});
  ovu_partial_downloads store;
  prepare(store, files);
  for (size_t i = 0; i < files.size(); i++) {
    SCOPED_TRACE(files[i].name);
    const bool among_largest = i >= 4 && i < 12;
    EXPECT_EQ(store.slot_of(&entries_[i]) >= 0, among_largest);
  }
  EXPECT_TRUE(partial_files().empty()) << "a store with nothing kept was filled";
}

TEST_F(partial_downloads_test, AtMostEightPartialFilesAreKept) {
  std::vector<planned> files;
  for (int i = 0; i < 10; i++) {
    files.push_back({"f" + std::to_string(i), TOKEN_A, 1000});
  }
  ovu_partial_downloads store;
  prepare(store, files);
  int kept_files = 0;
  for (size_t i = 0; i < files.size(); i++) {
    if (store.slot_of(&entries_[i]) >= 0) {
      keep(store, i, std::string(10 + i, 'x'));
      kept_files++;
    }
  }
  EXPECT_EQ(kept_files, OVU_PARTIAL_SLOTS);
  EXPECT_EQ(partial_files().size(), static_cast<size_t>(OVU_PARTIAL_SLOTS));
}

TEST_F(partial_downloads_test, AKeptFileSurvivesOnlyForItsUnchangedEntry) {
  const std::vector<planned> release = {{"a", TOKEN_A, 1000}, {"b", TOKEN_A, 1000}, {"c", TOKEN_A, 1000}};
  ovu_partial_downloads first;
  prepare(first, release);
  keep(first, 0, "aaa");
  keep(first, 1, "bbbb");
  keep(first, 2, "ccccc");
  ASSERT_EQ(partial_files().size(), 3u);

  // The next run: "a" is unchanged, "b" has another hash token, "c"
  // another size, and "d" is new.
  ovu_partial_downloads next;
  prepare(next, {{"d", TOKEN_A, 1000}, {"c", TOKEN_A, 1001}, {"b", TOKEN_B, 1000}, {"a", TOKEN_A, 1000}});
  EXPECT_EQ(kept(next, 3), 3);
  EXPECT_EQ(kept(next, 2), 0);
  EXPECT_EQ(kept(next, 1), 0);
  EXPECT_EQ(kept(next, 0), 0);
  EXPECT_EQ(partial_files().size(), 1u);
}

TEST_F(partial_downloads_test, AnUnverifiedReleaseKeepsNothingAndClearsTheStore) {
  ovu_partial_downloads first;
  prepare(first, {{"a", TOKEN_A, 1000}});
  keep(first, 0, "aaa");
  ovu_partial_downloads next;
  prepare(next, {{"a", TOKEN_A, 1000}}, false);
  EXPECT_EQ(next.slot_of(&entries_[0]), -1);
  EXPECT_TRUE(partial_files().empty());
}

TEST_F(partial_downloads_test, AFileThatCannotBeResumedIsRemoved) {
  ovu_partial_downloads store;
  prepare(store, {{"a", TOKEN_A, 4}});
  keep(store, 0, "abcd");  // as long as the whole file: nothing left to ask for
  EXPECT_EQ(kept(store, 0), 0);
  EXPECT_TRUE(partial_files().empty());
  keep(store, 0, "abc");
  EXPECT_EQ(kept(store, 0), 3);
  store.forget(store.slot_of(&entries_[0]));
  EXPECT_TRUE(partial_files().empty());
}

}  // namespace
