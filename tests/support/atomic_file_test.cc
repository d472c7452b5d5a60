#include "support/atomic_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "support/disk_flush.h"
#include "tests/common/file_contents.h"
#include "tests/common/scratch_directory.h"

namespace fs = std::filesystem;

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

// What someone left under the temporary file's name before the writer came.
enum class planted { stale_file, link_to_victim, link_to_missing_victim, hard_link_to_victim };

struct planted_case {
  const char *what;
  planted kind;
};

TEST(atomic_file_test, what_holds_the_temporary_name_is_replaced_and_never_written_through) {
  const planted_case cases[] = {
      {"a stale temporary file", planted::stale_file},
      {"a link to a victim file", planted::link_to_victim},
      {"a link to where a victim file would be made", planted::link_to_missing_victim},
      {"a second name of a victim file", planted::hard_link_to_victim},
  };
  for (const planted_case &c : cases) {
    SCOPED_TRACE(c.what);
    scratch_directory dir;
    const std::string path = dir.write_file("data.txt", "old");
    const std::string temporary = dir.file("data.txt.tmp");
    const std::string victim = dir.file("victim");
    if (c.kind != planted::link_to_missing_victim) {
      dir.write_file("victim", "victim's bytes");
    }
    std::error_code error;
    if (c.kind == planted::stale_file) {
      dir.write_file("data.txt.tmp", "stale bytes, longer than the new ones");
    } else if (c.kind == planted::hard_link_to_victim) {
      fs::create_hard_link(victim, temporary, error);
    } else {
      fs::create_symlink(victim, temporary, error);
    }
    if (error) {
      std::printf("no such links here (%s): %s skipped\n", error.message().c_str(), c.what);
      continue;
    }
    qarn_atomic_file file;
    FILE *out = file.open(path.c_str());
    ASSERT_NE(out, nullptr);
    std::fputs("new", out);
    EXPECT_EQ(file.commit(), 1);
    EXPECT_EQ(read_file(path), "new");
    EXPECT_FALSE(fs::is_symlink(path));
    EXPECT_FALSE(dir.exists("data.txt.tmp"));
    EXPECT_EQ(read_file(victim), c.kind == planted::link_to_missing_victim ? MISSING_FILE_CONTENT : "victim's bytes");
  }
}

int failing_flush(FILE *) { return -1; }

// The disk refuses the bytes: the rename must not happen, or the name
// would hold a file that is not on the disk.
TEST(atomic_file_test, a_failing_flush_to_disk_fails_the_commit_and_keeps_the_old_file) {
  scratch_directory dir;
  std::string path = dir.write_file("data.txt", "old");
  qarn_disk_flush_calls failing = {};
  failing.flush_to_disk = failing_flush;
  qarn_set_disk_flush_calls(&failing);
  qarn_atomic_file file;
  FILE *out = file.open(path.c_str());
  ASSERT_NE(out, nullptr);
  std::fputs("new content", out);
  int committed = file.commit();
  qarn_set_disk_flush_calls(nullptr);
  EXPECT_EQ(committed, 0);
  EXPECT_EQ(read_file(path), "old");
  EXPECT_FALSE(dir.exists("data.txt.tmp"));
}

}  // namespace
