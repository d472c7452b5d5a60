// What a release is made of: the listing of a release directory, the names
// the launcher would refuse, and the compressed manifest writer.
#include "tools/release_listing.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <utility>
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

// The release directory and its files are named beyond ASCII; names are
// UTF-8 both ways, also on Windows.
TEST(release_listing_test, a_directory_named_beyond_ascii_lists_its_names_as_utf8) {
  scratch_directory dir;
  const std::filesystem::path release = dir.path() / std::filesystem::u8path(u8"Veröffentlichung-😀");
  std::filesystem::create_directories(release / std::filesystem::u8path(u8"Grüße"));
  for (const char *name : {u8"café.txt", u8"Grüße/🎲.dat"}) {
    std::ofstream file(release / std::filesystem::u8path(name));  // wide on Windows
    ASSERT_TRUE(file.is_open()) << name;
  }
  release_listing listing = list_release(release.u8string(), {});
  EXPECT_EQ(listing.error, "");
  EXPECT_TRUE(listing.problems.empty());
  EXPECT_EQ(names_of(listing), (std::vector<std::string>{u8"Grüße/🎲.dat", u8"café.txt"}));
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

const char LAUNCHER_FILE[] = "the launcher keeps a file or folder of that name in every installation";
const char WINDOWS_CHARACTER[] = "unsafe name (character reserved by Windows)";
const char DEVICE[] = "unsafe name (reserved device name)";
const char TOO_LONG[] = "its line in the local manifest would be longer than 1023 characters";

TEST(release_listing_test, finds_what_the_launcher_would_refuse) {
  const name_case cases[] = {
      {"data/level 1.map", 10, ""},
      {"big.dat", 2147483647u, ""},
      {"100%.txt", 1, ""},
      {"a#b.txt", 1, ""},
      {"caf\xC3\xA9.txt", 1, ""},
      {"data/tmp/a", 1, ""},
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
      {"./here", 1, "unsafe name ('.' path component)"},
      {"c:drive", 1, "unsafe name (drive or stream colon)"},
      {"dir/con.txt", 1, DEVICE},
      {"COM0", 1, DEVICE},
      {"lpt0.log", 1, DEVICE},
      {"COM\xC2\xB9", 1, DEVICE},
      {"com\xC2\xB2.txt", 1, DEVICE},
      {"COM\xC2\xB3", 1, DEVICE},
      {"LPT\xC2\xB9", 1, DEVICE},
      {"LPT\xC2\xB2.dat", 1, DEVICE},
      {"lpt\xC2\xB3", 1, DEVICE},
      {"CONIN$", 1, DEVICE},
      {"conout$.txt", 1, DEVICE},
      {"a<b", 1, WINDOWS_CHARACTER},
      {"a>b", 1, WINDOWS_CHARACTER},
      {"a\"b", 1, WINDOWS_CHARACTER},
      {"a|b", 1, WINDOWS_CHARACTER},
      {"what?.txt", 1, WINDOWS_CHARACTER},
      {"a*b", 1, WINDOWS_CHARACTER},
      {"a\x01" "b", 1, "unsafe name (control character)"},
      {"a\x1f", 1, "unsafe name (control character)"},
      {"\xff.txt", 1, "unsafe name (not UTF-8)"},
      {"name.", 1, "unsafe name (dot or blank at the end of a component)"},
      {"dir /name", 1, "unsafe name (dot or blank at the end of a component)"},
      {"update_manifest.lst", 1, LAUNCHER_FILE},
      {"Update_Manifest.LST", 1, LAUNCHER_FILE},
      {"update_manifest.lst.release", 1, LAUNCHER_FILE},
      {"update_manifest.lst.tmp", 1, LAUNCHER_FILE},
      {"update_exclude.lst", 1, LAUNCHER_FILE},
      {"torvane_updater_lock.tmp", 1, LAUNCHER_FILE},
      {"tmp", 1, LAUNCHER_FILE},
      {"tmp/update.tmp", 1, LAUNCHER_FILE},
      {"TMP/other.dat", 1, LAUNCHER_FILE},
      {"update_exclude.lst/a", 1, LAUNCHER_FILE},
  };
  for (const name_case &c : cases) {
    EXPECT_EQ(release_name_problem(c.name, c.size), c.problem) << c.name;
  }
  EXPECT_EQ(release_name_problem(std::string("a\0b", 3), 1), "its name holds a NUL character");
}

// A SHA-256 token and a ten-column size leave 947 bytes for the name; a
// size of more digits leaves fewer, down to 944 for the largest file.
TEST(release_listing_test, refuses_a_name_whose_local_manifest_line_would_be_cut) {
  EXPECT_EQ(release_name_problem(std::string(947, 'n'), 2147483647u), "");
  EXPECT_EQ(release_name_problem(std::string(948, 'n'), 1), TOO_LONG);
  EXPECT_EQ(release_name_problem(std::string(947, 'n'), 9999999999u), "");
  EXPECT_EQ(release_name_problem(std::string(946, 'n'), 10000000000u), "");
  EXPECT_EQ(release_name_problem(std::string(947, 'n'), 10000000000u), TOO_LONG);
  EXPECT_EQ(release_name_problem(std::string(944, 'n'), 1099511627776u), "");
  EXPECT_EQ(release_name_problem(std::string(945, 'n'), 1099511627776u), TOO_LONG);
  // A size beyond the largest file is the problem, whatever the name: no
  // manifest holds it, so it has no line length.
  for (uint64_t size : {uint64_t{1099511627777u}, uint64_t{9223372036854775808u}, uint64_t{18446744073709551615u}}) {
    EXPECT_EQ(release_name_problem(std::string(940, 'n'), size), "larger than 1099511627776 bytes") << size;
  }
  EXPECT_EQ(release_name_problem(std::string(100, 'd') + "/" + std::string(900, 'n'), 1), TOO_LONG);
}

TEST(release_listing_test, names_every_file_whose_name_is_another_one_on_windows) {
  scratch_directory dir;
  std::filesystem::create_directories(dir.file("Data"));
  std::filesystem::create_directories(dir.file("data"));
  dir.write_file("Data/a.txt", "1");
  dir.write_file("data/a.txt", "2");
  if (std::filesystem::equivalent(dir.file("Data/a.txt"), dir.file("data/a.txt"))) {
    GTEST_SKIP() << "this file system holds one file for names that differ in case";
  }
  dir.write_file("data/A.TXT", "3");
  dir.write_file("data/b.txt", "4");
  dir.write_file("\xC3\x89t\xC3\xA9", "5");
  dir.write_file("\xC3\xA9t\xC3\xA9", "6");
  dir.write_file("readme.txt", "7");
  release_listing listing = list_release(dir.path().string(), {});
  EXPECT_EQ(listing.error, "");
  EXPECT_EQ(names_of(listing), (std::vector<std::string>{"data/b.txt", "readme.txt"}));
  std::vector<std::pair<std::string, std::string>> problems;
  for (const release_problem &problem : listing.problems) {
    problems.emplace_back(problem.name, problem.reason);
  }
  EXPECT_EQ(problems, (std::vector<std::pair<std::string, std::string>>{
                          {"Data/a.txt", "the same file on Windows as 'data/A.TXT'"},
                          {"data/A.TXT", "the same file on Windows as 'Data/a.txt'"},
                          {"data/a.txt", "the same file on Windows as 'Data/a.txt'"},
                          {"\xC3\x89t\xC3\xA9", "the same file on Windows as '\xC3\xA9t\xC3\xA9'"},
                          {"\xC3\xA9t\xC3\xA9", "the same file on Windows as '\xC3\x89t\xC3\xA9'"},
                      }));
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
