// The coalesced file writer: runs of bytes that follow each other in memory
// go to the file as one write, at the latest on flush; everything appended
// reaches the file in order and byte for byte.
#include "http/coalesced_file_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/common/file_contents.h"
#include "tests/common/scratch_directory.h"

namespace {

// One append: |length| bytes from |offset| of the source buffer; |written|
// is how many bytes the file holds right after it (the file is unbuffered,
// so that this shows when the writer writes).
struct append_step {
  size_t offset;
  int32_t length;
  size_t written;
};

struct writer_case {
  const char *name;
  std::vector<append_step> steps;
  std::string expected;  // the file after the final flush
};

class coalesced_file_writer_test : public testing::Test {
 protected:
  scratch_directory scratch_;
};

TEST_F(coalesced_file_writer_test, adjacent_runs_are_written_together_and_in_order) {
  const std::string source = "0123456789abcdefghijklmnopqrstuvwxyz";
  const writer_case cases[] = {
      {"one piece waits for the flush", {{0, 4, 0}}, "0123"},
      {"adjacent pieces wait as one run", {{0, 4, 0}, {4, 4, 0}, {8, 2, 0}}, "0123456789"},
      {"a gap writes the run before it", {{0, 4, 0}, {4, 4, 0}, {10, 3, 8}}, "01234567abc"},
      {"a piece before the run is not joined", {{10, 3, 0}, {0, 2, 3}, {2, 2, 3}}, "abc0123"},
      {"the same bytes twice are two runs", {{0, 3, 0}, {0, 3, 3}}, "012012"},
      {"nothing appended writes nothing", {}, ""},
  };
  for (const writer_case &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = scratch_.file("out.bin");
    std::FILE *file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::setvbuf(file, nullptr, _IONBF, 0);
    qarn_coalesced_file_writer writer;
    for (const append_step &step : c.steps) {
      EXPECT_EQ(writer.append(file, source.data() + step.offset, step.length), 1);
      EXPECT_EQ(std::filesystem::file_size(path), step.written);
      EXPECT_TRUE(writer.has_pending());
    }
    EXPECT_EQ(writer.flush(file), 1);
    EXPECT_FALSE(writer.has_pending());
    EXPECT_EQ(writer.flush(file), 1);  // a second flush has nothing to write
    std::fclose(file);
    EXPECT_EQ(read_file(path), c.expected);
  }
}

TEST_F(coalesced_file_writer_test, a_short_write_is_reported_and_nothing_stays_pending) {
#ifdef _WIN32
  GTEST_SKIP() << "needs a device that refuses writes";
#else
  if (!std::filesystem::exists("/dev/full")) {
    GTEST_SKIP() << "needs /dev/full";
  }
  const std::string source(100, 's');
  std::FILE *file = std::fopen("/dev/full", "wb");
  ASSERT_NE(file, nullptr);
  std::setvbuf(file, nullptr, _IONBF, 0);
  qarn_coalesced_file_writer writer;
  EXPECT_EQ(writer.append(file, source.data(), 50), 1);
  EXPECT_EQ(writer.append(file, source.data(), 10), 0);  // writing the first run fails
  EXPECT_FALSE(writer.has_pending());
  EXPECT_EQ(writer.append(file, source.data(), 10), 1);
  EXPECT_EQ(writer.flush(file), 0);
  EXPECT_FALSE(writer.has_pending());
  std::fclose(file);
#endif
}

}  // namespace
