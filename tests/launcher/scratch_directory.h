// A fresh directory per test, removed with everything in it afterwards.
#ifndef TORVANE_TESTS_LAUNCHER_SCRATCH_DIRECTORY_H
#define TORVANE_TESTS_LAUNCHER_SCRATCH_DIRECTORY_H

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

class scratch_directory {
 public:
  scratch_directory() {
    const testing::TestInfo *info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("torvane_launcher_") + info->test_suite_name() + "_" +
                       info->name();
    for (char &c : name) {
      if (c == '/') {
        c = '_';
      }
    }
    path_ = std::filesystem::path(testing::TempDir()) / name;
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~scratch_directory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }

  // file returns the path of |name| inside the directory.
  std::string file(const std::string &name) const { return (path_ / name).string(); }

  // write_file creates |name| with |size| bytes of |fill| and returns its path.
  std::string write_file(const std::string &name, long size, char fill = '#') const {
    std::string path = file(name);
    std::FILE *out = std::fopen(path.c_str(), "wb");
    EXPECT_NE(out, nullptr) << path;
    if (out != nullptr) {
      for (long i = 0; i < size; i++) {
        std::fputc(fill, out);
      }
      std::fclose(out);
    }
    return path;
  }

  bool exists(const std::string &name) const { return std::filesystem::exists(path_ / name); }

 private:
  std::filesystem::path path_;
};

#endif
