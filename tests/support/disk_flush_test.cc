// The two steps that make a batch of new files durable: on each system
// exactly one of them does the work, and tests can put their own calls in
// place of the system's.
#include "support/disk_flush.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/file_sync.h"
#include "tests/common/file_contents.h"
#include "tests/common/scratch_directory.h"

namespace {

TEST(disk_flush_test, each_system_does_the_work_in_one_of_the_two_steps) {
  scratch_directory dir;
  const std::string file = dir.write_file("new", "bytes");
  const std::string directory = dir.path().string();
  EXPECT_EQ(qarn_flush_new_file(file.c_str()), 0);
  EXPECT_EQ(qarn_flush_new_files(directory.c_str()), 0);
  EXPECT_EQ(read_file(file), "bytes");
  // A missing path fails in the step that does the work, and only there.
  const std::string missing = dir.file("missing");
  const bool whole_file_systems = platform_can_flush_file_systems() == 1;
  EXPECT_EQ(qarn_flush_new_file(missing.c_str()), whole_file_systems ? 0 : -1);
  EXPECT_EQ(qarn_flush_new_files(missing.c_str()), whole_file_systems ? -1 : 0);
  EXPECT_FALSE(dir.exists("missing"));
}

TEST(disk_flush_test, flushes_an_open_stream) {
  scratch_directory dir;
  FILE *file = std::fopen(dir.file("stream").c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fputs("buffered", file);
  EXPECT_EQ(qarn_flush_to_disk(file), 0);
  EXPECT_EQ(read_file(dir.file("stream")), "buffered");
  std::fclose(file);
}

std::vector<std::string> g_calls;

int record_stream(FILE *) {
  g_calls.push_back("stream");
  return -1;
}
int record_file(const char *path) {
  g_calls.push_back(std::string("file ") + path);
  return -1;
}
int record_files(const char *path) {
  g_calls.push_back(std::string("files ") + path);
  return -1;
}

TEST(disk_flush_test, tests_put_their_own_calls_in_place_and_take_them_out) {
  const qarn_disk_flush_calls failing = {record_stream, record_file, record_files};
  g_calls.clear();
  qarn_set_disk_flush_calls(&failing);
  EXPECT_EQ(qarn_flush_to_disk(stdout), -1);
  EXPECT_EQ(qarn_flush_new_file("a/file"), -1);
  EXPECT_EQ(qarn_flush_new_files("a"), -1);
  qarn_set_disk_flush_calls(nullptr);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"stream", "file a/file", "files a"}));
  scratch_directory dir;
  const std::string directory = dir.path().string();
  EXPECT_EQ(qarn_flush_new_files(directory.c_str()), 0);
  EXPECT_EQ(g_calls.size(), 3u);
}

}  // namespace
