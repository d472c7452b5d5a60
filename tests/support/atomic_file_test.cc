#include "support/atomic_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/common/file_contents.h"
#include "tests/common/scratch_directory.h"

namespace {

TEST(atomic_file_test, the_file_appears_whole_only_at_commit) {
  scratch_directory dir;
  std::string path = dir.write_file("data.txt", "old");
  qarn_atomic_file file;
  FILE *out = file.open(path.c_str());
  ASSERT_NE(out, nullptr);
  std::fputs("new content", out);
  EXPECT_EQ(read_file(path), "old");
  EXPECT_TRUE(dir.exists("data.txt.tmp"));
  EXPECT_EQ(file.commit(), 1);
  EXPECT_EQ(read_file(path), "new content");
  EXPECT_FALSE(dir.exists("data.txt.tmp"));
}

TEST(atomic_file_test, creates_a_file_that_did_not_exist) {
  scratch_directory dir;
  qarn_atomic_file file;
  FILE *out = file.open(dir.file("fresh").c_str());
  ASSERT_NE(out, nullptr);
  std::fputs("x", out);
  EXPECT_EQ(file.commit(), 1);
  EXPECT_EQ(read_file(dir.file("fresh")), "x");
}

TEST(atomic_file_test, abandoning_or_destroying_leaves_the_old_file_and_no_temporary) {
  scratch_directory dir;
  std::string path = dir.write_file("data.txt", "old");
  {
    qarn_atomic_file file;
    std::fputs("half", file.open(path.c_str()));
    file.abandon();
    EXPECT_EQ(file.commit(), 0);
  }
  {
    qarn_atomic_file file;
    std::fputs("half", file.open(path.c_str()));
  }
  EXPECT_EQ(read_file(path), "old");
  EXPECT_FALSE(dir.exists("data.txt.tmp"));
}

TEST(atomic_file_test, a_failed_replacement_keeps_the_old_one) {
  scratch_directory dir;
  std::string path = dir.file("a_directory");
  std::filesystem::create_directory(path);
  qarn_atomic_file file;
  FILE *out = file.open(path.c_str());
  ASSERT_NE(out, nullptr);
  std::fputs("x", out);
  EXPECT_EQ(file.commit(), 0);
  EXPECT_TRUE(std::filesystem::is_directory(path));
  EXPECT_FALSE(dir.exists("a_directory.tmp"));
  // No directory to write in.
  qarn_atomic_file nowhere;
  EXPECT_EQ(nowhere.open(dir.file("missing/dir/file").c_str()), nullptr);
  EXPECT_EQ(nowhere.commit(), 0);
}

}  // namespace
