// A current directory for the life of one object, for tests of code that
// works on the current directory (the installation).
#ifndef TORVANE_TESTS_COMMON_CURRENT_DIRECTORY_H
#define TORVANE_TESTS_COMMON_CURRENT_DIRECTORY_H

#include <gtest/gtest.h>

#include <filesystem>
#include <system_error>

class current_directory_change {
 public:
  // Makes |directory| the current directory. A directory that cannot be
  // entered fails the test.
  explicit current_directory_change(const std::filesystem::path &directory) {
    std::error_code error;
    previous_ = std::filesystem::current_path(error);
    if (error) {
      ADD_FAILURE() << "cannot tell the current directory: " << error.message();
      return;
    }
    std::filesystem::current_path(directory, error);
    if (error) {
      ADD_FAILURE() << "cannot enter " << directory.string() << ": " << error.message();
      return;
    }
    changed_ = true;
  }
  // Goes back, so that the directory can be removed and later tests start
  // where the test program started.
  ~current_directory_change() {
    if (changed_) {
      std::error_code error;
      std::filesystem::current_path(previous_, error);
      EXPECT_FALSE(error) << "cannot go back to " << previous_.string();
    }
  }
  current_directory_change(const current_directory_change &) = delete;
  current_directory_change &operator=(const current_directory_change &) = delete;

 private:
  std::filesystem::path previous_;
  bool changed_ = false;
};

#endif
