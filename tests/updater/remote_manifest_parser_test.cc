// The remote manifest parser fed as the downloader feeds it: each case
// runs whole, at every split (or a sample of them), byte by byte and in
// random splits. Then its bounds, each at its exact limit and one past it,
// and the names listed twice.
#include "updater/remote_manifest_parser.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "tests/common/diagnostic_capture.h"
#include "tests/common/zlib_stream.h"

namespace {

const char HASH[] = "0123456789abcdef0123456789abcdef";

using wrapper = zlib_wrapper;

std::string compress(const std::string &text, wrapper how) { return zlib_compress(text, how); }

// Block sizes to cut a body into; the downloader hands at most 8192 bytes.
using split = std::vector<size_t>;

std::vector<split> splits_of(size_t length, uint32_t seed) {
  std::vector<split> splits;
  splits.push_back({length});
  splits.push_back(split(length, 1));
  size_t step = length > 200 ? length / 97 + 1 : 1;
  for (size_t cut = 1; cut < length; cut += step) {
    splits.push_back({cut, length - cut});
  }
  std::mt19937 random(seed);
  for (int round = 0; round < 20; round++) {
    split s;
    for (size_t left = length; left > 0;) {
      size_t piece = 1 + random() % std::min<size_t>(left, 8192);
      s.push_back(piece);
      left -= piece;
    }
    splits.push_back(s);
  }
  return splits;
}

struct fed {
  bool accepted = false;  // every piece was taken and finish accepted the manifest
  std::vector<std::string> lines;  // "hash size name" of each entry
  int32_t count = 0;
};

// The bounds of one parse; the parser's own by default.
struct bounds {
  int64_t inflated = OVU_MAX_INFLATED_MANIFEST_LEN;
  int32_t entries = OVU_MAX_REMOTE_ENTRY_COUNT;
  int64_t memory = OVU_MAX_REMOTE_ENTRY_MEMORY;
};

// Feeds |body| in the pieces of |pieces| as the downloader would.
fed feed(const std::string &body, const split &pieces, const bounds &limits = bounds()) {
  fed out;
  ovu_remote_manifest_parser parser;
  parser.max_inflated_len = limits.inflated;
  parser.max_entry_count = limits.entries;
  parser.max_entry_memory = limits.memory;
  EXPECT_EQ(parser.begin(), 1);
  bool taken = true;
  size_t offset = 0;
  for (size_t piece : pieces) {
    if (piece == 0) {
      continue;
    }
    if (!parser.take(body.data() + offset, static_cast<int32_t>(piece))) {
      taken = false;
      break;
    }
    offset += piece;
  }
  int finished = parser.finish();
  // A refusal anywhere is a refusal at the end.
  EXPECT_TRUE(taken || finished == 0);
  out.accepted = finished == 1;
  out.count = parser.entry_count();
  for (const ovu_manifest_entry *e = parser.entries(); e != nullptr; e = e->next) {
    out.lines.push_back(std::string(e->hash) + " " + std::to_string(e->size) + " " + e->name);
  }
  return out;
}

fed feed_whole(const std::string &body, const bounds &limits = bounds()) { return feed(body, {body.size()}, limits); }

class parser_test : public diagnostic_capture_test {};

const char MANIFEST_TEXT[] =
    "# release 7\n"
    "\n"
    "0123456789abcdef0123456789abcdef 100 BRUXclient.exe\n"
    "   \t# indented comment\n"
    "fedcba9876543210fedcba9876543210 2048 data/maps/level 1.map\n"
    "aaaaaaaaaabbbbbbbbbbccccccccccdd 0 empty\n"
    "abcdefabcd 7 name with trailing blank \n";

const std::vector<std::string> MANIFEST_LINES = {
    "0123456789abcdef0123456789abcdef 100 BRUXclient.exe",
    "fedcba9876543210fedcba9876543210 2048 data/maps/level 1.map",
    "aaaaaaaaaabbbbbbbbbbccccccccccdd 0 empty",
    "abcdefabcd 7 name with trailing blank ",
};

TEST_F(parser_test, zlib_and_gzip_give_the_same_entries_at_every_split) {
  for (wrapper how : {wrapper::zlib, wrapper::gzip}) {
    std::string body = compress(MANIFEST_TEXT, how);
    for (const split &pieces : splits_of(body.size(), 7)) {
      fed out = feed(body, pieces);
      ASSERT_TRUE(out.accepted) << (how == wrapper::zlib ? "zlib" : "gzip") << ", " << pieces.size() << " pieces";
      ASSERT_EQ(out.lines, MANIFEST_LINES);
      ASSERT_EQ(out.count, 4);
    }
  }
}

TEST_F(parser_test, a_last_line_without_its_line_feed_is_parsed_at_the_end_of_the_stream) {
  std::string text = std::string(MANIFEST_TEXT) + HASH + " 5 last";
  std::string body = compress(text, wrapper::zlib);
  for (const split &pieces : splits_of(body.size(), 11)) {
    fed out = feed(body, pieces);
    ASSERT_TRUE(out.accepted);
    ASSERT_EQ(out.lines.size(), 5u);
    ASSERT_EQ(out.lines.back(), std::string(HASH) + " 5 last");
  }
}

TEST_F(parser_test, an_empty_body_gives_no_entries_and_no_error) {
  fed out = feed("", {});
  EXPECT_TRUE(out.accepted);
  EXPECT_EQ(out.count, 0);
}

TEST_F(parser_test, bytes_after_the_end_of_the_stream_are_ignored) {
  std::string body = compress(MANIFEST_TEXT, wrapper::gzip) + "trailing garbage that is not zlib";
  for (const split &pieces : splits_of(body.size(), 13)) {
    fed out = feed(body, pieces);
    ASSERT_TRUE(out.accepted);
    ASSERT_EQ(out.lines, MANIFEST_LINES);
  }
}

// One piece of 8192 bytes may inflate to far more than one output area
// of 65536 bytes.
TEST_F(parser_test, a_manifest_that_compresses_far_better_than_eight_to_one_is_parsed_whole) {
  std::string text;
  const int lines = 40000;
  for (int i = 0; i < lines; i++) {
    text += std::string(HASH) + " 4096 data/textures/a_rather_long_directory_name/tile" + std::to_string(i) + "\n";
  }
  std::string body = compress(text, wrapper::zlib);
  ASSERT_GT(text.size() / body.size(), 16u);
  for (const split &pieces : {split{body.size()}, split(body.size(), 1), split{body.size() / 2, body.size() - body.size() / 2}}) {
    fed out = feed(body, pieces);
    ASSERT_TRUE(out.accepted);
    EXPECT_EQ(out.count, lines);
  }
}

struct refused_case {
  const char *what;
  std::string body;
  const char *report;  // a line the diagnostics must show
};

TEST_F(parser_test, refuses_broken_streams_with_a_report) {
  std::string whole = compress(MANIFEST_TEXT, wrapper::zlib);
  const refused_case cases[] = {
      {"raw deflate without a header", compress(MANIFEST_TEXT, wrapper::raw),
       "Error in http_fetch_remote_manifest_data::download_data_callback(), ZLip inflate failed?"},
      {"plain text", MANIFEST_TEXT,
       "Error in http_fetch_remote_manifest_data::download_data_callback(), ZLip inflate failed?"},
      {"corrupt data", whole.substr(0, 6) + std::string(40, '\xff') + whole.substr(46),
       "Error in http_fetch_remote_manifest_data::download_data_callback(), ZLip inflate failed?"},
      {"a stream cut short", whole.substr(0, whole.size() - 8), ""},
  };
  for (const refused_case &c : cases) {
    for (const split &pieces : {split{c.body.size()}, split(c.body.size(), 1)}) {
      start_capture();
      fed out = feed(c.body, pieces);
      std::string reports = stop_capture();
      EXPECT_FALSE(out.accepted) << c.what;
      EXPECT_EQ(out.count, 0) << c.what;
      EXPECT_NE(reports.find(c.report), std::string::npos) << c.what << ": " << reports;
    }
  }
}

// A stream cut anywhere before its end never gives entries, even when
// every line that arrived was complete.
TEST_F(parser_test, a_stream_cut_anywhere_before_its_end_is_refused) {
  std::string body = compress(MANIFEST_TEXT, wrapper::zlib);
  for (size_t cut = 1; cut < body.size(); cut++) {
    ovu_remote_manifest_parser parser;
    ASSERT_EQ(parser.begin(), 1);
    ASSERT_EQ(parser.take(body.data(), static_cast<int32_t>(cut)), 1);
    ASSERT_EQ(parser.finish(), 0) << cut;
    ASSERT_TRUE(parser.stream_cut_short());
    ASSERT_EQ(parser.entries(), nullptr);
  }
}

TEST_F(parser_test, a_bad_line_fails_and_frees_every_entry) {
  std::string text = std::string(MANIFEST_TEXT) + "NOT A HASH 1 x\n" + HASH + " 1 after\n";
  std::string body = compress(text, wrapper::zlib);
  for (const split &pieces : splits_of(body.size(), 17)) {
    start_capture();
    fed out = feed(body, pieces);
    std::string reports = stop_capture();
    ASSERT_FALSE(out.accepted);
    ASSERT_EQ(out.count, 0);
    ASSERT_TRUE(out.lines.empty());
    ASSERT_EQ(reports,
              "Syntax error in downloaded data - bad or missing hash field for line:\nNOT A HASH 1 x\n");
  }
}

// Sizes come through whole beyond 32 bits, up to the largest file; a size
// no file can have fails the manifest as any other bad line.
TEST_F(parser_test, sizes_count_in_64_bits_up_to_the_largest_file) {
  const char SIZE_ERROR[] = "Syntax error in downloaded data - bad or missing file size for line:\n";
  struct size_case {
    const char *size;
    bool accepted;
  };
  const size_case cases[] = {
      {"2147483649", true}, {"4294967301", true},     {"1099511627776", true},
      {"-5", false},        {"1099511627777", false}, {"18446744073709551621", false},
  };
  for (const size_case &c : cases) {
    SCOPED_TRACE(c.size);
    const std::string line = std::string(HASH) + " " + c.size + " data/huge.pak";
    std::string body = compress(std::string(MANIFEST_TEXT) + line + "\n" + HASH + " 1 after\n", wrapper::gzip);
    start_capture();
    fed out = feed_whole(body);
    std::string reports = stop_capture();
    EXPECT_EQ(out.accepted, c.accepted);
    if (c.accepted) {
      EXPECT_EQ(out.count, 6);
      ASSERT_EQ(out.lines.size(), 6u);
      EXPECT_EQ(out.lines[4], line);
      EXPECT_EQ(reports, "");
    } else {
      EXPECT_EQ(out.count, 0);
      EXPECT_TRUE(out.lines.empty());
      EXPECT_EQ(reports, SIZE_ERROR + line + "\n");
    }
  }
}

TEST_F(parser_test, a_bad_last_line_without_line_feed_fails_too) {
  std::string body = compress(std::string(MANIFEST_TEXT) + "zzz", wrapper::zlib);
  start_capture();
  fed out = feed_whole(body);
  stop_capture();
  EXPECT_FALSE(out.accepted);
  EXPECT_EQ(out.count, 0);
}

TEST_F(parser_test, a_line_longer_than_its_buffer_keeps_its_first_5999_characters) {
  std::string name(7000, 'n');
  std::string body = compress(std::string(HASH) + " 1 " + name + "\n", wrapper::zlib);
  start_capture();
  fed out = feed_whole(body);
  std::string reports = stop_capture();
  ASSERT_TRUE(out.accepted);
  ASSERT_EQ(out.lines.size(), 1u);
  EXPECT_EQ(out.lines[0], std::string(HASH) + " 1 " + name.substr(0, 5999 - 35));
  EXPECT_NE(reports.find("String Buffer overflow"), std::string::npos);
}

// Each bound at its exact limit and one past it: the text's length, the
// number of entry lines and the memory of the entries.
struct bound_case {
  const char *what;
  bounds at_limit;
  bounds past_limit;
  std::string report;
};

TEST_F(parser_test, each_bound_takes_its_limit_and_refuses_one_more) {
  std::string text;
  int64_t memory = 0;
  for (int i = 0; i < 50; i++) {
    std::string name = "data/file" + std::to_string(i) + ".dat";
    text += std::string(HASH) + " 10 " + name + "\n";
    ovu_manifest_entry entry = {&name[0], const_cast<char *>(HASH), 10, nullptr};
    memory += ovu_remote_entry_memory(&entry);
  }
  text += "# a comment line, and the last line has no line feed\n" + std::string(HASH) + " 1 last";
  std::string last = "last";
  ovu_manifest_entry last_entry = {&last[0], const_cast<char *>(HASH), 1, nullptr};
  memory += ovu_remote_entry_memory(&last_entry);
  const int64_t length = static_cast<int64_t>(text.size());
  const bound_case cases[] = {
      {"inflated length", {length, 51, memory}, {length - 1, 51, memory},
       ("Error in http_fetch_remote_manifest_data::download_data_callback(), manifest inflates to more than " +
        std::to_string(length - 1) + " bytes, aborting.\n")},
      {"entry lines", {length, 51, memory}, {length, 50, memory},
       "Error in http_fetch_remote_manifest_data::download_data_callback(), manifest lists more than 50 entries, "
       "aborting.\n"},
      {"entry memory", {length, 51, memory}, {length, 51, memory - 1},
       ("Error in http_fetch_remote_manifest_data::download_data_callback(), manifest entries take more than " +
        std::to_string(memory - 1) + " bytes of memory, aborting.\n")},
  };
  std::string body = compress(text, wrapper::zlib);
  for (const bound_case &c : cases) {
    SCOPED_TRACE(c.what);
    for (const split &pieces : {split{body.size()}, split(body.size(), 1)}) {
      start_capture();
      fed within = feed(body, pieces, c.at_limit);
      EXPECT_EQ(stop_capture(), "");
      EXPECT_TRUE(within.accepted);
      EXPECT_EQ(within.count, 51);
      start_capture();
      fed past = feed(body, pieces, c.past_limit);
      EXPECT_EQ(stop_capture(), c.report);
      EXPECT_FALSE(past.accepted);
      EXPECT_EQ(past.count, 0);
    }
  }
}

TEST_F(parser_test, the_bounds_fit_a_million_files_in_a_32_bit_process) {
  // A release of 1,000,000 files with names of 150 characters and SHA-256
  // tokens is within the bounds...
  std::string name(150, 'n');
  std::string hash(64, 'a');
  ovu_manifest_entry entry = {&name[0], &hash[0], 1, nullptr};
  EXPECT_LE(1000000 * ovu_remote_entry_memory(&entry), OVU_MAX_REMOTE_ENTRY_MEMORY);
  EXPECT_GE(OVU_MAX_REMOTE_ENTRY_COUNT, 1000000);
  // ...and the entries leave most of a 2 GiB address space free.
  EXPECT_LE(OVU_MAX_REMOTE_ENTRY_MEMORY, int64_t{1} << 30);
}

// A name listed again is dropped, whatever its hash or size: the first
// entry of each name is the one used, and the repeats are told once.
TEST_F(parser_test, a_name_listed_again_keeps_its_first_entry) {
  const std::string other = "fedcba9876543210fedcba9876543210";
  std::string text = std::string(HASH) + " 1 a\n" + other + " 2 b\n" + other + " 3 a\n" + HASH + " 4 c\n" + HASH +
                     " 1 a\n" + HASH + " 2 b\n" + HASH + " 5 A\n";
  std::string body = compress(text, wrapper::zlib);
  for (const split &pieces : splits_of(body.size(), 19)) {
    start_capture();
    fed out = feed(body, pieces);
    std::string reports = stop_capture();
    ASSERT_TRUE(out.accepted);
    ASSERT_EQ(out.lines, (std::vector<std::string>{std::string(HASH) + " 1 a", other + " 2 b", std::string(HASH) + " 4 c",
                                                   std::string(HASH) + " 5 A"}));
    ASSERT_EQ(out.count, 4);
    ASSERT_EQ(reports,
              "Warning - the remote manifest lists 'a' more than once; 3 repeated entries dropped, the first entry of "
              "each name is used.\n");
  }
}

// One line repeated over and over keeps one entry, and every repeat still
// counts against the line bound, so a flood of them ends there.
TEST_F(parser_test, a_flood_of_one_line_keeps_one_entry_and_meets_the_line_bound) {
  const std::string line = "0123456789 1 a\n";
  std::string text;
  for (int i = 0; i < 1000; i++) {
    text += line;
  }
  std::string body = compress(text, wrapper::zlib);
  start_capture();
  fed within = feed_whole(body, {OVU_MAX_INFLATED_MANIFEST_LEN, 1000, OVU_MAX_REMOTE_ENTRY_MEMORY});
  fed past = feed_whole(body, {OVU_MAX_INFLATED_MANIFEST_LEN, 999, OVU_MAX_REMOTE_ENTRY_MEMORY});
  std::string reports = stop_capture();
  EXPECT_TRUE(within.accepted);
  EXPECT_EQ(within.lines, (std::vector<std::string>{"0123456789 1 a"}));
  EXPECT_FALSE(past.accepted);
  EXPECT_NE(reports.find("manifest lists more than 999 entries, aborting."), std::string::npos) << reports;
}

TEST_F(parser_test, a_refused_manifest_refuses_every_later_piece_until_begun_again) {
  std::string bad = compress("NOT A HASH 1 x\n", wrapper::zlib);
  std::string good = compress(MANIFEST_TEXT, wrapper::zlib);
  ovu_remote_manifest_parser parser;
  start_capture();
  ASSERT_EQ(parser.begin(), 1);
  EXPECT_EQ(parser.take(bad.data(), static_cast<int32_t>(bad.size())), 0);
  EXPECT_EQ(parser.take(good.data(), static_cast<int32_t>(good.size())), 0);
  EXPECT_EQ(parser.finish(), 0);
  stop_capture();
  ASSERT_EQ(parser.begin(), 1);
  EXPECT_EQ(parser.take(good.data(), static_cast<int32_t>(good.size())), 1);
  EXPECT_EQ(parser.finish(), 1);
  EXPECT_EQ(parser.entry_count(), 4);
}

}  // namespace
