// Creating a file that must be new: it never opens what is already there,
// and never writes through a link planted under the name.
#include "platform/new_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>

#include "tests/common/file_contents.h"
#include "tests/common/scratch_directory.h"

namespace fs = std::filesystem;

namespace {

TEST(new_file_test, creates_the_file_and_writes_to_it) {
  scratch_directory dir;
  FILE *file = platform_create_new_file(dir.file("fresh").c_str());
  ASSERT_NE(file, nullptr);
  std::fputs("new bytes", file);
  ASSERT_EQ(std::fclose(file), 0);
  EXPECT_EQ(read_file(dir.file("fresh")), "new bytes");
}

// What holds the name before the call.
enum class occupant { regular_file, link_to_file, link_to_missing_file };

struct occupied_case {
  const char *what;
  occupant kind;
};

TEST(new_file_test, fails_on_a_taken_name_and_leaves_everything_as_it_was) {
  const occupied_case cases[] = {
      {"a regular file", occupant::regular_file},
      {"a link to a file", occupant::link_to_file},
      {"a link to a missing file", occupant::link_to_missing_file},
  };
  for (const occupied_case &c : cases) {
    SCOPED_TRACE(c.what);
    scratch_directory dir;
    const std::string victim = dir.file("victim");
    const std::string name = dir.file("name.tmp");
    if (c.kind == occupant::regular_file) {
      dir.write_file("name.tmp", "old bytes");
    } else {
      if (c.kind == occupant::link_to_file) {
        dir.write_file("victim", "victim's bytes");
      }
      std::error_code error;
      fs::create_symlink(victim, name, error);
      if (error) {
        std::printf("no links here (%s): %s skipped\n", error.message().c_str(), c.what);
        continue;
      }
    }
    errno = 0;
    FILE *file = platform_create_new_file(name.c_str());
    EXPECT_EQ(file, nullptr);
    if (file != nullptr) {
      std::fputs("written", file);
      std::fclose(file);
    }
    EXPECT_EQ(errno, EEXIST);
    if (c.kind == occupant::regular_file) {
      EXPECT_EQ(read_file(name), "old bytes");
    } else {
      EXPECT_TRUE(fs::is_symlink(name));
      EXPECT_EQ(read_file(victim), c.kind == occupant::link_to_file ? "victim's bytes" : MISSING_FILE_CONTENT);
    }
  }
}

TEST(new_file_test, unlinking_removes_a_file_or_a_link_itself_and_never_a_directory) {
  scratch_directory dir;
  const std::string file = dir.write_file("file", "bytes");
  EXPECT_EQ(platform_unlink_file(file.c_str()), 0);
  EXPECT_FALSE(dir.exists("file"));
  errno = 0;
  EXPECT_EQ(platform_unlink_file(file.c_str()), -1);
  EXPECT_EQ(errno, ENOENT);
  fs::create_directory(dir.file("directory"));
  EXPECT_EQ(platform_unlink_file(dir.file("directory").c_str()), -1);
  EXPECT_TRUE(fs::is_directory(dir.file("directory")));
  const std::string target = dir.write_file("target", "target's bytes");
  std::error_code error;
  fs::create_symlink(target, dir.file("link"), error);
  if (error) {
    GTEST_SKIP() << "no links here: " << error.message();
  }
  EXPECT_EQ(platform_unlink_file(dir.file("link").c_str()), 0);
  EXPECT_FALSE(fs::is_symlink(fs::symlink_status(dir.file("link"))));
  EXPECT_EQ(read_file(target), "target's bytes");
}

TEST(new_file_test, a_missing_directory_fails) {
  scratch_directory dir;
  errno = 0;
  EXPECT_EQ(platform_create_new_file(dir.file("no/such/dir/file").c_str()), nullptr);
  EXPECT_EQ(errno, ENOENT);
}

#ifndef _WIN32
// The file is as readable as one that fopen makes: the manifest that the
// publisher writes is served by a web server that runs as another user.
TEST(new_file_test, gets_the_permissions_that_fopen_gives) {
  scratch_directory dir;
  FILE *file = platform_create_new_file(dir.file("new").c_str());
  ASSERT_NE(file, nullptr);
  std::fclose(file);
  dir.write_file("by_fopen", "");
  EXPECT_EQ(fs::status(dir.file("new")).permissions(), fs::status(dir.file("by_fopen")).permissions());
}
#endif

}  // namespace
