// A fresh, empty directory per test, removed with everything in it
// afterwards.
#ifndef TORVANE_TESTS_COMMON_SCRATCH_DIRECTORY_H
#define TORVANE_TESTS_COMMON_SCRATCH_DIRECTORY_H

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

#include "tests/common/file_contents.h"

// How many taken names scratch_directory skips before it gives up.
constexpr unsigned SCRATCH_NAME_ATTEMPTS = 1000;

class scratch_directory {
 public:
  // The directory is named after the running test, with a number that only
  // this directory has: the same test program may run from several build
  // directories at once, and a name shared between them would let one run
  // delete the other's files. create_directory makes the claim on a name
  // atomic. A directory that cannot be made fails the test; its path then
  // names a directory that does not exist, so that nothing is written
  // anywhere else.
  scratch_directory() {
    const std::filesystem::path base(testing::TempDir());
    const std::string name = test_name();
    unsigned number = first_number();
    for (unsigned attempt = 0; attempt < SCRATCH_NAME_ATTEMPTS; attempt++, number++) {
      path_ = base / (name + "_" + std::to_string(number));
      std::error_code error;
      if (std::filesystem::create_directory(path_, error)) {
        made_ = true;
        return;
      }
      if (error) {
        ADD_FAILURE() << "cannot make " << path_.string() << ": " << error.message();
        return;
      }
    }
    ADD_FAILURE() << "no free scratch directory name for " << name;
  }
  ~scratch_directory() {
    if (made_) {
      std::error_code ignored;
      std::filesystem::remove_all(path_, ignored);
    }
  }
  scratch_directory(const scratch_directory &) = delete;
  scratch_directory &operator=(const scratch_directory &) = delete;

  // path returns the directory itself.
  const std::filesystem::path &path() const { return path_; }

  // file returns the path of |name| inside the directory.
  std::string file(const std::string &name) const { return (path_ / name).string(); }

  // write_file creates |name| with |content| and returns its path.
  std::string write_file(const std::string &name, const std::string &content) const {
    std::string path = file(name);
    ::write_file(path, content);
    return path;
  }

  // write_filled_file creates |name| with |size| bytes of |fill| and returns
  // its path.
  std::string write_filled_file(const std::string &name, long size, char fill = '#') const {
    return write_file(name, std::string(static_cast<size_t>(size), fill));
  }

  // write_sparse_file creates |name| with |size| zero bytes that take no
  // disk space where the file system allows it, and returns its path.
  std::string write_sparse_file(const std::string &name, uintmax_t size) const {
    std::string path = write_file(name, "");
    std::filesystem::resize_file(path, size);
    return path;
  }

  // exists tells whether |name| is inside the directory.
  bool exists(const std::string &name) const { return std::filesystem::exists(path_ / name); }

 private:
  // "torvane_<suite>_<test>", with the "/" of parameterised names replaced.
  static std::string test_name() {
    const testing::TestInfo *info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("torvane_") + info->test_suite_name() + "_" + info->name();
    for (char &c : name) {
      if (c == '/' || c == '\\') {
        c = '_';
      }
    }
    return name;
  }

  // A starting number that differs between runs, so that the first name
  // tried is almost always free.
  static unsigned first_number() {
    return static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count());
  }

  std::filesystem::path path_;
  bool made_ = false;  // the directory is ours to remove
};

#endif
