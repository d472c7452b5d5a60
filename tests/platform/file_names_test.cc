// File names beyond ASCII through the platform's file calls. Every call
// must find a file under the name it was given, and the directory must list
// the name that was meant. The listing comes from the standard library's
// own reading of the directory, not from the platform layer.
#include "platform/file_system.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <set>
#include <string>
#include <system_error>

#include "tests/common/scratch_directory.h"

namespace {

namespace fs = std::filesystem;

using name_set = std::set<std::string>;

struct name_case {
  const char *label;
  const char *name;     // UTF-8
  const char *renamed;  // UTF-8
};

void PrintTo(const name_case &c, std::ostream *out) { *out << c.label; }

const name_case NAME_CASES[] = {
    {"e_acute", u8"café.txt", u8"café-2.txt"},
    {"u_umlaut", u8"Grüße.ogg", u8"Übergrüße.ogg"},
    {"beyond_the_basic_multilingual_plane", u8"emoji-😀.dat", u8"🎲-würfel.dat"},
};

// The names in |directory|, as UTF-8.
name_set listed_names(const std::string &directory) {
  name_set names;
  std::error_code error;
  for (fs::directory_iterator it(fs::u8path(directory), error); !error && it != fs::directory_iterator();
       it.increment(error)) {
    names.insert(it->path().filename().u8string());
  }
  EXPECT_FALSE(error) << directory << ": " << error.message();
  return names;
}

void write_through_platform(const std::string &path, const std::string &content) {
  FILE *file = platform_fopen(path.c_str(), "wb");
  ASSERT_NE(nullptr, file) << path;
  EXPECT_EQ(content.size(), std::fwrite(content.data(), 1, content.size(), file));
  EXPECT_EQ(0, std::fclose(file));
}

std::string read_through_platform(const std::string &path) {
  FILE *file = platform_fopen(path.c_str(), "rb");
  if (file == nullptr) {
    ADD_FAILURE() << "cannot open " << path;
    return "";
  }
  std::string content;
  char block[256];
  size_t n = 0;
  while ((n = std::fread(block, 1, sizeof(block), file)) > 0) {
    content.append(block, n);
  }
  std::fclose(file);
  return content;
}

class file_names_test : public testing::TestWithParam<name_case> {};

TEST_P(file_names_test, are_made_stated_renamed_replaced_and_removed_under_their_own_names) {
  const name_case &c = GetParam();
  scratch_directory scratch;
  const std::string top = scratch.path().u8string();
  const std::string folder_name = std::string(u8"Ordner-") + c.name;
  const std::string folder = top + "/" + folder_name;
  ASSERT_EQ(0, platform_mkdir(folder.c_str(), 0700));
  EXPECT_EQ(name_set{folder_name}, listed_names(top));
  platform_file_status status = {};
  ASSERT_EQ(1, platform_stat(folder.c_str(), &status));
  EXPECT_EQ(1, status.is_directory);

  const std::string path = folder + "/" + c.name;
  const std::string content = c.label;
  write_through_platform(path, content);
  EXPECT_EQ(name_set{c.name}, listed_names(folder));
  ASSERT_EQ(1, platform_stat(path.c_str(), &status));
  EXPECT_EQ(1, status.is_regular_file);
  EXPECT_EQ(static_cast<int64_t>(content.size()), status.size);
  EXPECT_EQ(content, read_through_platform(path));

  const std::string renamed = folder + "/" + c.renamed;
  ASSERT_EQ(0, platform_rename(path.c_str(), renamed.c_str()));
  EXPECT_EQ(name_set{c.renamed}, listed_names(folder));
  EXPECT_EQ(0, platform_stat(path.c_str(), &status));
  EXPECT_EQ(content, read_through_platform(renamed));

  // A new file under the first name replaces the renamed one.
  FILE *second = platform_create_private_file(path.c_str());
  ASSERT_NE(nullptr, second);
  EXPECT_EQ(0, std::fclose(second));
  EXPECT_EQ((name_set{c.name, c.renamed}), listed_names(folder));
  ASSERT_EQ(0, platform_replace_file(path.c_str(), renamed.c_str()));
  EXPECT_EQ(name_set{c.renamed}, listed_names(folder));
  ASSERT_EQ(1, platform_stat(renamed.c_str(), &status));
  EXPECT_EQ(0, status.size);

  ASSERT_EQ(0, platform_remove(renamed.c_str()));
  EXPECT_EQ(name_set{}, listed_names(folder));
  errno = 0;
  EXPECT_EQ(-1, platform_remove(renamed.c_str()));
  EXPECT_EQ(ENOENT, errno);
}

INSTANTIATE_TEST_SUITE_P(table, file_names_test, testing::ValuesIn(NAME_CASES),
                         [](const testing::TestParamInfo<name_case> &info) {
                           return std::string(info.param.label);
                         });

#ifdef _WIN32
// Bytes that are not UTF-8: a lead byte without its continuation, an
// overlong form of "/", an encoded half of a surrogate pair, and Latin-1.
// Windows must refuse them rather than make up some other name, which
// could be the name of another file.
const char *const NOT_UTF8_NAMES[] = {
    "lead-\xC3(.txt",
    "overlong-\xC0\xAF.txt",
    "surrogate-\xED\xA0\x80.txt",
    "latin1-caf\xE9.txt",
};

TEST(file_names_not_utf8, are_refused_and_touch_nothing) {
  scratch_directory scratch;
  const std::string top = scratch.path().u8string();
  const std::string good = top + "/good.txt";
  write_through_platform(good, "good");
  for (const char *name : NOT_UTF8_NAMES) {
    const std::string bad = top + "/" + name;
    errno = 0;
    EXPECT_EQ(nullptr, platform_fopen(bad.c_str(), "wb")) << name;
    EXPECT_EQ(EILSEQ, errno) << name;
    errno = 0;
    EXPECT_EQ(-1, platform_mkdir(bad.c_str(), 0700)) << name;
    EXPECT_EQ(EILSEQ, errno) << name;
    errno = 0;
    EXPECT_EQ(-1, platform_remove(bad.c_str())) << name;
    EXPECT_EQ(EILSEQ, errno) << name;
    errno = 0;
    EXPECT_EQ(-1, platform_rename(good.c_str(), bad.c_str())) << name;
    EXPECT_EQ(EILSEQ, errno) << name;
    EXPECT_EQ(-1, platform_replace_file(good.c_str(), bad.c_str())) << name;
    EXPECT_EQ(nullptr, platform_create_private_file(bad.c_str())) << name;
    platform_file_status status = {};
    EXPECT_EQ(0, platform_stat(bad.c_str(), &status)) << name;
  }
  EXPECT_EQ(name_set{"good.txt"}, listed_names(top));
  EXPECT_EQ("good", read_through_platform(good));
}
#endif

}  // namespace
