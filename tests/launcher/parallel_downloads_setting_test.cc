#include "launcher/parallel_downloads_setting.h"

#include <gtest/gtest.h>

#include "updater/download_pipeline.h"

TEST(parallel_downloads_setting_test, takes_one_to_eight_and_the_default_for_anything_else) {
  struct case_row {
    const char *value;
    int32_t expected;
  };
  const case_row rows[] = {
      {nullptr, OVU_DEFAULT_PARALLEL_DOWNLOADS}, {"", OVU_DEFAULT_PARALLEL_DOWNLOADS},
      {"1", 1}, {"2", 2}, {"8", 8}, {"08", 8},
      {"0", OVU_DEFAULT_PARALLEL_DOWNLOADS}, {"9", OVU_DEFAULT_PARALLEL_DOWNLOADS},
      {"-1", OVU_DEFAULT_PARALLEL_DOWNLOADS}, {"+2", OVU_DEFAULT_PARALLEL_DOWNLOADS},
      {" 2", OVU_DEFAULT_PARALLEL_DOWNLOADS}, {"2 ", OVU_DEFAULT_PARALLEL_DOWNLOADS},
      {"2x", OVU_DEFAULT_PARALLEL_DOWNLOADS}, {"99999999999", OVU_DEFAULT_PARALLEL_DOWNLOADS},
  };
  for (const case_row &row : rows) {
    EXPECT_EQ(parallel_downloads_from(row.value), row.expected) << (row.value ? row.value : "(null)");
  }
  EXPECT_EQ(OVU_DEFAULT_PARALLEL_DOWNLOADS, 4);
  EXPECT_EQ(OVU_MAX_PARALLEL_DOWNLOADS, 8);
}
