// What a release is made of: the listing of a release directory, the names
// the launcher would refuse, and the compressed manifest writer.
#include "tools/release_listing.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/common/file_contents.h"
#include "tests/common/scratch_directory.h"
#include "tools/compressed_writer.h"

namespace {

std::vector<std::string> names_of(const release_listing &listing) {
  std::vector<std::string> names;
  for (const release_file &file : listing.files) {
    names.push_back(file.name);
  }
  return names;
}

TEST(release_listing_test, lists_every_regular_file_sorted_by_its_bytes) {
  scratch_directory dir;
  std::filesystem::create_directories(dir.file("b/deep/er"));
  std::filesystem::create_directories(dir.file("empty dir"));
  dir.write_file("b/deep/er/z.dat", "zz");
  dir.write_file("b/a.txt", "a");
  dir.write_file("B.txt", "B");
  dir.write_file("a b.txt", "ab");
  dir.write_file("manifest.lst.z", "old manifest");
  dir.write_file("manifest.lst.z.tmp", "half manifest");
  release_listing listing = list_release(dir.path().string(), {"manifest.lst.z", "manifest.lst.z.tmp"});
  EXPECT_EQ(listing.error, "");
  EXPECT_TRUE(listing.problems.empty());
  EXPECT_EQ(names_of(listing), (std::vector<std::string>{"B.txt", "a b.txt", "b/a.txt", "b/deep/er/z.dat"}));
  EXPECT_EQ(listing.files[3].size, 2u);
}

TEST(release_listing_test, a_missing_directory_is_an_error) {
  scratch_directory dir;
  release_listing listing = list_release(dir.file("absent"), {});
  EXPECT_NE(listing.error.find("cannot read"), std::string::npos);
}

struct name_case {
  const char *name;
  uint64_t size;
  const char *problem;  // "" when the launcher can install it
};

TEST(release_listing_test, finds_what_the_launcher_would_refuse) {
  const name_case cases[] = {
      {"data/level 1.map", 10, ""},
      {"big.dat", 2147483647u, ""},
      {"two GiB.dat", 2147483648u, ""},
      {"two GiB and one byte.dat", 2147483649u, ""},
      {"four GiB and five bytes.dat", 4294967301u, ""},
      {"largest.dat", 1099511627776u, ""},
      {"larger.dat", 1099511627777u, "larger than 1099511627776 bytes"},
      {"far larger.dat", 18446744073709551615u, "larger than 1099511627776 bytes"},
      {"a\nb", 1, "its name holds a line feed"},
      {"a\rb", 1, "its name holds a carriage return"},
      {" lead", 1, "its name starts with a blank"},
      {"\tlead", 1, "its name starts with a blank"},
      {"../up", 1, "unsafe name ('..' path component)"},
      {"c:drive", 1, "unsafe name (drive or stream colon)"},
      {"dir/con.txt", 1, "unsafe name (reserved device name)"},
      {"update_manifest.lst", 1, "the launcher keeps a file of that name in every installation"},
      {"torvane_updater_lock.tmp", 1, "the launcher keeps a file of that name in every installation"},
      {"tmp/update.tmp", 1, "the launcher keeps a file of that name in every installation"},
  };
  for (const name_case &c : cases) {
    EXPECT_EQ(release_name_problem(c.name, c.size), c.problem) << c.name;
  }
  EXPECT_EQ(release_name_problem(std::string("a\0b", 3), 1), "its name holds a NUL character");
}

TEST(compressed_writer_test, the_manifest_appears_only_when_finished) {
  scratch_directory dir;
  std::string path = dir.write_file("manifest.lst.z", "old");
  std::string why;
  {
    compressed_writer writer;
    ASSERT_TRUE(writer.open(path, compression_format::zlib, &why)) << why;
    ASSERT_TRUE(writer.write("line\n", 5, &why)) << why;
    EXPECT_EQ(read_file(path), "old");
  }
  EXPECT_EQ(read_file(path), "old");
  EXPECT_FALSE(dir.exists("manifest.lst.z.tmp"));
  compressed_writer writer;
  ASSERT_TRUE(writer.open(path, compression_format::gzip, &why)) << why;
  ASSERT_TRUE(writer.write("line\n", 5, &why)) << why;
  ASSERT_TRUE(writer.finish(&why)) << why;
  std::string written = read_file(path);
  ASSERT_GE(written.size(), 2u);
  EXPECT_EQ(static_cast<unsigned char>(written[0]), 0x1f);  // gzip's magic
  EXPECT_EQ(static_cast<unsigned char>(written[1]), 0x8b);
  EXPECT_FALSE(dir.exists("manifest.lst.z.tmp"));
}

}  // namespace
