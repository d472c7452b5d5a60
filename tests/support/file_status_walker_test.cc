#include "support/file_status_walker.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "platform/file_system.h"
#include "support/file_system.h"
#include "tests/common/current_directory.h"
#include "tests/common/scratch_directory.h"

namespace fs = std::filesystem;

namespace {

// What a name under the installation is.
struct walker_case {
  const char *name;
  bool found;
  bool regular_file;
  int64_t size;
};

// Files and directories are made through the platform's calls, which take
// UTF-8 names on every system.
void make_directory(const std::string &path) { ASSERT_EQ(platform_mkdir(path.c_str(), QARN_DIRECTORY_MODE), 0) << path; }

void make_file(const std::string &path, int64_t size) {
  FILE *file = platform_fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr) << path;
  for (int64_t i = 0; i < size; i++) {
    std::fputc('x', file);
  }
  std::fclose(file);
}

// The installation's tree: files at every depth, a directory left and
// come back to, names in UTF-8 beyond ASCII, an empty file.
const walker_case TREE_FILES[] = {
    {"top.dat", true, true, 3},
    {"a/one.dat", true, true, 10},
    {"a/b/two.dat", true, true, 20},
    {"a/b/c/three.dat", true, true, 30},
    {"a/four.dat", true, true, 40},
    {"\xc3\x84rger/\xc3\xa9p\xc3\xa9\x65.dat", true, true, 5},
    {"\xe6\x97\xa5\xe6\x9c\xac/\xe3\x83\x87\xe3\x83\xbc\xe3\x82\xbf.dat", true, true, 6},
    {"empty.dat", true, true, 0},
};

// Names that find no file, or not a file.
const walker_case ABSENT_OR_NOT_FILES[] = {
    {"missing.dat", false, false, 0},
    {"a/missing.dat", false, false, 0},
    {"a/b/c/d/missing.dat", false, false, 0},
    {"no_dir/x.dat", false, false, 0},
    {"top.dat/x.dat", false, false, 0},  // a file where a directory would be
    {"\xc3\x84rger/missing.dat", false, false, 0},
    {"a", true, false, 0},
};

class file_status_walker_test : public testing::Test {
 protected:
  void SetUp() override {
    root = dir.file("installation");
    make_directory(root);
    for (const char *directory : {"a", "a/b", "a/b/c", "\xc3\x84rger", "\xe6\x97\xa5\xe6\x9c\xac"}) {
      make_directory(root + "/" + directory);
    }
    for (const walker_case &c : TREE_FILES) {
      make_file(root + "/" + c.name, c.size);
    }
  }

  // Asks the walker for every case in |cases|, in order, and checks its
  // answers against the case and against the status of the whole path.
  void check_cases(qarn_file_status_walker &walker, const std::vector<walker_case> &cases, const std::string &base) {
    for (const walker_case &c : cases) {
      qarn_file_info info = {-1, -1, -1, -1};
      int found = walker.get_file_info(c.name, &info);
      EXPECT_EQ(found, c.found ? 1 : 0) << c.name;
      qarn_file_info whole = {-1, -1, -1, -1};
      std::string path = base.empty() ? c.name : base + "/" + c.name;
      EXPECT_EQ(found, qarn_filename_get_file_info(path.c_str(), &whole)) << c.name;
      if (!found) {
        EXPECT_EQ(info.size, -1) << c.name << ": left unchanged";
        continue;
      }
      EXPECT_EQ(info.is_regular_file, c.regular_file ? 1 : 0) << c.name;
      EXPECT_EQ(info.is_directory, whole.is_directory) << c.name;
      EXPECT_EQ(info.modification_time, whole.modification_time) << c.name;
      if (c.regular_file) {
        EXPECT_EQ(info.size, c.size) << c.name;
      }
    }
  }

  // A link at |link| to |target|; false, with a note, where the system
  // makes none.
  static bool make_link(const std::string &target, const std::string &link, bool to_directory) {
    std::error_code error;
    if (to_directory) {
      fs::create_directory_symlink(target, link, error);
    } else {
      fs::create_symlink(target, link, error);
    }
    if (error) {
      std::printf("no links here (%s): link cases skipped\n", error.message().c_str());
      return false;
    }
    return true;
  }

  scratch_directory dir;
  std::string root;
};

std::vector<walker_case> all_cases() {
  std::vector<walker_case> cases(std::begin(TREE_FILES), std::end(TREE_FILES));
  cases.insert(cases.end(), std::begin(ABSENT_OR_NOT_FILES), std::end(ABSENT_OR_NOT_FILES));
  return cases;
}

