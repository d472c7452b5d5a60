// Test helpers for code that reports through qarn_diagnostic: a fixture that
// shows every category while a test runs and captures what is printed.
#ifndef TORVANE_TESTS_COMMON_DIAGNOSTIC_CAPTURE_H
#define TORVANE_TESTS_COMMON_DIAGNOSTIC_CAPTURE_H

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/diagnostics.h"

// diagnostic_capture_test starts every test with nothing masked and leaves
// nothing masked behind. A capture still open when the test ends (an
// assertion returned between start_capture and stop_capture) is closed in
// TearDown, and what it holds, the failure's own message among it, is
// printed again: left open it would abort the next test that captures.
class diagnostic_capture_test : public testing::Test {
 protected:
  void SetUp() override { qarn_set_diagnostic_mask(QARN_MASK_NONE); }
  void TearDown() override {
    if (capturing_) {
      std::string held = stop_capture();
      std::fputs(held.c_str(), stdout);
    }
    qarn_set_diagnostic_mask(QARN_MASK_NONE);
  }

  // start_capture sends everything printed from now on to the capture.
  void start_capture() {
    testing::internal::CaptureStdout();
    capturing_ = true;
  }
  // stop_capture ends the capture and returns what was printed since
  // start_capture.
  std::string stop_capture() {
    capturing_ = false;
    return testing::internal::GetCapturedStdout();
  }

 private:
  bool capturing_ = false;
};

#endif
