// Flushing a whole file system: Linux has it, and it reports a path it
// cannot open; Windows has it not, and says so.
#include "platform/file_sync.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "tests/common/scratch_directory.h"

namespace {

TEST(file_sync_test, flushes_the_file_system_of_a_directory_where_the_system_can) {
  scratch_directory dir;
  dir.write_file("written", "bytes");
#if defined(__linux__)
  ASSERT_EQ(platform_can_flush_file_systems(), 1);
#else
  ASSERT_EQ(platform_can_flush_file_systems(), 0);
#endif
  if (platform_can_flush_file_systems()) {
    EXPECT_EQ(platform_flush_file_system(dir.path().string().c_str()), 0);
    EXPECT_EQ(platform_flush_file_system(dir.file("written").c_str()), 0);
    errno = 0;
    EXPECT_EQ(platform_flush_file_system(dir.file("missing").c_str()), -1);
    EXPECT_EQ(errno, ENOENT);
  } else {
    errno = 0;
    EXPECT_EQ(platform_flush_file_system(dir.path().string().c_str()), -1);
    EXPECT_EQ(errno, ENOSYS);
  }
}

}  // namespace