TEST_F(file_status_walker_test, files_at_every_depth_and_missing_ones_in_either_order) {
  std::vector<walker_case> cases = all_cases();
  {
    qarn_file_status_walker walker(root.c_str());
    check_cases(walker, cases, root);
  }
  std::vector<walker_case> reversed(cases.rbegin(), cases.rend());
  qarn_file_status_walker walker(root.c_str());
  check_cases(walker, reversed, root);
}

TEST_F(file_status_walker_test, an_empty_base_is_the_current_directory) {
  current_directory_change inside(root);
  qarn_file_status_walker walker("");
  check_cases(walker, all_cases(), "");
  qarn_file_status_walker null_base(nullptr);
  check_cases(null_base, all_cases(), "");
}

// A player who moved a directory elsewhere and left a link in its place
// keeps the files: the link is followed, as a status of the whole path
// follows it. So are links to files; a link to nothing is no file.
TEST_F(file_status_walker_test, links_are_followed_wherever_they_are) {
  make_directory(dir.file("elsewhere"));
  make_directory(root + "/moved");
  make_file(root + "/moved/file.dat", 7);
  std::error_code error;
  fs::rename(fs::u8path(root + "/moved"), fs::u8path(dir.file("elsewhere") + "/moved"), error);
  ASSERT_FALSE(error) << error.message();
  if (!make_link(dir.file("elsewhere") + "/moved", root + "/moved", true) ||
      !make_link("../top.dat", root + "/a/link.dat", false) ||
      !make_link(root + "/gone.dat", root + "/dangling.dat", false)) {
    GTEST_SKIP();
  }
  const std::vector<walker_case> cases = {
      {"moved/file.dat", true, true, 7},
      {"a/link.dat", true, true, 3},
      {"a/one.dat", true, true, 10},
      {"dangling.dat", false, false, 0},
      {"moved/missing.dat", false, false, 0},
      {"moved", true, false, 0},
  };
  qarn_file_status_walker walker(root.c_str());
  check_cases(walker, cases, root);
}

// Bytes that are no UTF-8 are a name like any other where the system takes
// them (Windows refuses such a name, for the walker as for every call).
TEST_F(file_status_walker_test, names_of_any_bytes_where_the_system_takes_them) {
  const char name[] = "bytes\xff\xfe/\x80\x01.dat";
  qarn_file_status_walker walker(root.c_str());
  if (platform_has_windows_file_names()) {
    check_cases(walker, {{name, false, false, 0}}, root);
    return;
  }
  make_directory(root + "/bytes\xff\xfe");
  make_file(root + "/" + name, 9);
  check_cases(walker, {{name, true, true, 9}, {"bytes\xff\xfe/\x80\x02.dat", false, false, 0}}, root);
}

// Names grouped by directory open each directory once; names that go
// round more directories than the walker holds still get every answer
// right.
TEST_F(file_status_walker_test, each_directory_is_opened_once_for_names_grouped_by_it) {
  const int directory_count = QARN_WALKER_OPEN_DIRECTORIES + 4;
  const int files_per_directory = 5;
  std::vector<std::string> names;
  for (int d = 0; d < directory_count; d++) {
    make_directory(root + "/d" + std::to_string(d));
    for (int f = 0; f < files_per_directory; f++) {
      names.push_back("d" + std::to_string(d) + "/f" + std::to_string(f));
      make_file(root + "/" + names.back(), d * 10 + f);
    }
  }
  qarn_file_status_walker grouped(root.c_str());
  for (const std::string &name : names) {
    qarn_file_info info;
    ASSERT_EQ(grouped.get_file_info(name.c_str(), &info), 1) << name;
  }
  EXPECT_EQ(grouped.opened_count(), directory_count);

  qarn_file_status_walker round(root.c_str());
  for (int f = 0; f < files_per_directory; f++) {
    for (int d = 0; d < directory_count; d++) {
      std::string name = "d" + std::to_string(d) + "/f" + std::to_string(f);
      qarn_file_info info;
      ASSERT_EQ(round.get_file_info(name.c_str(), &info), 1) << name;
      EXPECT_EQ(info.size, d * 10 + f) << name;
    }
  }
  EXPECT_EQ(round.opened_count(), directory_count * files_per_directory) << "round the held ones, each is gone again";
}

}  // namespace
