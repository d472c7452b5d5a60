// Whole-file reads and writes for tests that prepare or inspect files.
#ifndef TORVANE_TESTS_COMMON_FILE_CONTENTS_H
#define TORVANE_TESTS_COMMON_FILE_CONTENTS_H

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

// What read_file returns for a file it cannot open, so that a missing file
// never compares equal to an empty one.
constexpr char MISSING_FILE_CONTENT[] = "(missing)";

// read_file returns every byte of the file at |path|, or
// MISSING_FILE_CONTENT when it cannot be opened.
inline std::string read_file(const std::string &path) {
  std::FILE *file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    return MISSING_FILE_CONTENT;
  }
  std::string content;
  char block[4096];
  for (size_t n = std::fread(block, 1, sizeof(block), file); n > 0;
       n = std::fread(block, 1, sizeof(block), file)) {
    content.append(block, n);
  }
  std::fclose(file);
  return content;
}

// write_file replaces the file at |path| with |content|; a file that cannot
// be written fails the running test.
inline void write_file(const std::string &path, const std::string &content) {
  std::FILE *file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr) << path;
  size_t written = std::fwrite(content.data(), 1, content.size(), file);
  int closed = std::fclose(file);
  EXPECT_EQ(written, content.size()) << path;
  EXPECT_EQ(closed, 0) << path;
}

#endif
