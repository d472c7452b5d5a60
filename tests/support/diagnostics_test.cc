#include "support/diagnostics.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/common/diagnostic_capture.h"

namespace {

struct mask_case {
  int32_t mask;
  int32_t category;
  int32_t module_letter;
  bool printed;
};

const mask_case MASK_CASES[] = {
    // The launcher's quiet mask hides routine errors and trace notices only.
    {QARN_MASK_QUIET, QARN_DIAG_OPERATION, QARN_MODULE_SUPPORT, false},
    {QARN_MASK_QUIET, QARN_DIAG_TRACE, QARN_MODULE_SUPPORT, false},
    {QARN_MASK_QUIET, QARN_DIAG_MISUSE, QARN_MODULE_SUPPORT, true},
    {QARN_MASK_QUIET, QARN_DIAG_RESOURCE, QARN_MODULE_NET, true},
    {QARN_MASK_QUIET, QARN_DIAG_MANIFEST, QARN_MODULE_UPDATER, true},
    {QARN_MASK_QUIET, QARN_DIAG_SHORT_HASH_OR_ELEVATION, QARN_MODULE_SUPPORT, true},
    {QARN_MASK_QUIET, QARN_DIAG_PROTOCOL, QARN_MODULE_HTTP, true},
    {QARN_MASK_QUIET, QARN_DIAG_CONNECTION, QARN_MODULE_DOWNLOADER, true},
    // The boot mask hides trace notices but shows a failed exec.
    {QARN_MASK_BOOT, QARN_DIAG_TRACE, QARN_MODULE_SUPPORT, false},
    {QARN_MASK_BOOT, QARN_DIAG_OPERATION, QARN_MODULE_SUPPORT, true},
    // Nothing hidden: everything prints, except silent-module trace notices.
    {QARN_MASK_NONE, QARN_DIAG_TRACE, QARN_MODULE_SUPPORT, true},
    {QARN_MASK_NONE, QARN_DIAG_TRACE, QARN_MODULE_SILENT, false},
    {QARN_MASK_QUIET, QARN_DIAG_TRACE, QARN_MODULE_SILENT, false},
    // Only exactly 256 is silenced for letter l.
    {QARN_MASK_NONE, QARN_DIAG_OPERATION, QARN_MODULE_SILENT, true},
    {QARN_MASK_NONE, QARN_DIAG_TRACE | QARN_DIAG_OPERATION, QARN_MODULE_SILENT, true},
    // Category 0 has no bit outside any mask.
    {QARN_MASK_NONE, 0, QARN_MODULE_SUPPORT, false},
    {QARN_MASK_QUIET, 0, QARN_MODULE_SUPPORT, false},
    {-1, 0, QARN_MODULE_SUPPORT, false},
    // A category of several bits prints unless all of them are masked.
    {2, 3, QARN_MODULE_SUPPORT, true},
    {3, 3, QARN_MODULE_SUPPORT, false},
    {1, 3, QARN_MODULE_SUPPORT, true},
    {-1, QARN_DIAG_MISUSE, QARN_MODULE_SUPPORT, false},
};

class diagnostics_mask_test : public diagnostic_capture_test,
                              public testing::WithParamInterface<mask_case> {};

TEST_P(diagnostics_mask_test, prints_only_unmasked_categories) {
  const mask_case &c = GetParam();
  qarn_set_diagnostic_mask(c.mask);
  start_capture();
  qarn_diagnostic("Error in test(), something happened.", c.category, c.module_letter);
  std::string out = stop_capture();
  EXPECT_EQ(out, c.printed ? "Error in test(), something happened.\n" : "")
      << "mask " << c.mask << " category " << c.category << " letter "
      << static_cast<char>(c.module_letter);
}

INSTANTIATE_TEST_SUITE_P(table, diagnostics_mask_test, testing::ValuesIn(MASK_CASES));

class diagnostics_test : public diagnostic_capture_test {};

TEST_F(diagnostics_test, new_mask_replaces_the_old_one) {
  qarn_set_diagnostic_mask(QARN_MASK_QUIET);
  qarn_set_diagnostic_mask(QARN_MASK_BOOT);
  EXPECT_EQ(qarn_diagnostic_mask(), QARN_MASK_BOOT);
  start_capture();
  qarn_diagnostic("operation", QARN_DIAG_OPERATION, QARN_MODULE_SUPPORT);
  qarn_diagnostic("trace", QARN_DIAG_TRACE, QARN_MODULE_SUPPORT);
  EXPECT_EQ(stop_capture(), "operation\n");
}

TEST_F(diagnostics_test, each_report_is_one_line_in_call_order) {
  start_capture();
  qarn_diagnostic("first", QARN_DIAG_MISUSE, QARN_MODULE_SUPPORT);
  std::printf("launcher line\n");
  qarn_diagnostic("", QARN_DIAG_OPERATION, QARN_MODULE_NET);
  qarn_diagnostic("third", QARN_DIAG_PROTOCOL, QARN_MODULE_HTTP);
  EXPECT_EQ(stop_capture(), "first\nlauncher line\n\nthird\n");
}

TEST_F(diagnostics_test, text_is_printed_verbatim) {
  // A per-cent sign in a reported value must not be taken as a format.
  start_capture();
  qarn_diagnostic("value '%s %d %%'", QARN_DIAG_MISUSE, QARN_MODULE_SUPPORT);
  EXPECT_EQ(stop_capture(), "value '%s %d %%'\n");
}

TEST_F(diagnostics_test, null_text_prints_null_marker) {
  start_capture();
  qarn_diagnostic(nullptr, QARN_DIAG_MISUSE, QARN_MODULE_SUPPORT);
  EXPECT_EQ(stop_capture(), "(null)\n");
}

}  // namespace
