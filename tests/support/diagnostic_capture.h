// Test helpers for code that reports through qarn_diagnostic: a fixture that
// shows every category while a test runs and captures what is printed.
#ifndef TORVANE_TESTS_SUPPORT_DIAGNOSTIC_CAPTURE_H
#define TORVANE_TESTS_SUPPORT_DIAGNOSTIC_CAPTURE_H

#include <gtest/gtest.h>

#include <string>

#include "support/diagnostics.h"

class diagnostic_capture_test : public testing::Test {
 protected:
  void SetUp() override { qarn_set_diagnostic_mask(QARN_MASK_NONE); }
  void TearDown() override {
    if (capturing_) {
      testing::internal::GetCapturedStdout();
    }
    qarn_set_diagnostic_mask(QARN_MASK_NONE);
  }

  void start_capture() {
    testing::internal::CaptureStdout();
    capturing_ = true;
  }
  std::string stop_capture() {
    capturing_ = false;
    return testing::internal::GetCapturedStdout();
  }

 private:
  bool capturing_ = false;
};

#endif
