// Reading the release key file that torvane-publish --make-key writes.
#include "tools/release_key_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "tests/common/file_contents.h"
#include "tests/common/scratch_directory.h"
#include "tools/file_digest.h"

namespace {

namespace fs = std::filesystem;

const char CANNOT_READ[] = "cannot read ";
const char NOT_A_KEY_FILE[] = " is not a release key file";

// A key file made by make_release_key in |directory|; its text in |*text|
// and its public key's hex in |*public_hex|.
std::string make_key_in(const fs::path &directory, std::string *text, std::string *public_hex) {
  const std::string path = (directory / "release.key").u8string();
  std::string why;
  EXPECT_TRUE(make_release_key(path, public_hex, &why)) << why;
  *text = read_file(path);
  return path;
}

// The key file's directory is named beyond ASCII: the name reaches the
// system as it is, on Windows through the wide calls.
TEST(release_key_file, made_and_read_back_under_a_name_beyond_ascii) {
  scratch_directory scratch;
  const fs::path directory = scratch.path() / fs::u8path(u8"Schlüssel-😀");
  ASSERT_TRUE(fs::create_directory(directory));
  std::string text;
  std::string public_hex;
  const std::string path = make_key_in(directory, &text, &public_hex);
  release_key_pair pair = {};
  std::string why;
  ASSERT_TRUE(read_release_key(path, &pair, &why)) << why;
  EXPECT_EQ(public_hex, hex_of(pair.public_key, sizeof(pair.public_key)));
}

struct key_text_case {
  const char *label;
  const char *problem;  // null: the key reads; else the end of the reason
};

// |text| changed as |label| says.
std::string changed_key_text(const std::string &label, const std::string &text) {
  const size_t first_end = text.find('\n');
  const size_t second_end = text.find('\n', first_end + 1);
  if (label == "as_made") {
    return text;
  }
  if (label == "without_the_last_line_feed") {
    return text.substr(0, text.size() - 1);
  }
  if (label == "empty") {
    return "";
  }
  if (label == "header_only") {
    return text.substr(0, first_end + 1);
  }
  if (label == "other_header") {
    return "torvane-release-key ed25519" + text.substr(first_end);
  }
  if (label == "private_key_one_digit_short") {
    return text.substr(0, second_end - 1) + text.substr(second_end);
  }
  if (label == "lines_swapped") {
    return text.substr(0, first_end + 1) + text.substr(second_end + 1) +
           text.substr(first_end + 1, second_end - first_end);
  }
  if (label == "a_line_longer_than_any_key_line") {
    return text.substr(0, first_end + 1) + "private " + std::string(300, 'a') + "\n" + text.substr(second_end + 1);
  }
  ADD_FAILURE() << "no such change: " << label;
  return text;
}

class key_text_test : public testing::TestWithParam<key_text_case> {};

TEST_P(key_text_test, reads_only_a_whole_key_file) {
  const key_text_case &c = GetParam();
  scratch_directory scratch;
  std::string text;
  std::string public_hex;
  const std::string path = make_key_in(scratch.path(), &text, &public_hex);
  write_file(path, changed_key_text(c.label, text));
  release_key_pair pair = {};
  std::string why;
  if (c.problem == nullptr) {
    ASSERT_TRUE(read_release_key(path, &pair, &why)) << why;
    EXPECT_EQ(public_hex, hex_of(pair.public_key, sizeof(pair.public_key)));
    return;
  }
  EXPECT_FALSE(read_release_key(path, &pair, &why));
  const std::string expected = c.problem == CANNOT_READ ? CANNOT_READ + path : path + NOT_A_KEY_FILE;
  EXPECT_EQ(expected, why);
  EXPECT_EQ(std::string(sizeof(pair), '\0'), std::string(reinterpret_cast<const char *>(&pair), sizeof(pair)))
      << "nothing of a refused key is kept";
}

const key_text_case KEY_TEXT_CASES[] = {
    {"as_made", nullptr},
    {"without_the_last_line_feed", nullptr},
    {"empty", CANNOT_READ},
    {"header_only", NOT_A_KEY_FILE},
    {"other_header", NOT_A_KEY_FILE},
    {"private_key_one_digit_short", NOT_A_KEY_FILE},
    {"lines_swapped", NOT_A_KEY_FILE},
    {"a_line_longer_than_any_key_line", NOT_A_KEY_FILE},
};

INSTANTIATE_TEST_SUITE_P(table, key_text_test, testing::ValuesIn(KEY_TEXT_CASES),
                         [](const testing::TestParamInfo<key_text_case> &info) {
                           return std::string(info.param.label);
                         });

TEST(release_key_file, a_missing_file_cannot_be_read) {
  scratch_directory scratch;
  const std::string path = scratch.file("no-such.key");
  release_key_pair pair = {};
  std::string why;
  EXPECT_FALSE(read_release_key(path, &pair, &why));
  EXPECT_EQ(CANNOT_READ + path, why);
}

}  // namespace
