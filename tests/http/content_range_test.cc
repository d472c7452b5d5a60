#include <gtest/gtest.h>

#include "http/content_range.h"
#include "support/file_size_limit.h"

namespace {

constexpr int64_t ABSENT = QARN_CONTENT_RANGE_ABSENT;

struct range_case {
  const char *value;
  int result;
  int64_t first;
  int64_t last;
  int64_t complete_length;
};

TEST(content_range_test, values_are_read_exactly_or_not_at_all) {
  const range_case cases[] = {
      {"bytes 0-9/10", 1, 0, 9, 10},
      {"BYTES 5-9/10  ", 1, 5, 9, 10},
      {"bytes 5000000000-5000000001/5000000002", 1, 5000000000LL, 5000000001LL, 5000000002LL},
      {"bytes 3-4/*", 1, 3, 4, ABSENT},
      {"bytes */10", 1, ABSENT, ABSENT, 10},
      {"bytes */*", 0, ABSENT, ABSENT, ABSENT},
      {"bytes 5-4/10", 0, ABSENT, ABSENT, ABSENT},
      {"bytes 5-10/10", 0, ABSENT, ABSENT, ABSENT},
      {"bytes 5-9/10x", 0, ABSENT, ABSENT, ABSENT},
      {"bytes 5 -9/10", 0, ABSENT, ABSENT, ABSENT},
      {"bytes -5-9/10", 0, ABSENT, ABSENT, ABSENT},
      {"bytes=5-9/10", 0, ABSENT, ABSENT, ABSENT},
      {"items 5-9/10", 0, ABSENT, ABSENT, ABSENT},
      {"bytes 0-1/1099511627777", 0, ABSENT, ABSENT, ABSENT},
      {"", 0, ABSENT, ABSENT, ABSENT},
      {nullptr, 0, ABSENT, ABSENT, ABSENT},
  };
  for (const range_case &c : cases) {
    SCOPED_TRACE(c.value == nullptr ? "(null)" : c.value);
    qarn_content_range range;
    range.first = 77;  // a refusal leaves nothing of an earlier value
    EXPECT_EQ(qarn_parse_content_range(c.value, &range), c.result);
    EXPECT_EQ(range.first, c.first);
    EXPECT_EQ(range.last, c.last);
    EXPECT_EQ(range.complete_length, c.complete_length);
  }
}

TEST(content_range_test, only_the_exact_rest_continues) {
  qarn_content_range range;
  ASSERT_EQ(qarn_parse_content_range("bytes 6-11/12", &range), 1);
  EXPECT_EQ(qarn_content_range_continues(range, 6, 12), 1);
  EXPECT_EQ(qarn_content_range_continues(range, 5, 12), 0);
  EXPECT_EQ(qarn_content_range_continues(range, 6, 13), 0);
  ASSERT_EQ(qarn_parse_content_range("bytes 6-10/12", &range), 1);
  EXPECT_EQ(qarn_content_range_continues(range, 6, 12), 0);
  ASSERT_EQ(qarn_parse_content_range("bytes 6-11/*", &range), 1);
  EXPECT_EQ(qarn_content_range_continues(range, 6, 12), 0);
}

}  // namespace
