// What a release is made of: the listing of a release directory, the names
// the launcher would refuse, and the compressed manifest writer.
#include "tools/release_listing.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "tests/common/file_contents.h"
#include "tests/common/scratch_directory.h"
#include "tools/compressed_writer.h"
#include "tools/file_digest.h"

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
      {"bigger.dat", 2147483648u, "larger than 2147483647 bytes"},
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

// A link in the release directory, and whether the release may keep it.
struct link_case {
  const char *name;    // the link, in the release directory
  const char *target;  // what it holds; "@" stands for the release's real path
  bool refused;
};

std::string with_release_path(const std::string &target, const std::string &release) {
  return target[0] == '@' ? release + target.substr(1) : target;
}

TEST(release_listing_test, refuses_each_link_that_leads_outside_the_release) {
  const link_case cases[] = {
      {"notes.txt", "../release.key", true},
      {"sub/deep.txt", "../../release.key", true},
      {"absolute.txt", "@/../release.key", true},
      {"elsewhere", "..", true},
      {"nowhere.txt", "../missing.txt", true},
      {"through_a_link.txt", "notes.txt", true},
      {"inside.txt", "data/real.txt", false},
      {"sub/up_and_in.txt", "../data/real.txt", false},
      {"absolute_inside.txt", "@/data/real.txt", false},
      {"data_again", "data", false},
      {"dangling_inside.txt", "data/missing.txt", false},
  };
  scratch_directory base;
  std::filesystem::create_directories(base.file("release/data"));
  std::filesystem::create_directories(base.file("release/sub"));
  base.write_file("release.key", "the signing key");
  base.write_file("release/data/real.txt", "real");
  const std::string release = std::filesystem::canonical(base.file("release")).string();
  for (const link_case &c : cases) {
    std::error_code error;
    std::filesystem::create_symlink(with_release_path(c.target, release), base.file("release/" + std::string(c.name)),
                                    error);
    if (error) {
      GTEST_SKIP() << "no links here: " << error.message();
    }
  }
  release_listing listing = list_release(base.file("release"), {});
  EXPECT_EQ(listing.error, "");
  for (const link_case &c : cases) {
    bool refused = false;
    for (const release_problem &problem : listing.problems) {
      if (problem.name == c.name) {
        refused = true;
        EXPECT_EQ(problem.reason, "it is a link that leads outside the release directory");
      }
    }
    EXPECT_EQ(refused, c.refused) << c.name << " -> " << c.target;
  }
  EXPECT_EQ(listing.problems.size(), 6u);
  // Links to files inside count as files; links to directories are not
  // followed, and a link that leads nowhere lists nothing.
  EXPECT_EQ(names_of(listing), (std::vector<std::string>{"absolute_inside.txt", "data/real.txt", "inside.txt",
                                                         "sub/up_and_in.txt"}));
}

TEST(release_listing_test, a_skipped_name_is_not_judged_even_as_a_link) {
  scratch_directory base;
  std::filesystem::create_directories(base.file("release"));
  base.write_file("victim", "victim's bytes");
  std::error_code error;
  std::filesystem::create_symlink("../victim", base.file("release/manifest.lst.z.tmp"), error);
  if (error) {
    GTEST_SKIP() << "no links here: " << error.message();
  }
  release_listing listing = list_release(base.file("release"), {"manifest.lst.z.tmp"});
  EXPECT_TRUE(listing.problems.empty());
  EXPECT_TRUE(listing.files.empty());
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

TEST(compressed_writer_test, its_digest_is_that_of_the_bytes_it_put_in_place) {
  scratch_directory dir;
  std::string path = dir.file("manifest.lst.z");
  std::string why;
  compressed_writer writer;
  ASSERT_TRUE(writer.open(path, compression_format::zlib, &why)) << why;
  // Hex digits of a simple random sequence: about half compressed away.
  std::string text;
  uint64_t state = 1;
  for (int i = 0; i < 20000; i++) {
    state = state * 6364136223846793005u + 1442695040888963407u;
    text += hex_of(reinterpret_cast<const unsigned char *>(&state), sizeof(state)) + "\n";
  }
  ASSERT_TRUE(writer.write(text.data(), text.size(), &why)) << why;
  ASSERT_TRUE(writer.finish(&why)) << why;
  unsigned char on_disk[QARN_SHA256_DIGEST_LEN];
  uint64_t size = 0;
  ASSERT_TRUE(sha256_of_file(path, on_disk, &size, &why)) << why;
  EXPECT_GT(size, 64u * 1024u) << "the file should take more than one output block";
  EXPECT_EQ(hex_of(writer.written_digest(), QARN_SHA256_DIGEST_LEN), hex_of(on_disk, QARN_SHA256_DIGEST_LEN));
}

}  // namespace
