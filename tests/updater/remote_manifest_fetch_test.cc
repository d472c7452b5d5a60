// The fetcher's inflate-and-split path, fed as the downloader feeds it: a
// progress call before the first block, then each block followed by a
// progress call. Every case runs whole, at every split (or a sample of
// them), byte by byte and in random splits.
#include "updater/remote_manifest_fetch.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "tests/common/diagnostic_capture.h"
#include "tests/common/zlib_stream.h"

namespace {

constexpr int32_t LENGTH_UNKNOWN = -1;
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
  bool accepted = false;  // every block was taken and the stream ended whole
  std::vector<std::string> lines;  // "hash size name" of each entry
  int32_t count = 0;
  std::vector<std::pair<int64_t, int64_t>> progress;
};

void note_progress(void *data, int64_t received, int64_t total) {
  static_cast<fed *>(data)->progress.push_back({received, total});
}

// Feeds |body| in the pieces of |pieces| as the downloader would.
fed feed(const std::string &body, const split &pieces, bool with_length,
         int64_t max_inflated = OVU_MAX_INFLATED_MANIFEST_LEN) {
  fed out;
  http_fetch_remote_manifest_data fetcher;
  fetcher.max_inflated_len = max_inflated;
  fetcher.progress_data = &out;
  fetcher.progress_forward = note_progress;
  EXPECT_EQ(fetcher.begin_inflation(), 1);
  int32_t total = with_length ? static_cast<int32_t>(body.size()) : LENGTH_UNKNOWN;
  bool taken = true;
  int32_t received = 0;
  if (!body.empty()) {
    http_fetch_remote_manifest_data::download_progress_callback(&fetcher, 0, total);
  }
  for (size_t piece : pieces) {
    if (piece == 0) {
      continue;
    }
    if (!http_fetch_remote_manifest_data::download_data_callback(&fetcher, body.data() + received,
                                                                 static_cast<int32_t>(piece))) {
      taken = false;
      break;
    }
    received += static_cast<int32_t>(piece);
    http_fetch_remote_manifest_data::download_progress_callback(&fetcher, received, total);
  }
  bool whole = fetcher.end_inflation() == 1;
  out.accepted = taken && whole;
  out.count = fetcher.entry_count;
  for (const ovu_manifest_entry *e = fetcher.entries(); e != nullptr; e = e->next) {
    out.lines.push_back(std::string(e->hash) + " " + std::to_string(e->size) + " " + e->name);
  }
  return out;
}

class fetch_split_test : public diagnostic_capture_test {};

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

TEST_F(fetch_split_test, zlib_and_gzip_give_the_same_entries_at_every_split) {
  for (wrapper how : {wrapper::zlib, wrapper::gzip}) {
    std::string body = compress(MANIFEST_TEXT, how);
    for (const split &pieces : splits_of(body.size(), 7)) {
      fed out = feed(body, pieces, true);
      ASSERT_TRUE(out.accepted) << (how == wrapper::zlib ? "zlib" : "gzip") << ", " << pieces.size() << " pieces";
      ASSERT_EQ(out.lines, MANIFEST_LINES);
      ASSERT_EQ(out.count, 4);
    }
  }
}

TEST_F(fetch_split_test, a_last_line_without_its_line_feed_is_parsed_with_or_without_a_length) {
  std::string text = std::string(MANIFEST_TEXT) + HASH + " 5 last";
  std::string body = compress(text, wrapper::zlib);
  for (bool with_length : {true, false}) {
    for (const split &pieces : splits_of(body.size(), 11)) {
      fed out = feed(body, pieces, with_length);
      ASSERT_TRUE(out.accepted);
      ASSERT_EQ(out.lines.size(), 5u);
      ASSERT_EQ(out.lines.back(), std::string(HASH) + " 5 last");
    }
  }
}

TEST_F(fetch_split_test, forwards_every_progress_call) {
  std::string body = compress(MANIFEST_TEXT, wrapper::zlib);
  int64_t length = static_cast<int64_t>(body.size());
  fed out = feed(body, {10, body.size() - 10}, true);
  EXPECT_EQ(out.progress, (std::vector<std::pair<int64_t, int64_t>>{{0, length}, {10, length}, {length, length}}));
}

// The digest covers the body's bytes as they came, trailing bytes
// included: what a release signature signs.
TEST_F(fetch_split_test, the_body_digest_is_the_sha256_of_every_body_byte) {
  std::string body = compress(MANIFEST_TEXT, wrapper::gzip) + "trailing bytes";
  unsigned char expected[QARN_SHA256_DIGEST_LEN];
  qarn_sha256_context context;
  qarn_sha256_init(&context);
  qarn_sha256_update(&context, body.data(), body.size());
  qarn_sha256_final(&context, expected);
  for (const split &pieces : {split{body.size()}, split(body.size(), 1), split{7, body.size() - 7}}) {
    http_fetch_remote_manifest_data fetcher;
    fetcher.digest_body = true;
    ASSERT_EQ(fetcher.begin_inflation(), 1);
    size_t offset = 0;
    for (size_t piece : pieces) {
      ASSERT_EQ(http_fetch_remote_manifest_data::download_data_callback(&fetcher, body.data() + offset,
                                                                        static_cast<int32_t>(piece)),
                1);
      offset += piece;
    }
    ASSERT_EQ(fetcher.end_inflation(), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(fetcher.body_digest), sizeof(expected)),
              std::string(reinterpret_cast<char *>(expected), sizeof(expected)));
  }
}

TEST_F(fetch_split_test, an_empty_body_gives_no_entries_and_no_error) {
  fed out = feed("", {}, true);
  EXPECT_TRUE(out.accepted);
  EXPECT_EQ(out.count, 0);
  EXPECT_TRUE(out.progress.empty());
}

TEST_F(fetch_split_test, bytes_after_the_end_of_the_stream_are_ignored) {
  std::string body = compress(MANIFEST_TEXT, wrapper::gzip) + "trailing garbage that is not zlib";
  for (const split &pieces : splits_of(body.size(), 13)) {
    fed out = feed(body, pieces, true);
    ASSERT_TRUE(out.accepted);
    ASSERT_EQ(out.lines, MANIFEST_LINES);
  }
}

TEST_F(fetch_split_test, a_manifest_that_compresses_fifty_to_one_is_parsed_whole) {
  std::string text;
  const int lines = 40000;
  for (int i = 0; i < lines; i++) {
    text += std::string(HASH) + " 4096 data/textures/a_rather_long_directory_name/tile.dat\n";
  }
  std::string body = compress(text, wrapper::zlib);
  ASSERT_GT(text.size() / body.size(), 50u);
  for (const split &pieces : {split{body.size()}, split(body.size(), 1), split{body.size() / 2, body.size() - body.size() / 2}}) {
    fed out = feed(body, pieces, true);
    ASSERT_TRUE(out.accepted);
    EXPECT_EQ(out.count, lines);
  }
}

struct refused_case {
  const char *what;
  std::string body;
  const char *report;  // a line the diagnostics must show
};

TEST_F(fetch_split_test, refuses_broken_streams_with_a_report) {
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
      fed out = feed(c.body, pieces, true);
      std::string reports = stop_capture();
      EXPECT_FALSE(out.accepted) << c.what;
      EXPECT_NE(reports.find(c.report), std::string::npos) << c.what << ": " << reports;
    }
  }
}

TEST_F(fetch_split_test, a_bad_line_fails_the_fetch_and_frees_every_entry) {
  std::string text = std::string(MANIFEST_TEXT) + "NOT A HASH 1 x\n" + HASH + " 1 after\n";
  std::string body = compress(text, wrapper::zlib);
  for (const split &pieces : splits_of(body.size(), 17)) {
    start_capture();
    fed out = feed(body, pieces, true);
    std::string reports = stop_capture();
    ASSERT_FALSE(out.accepted);
    ASSERT_EQ(out.count, 0);
    ASSERT_TRUE(out.lines.empty());
    ASSERT_EQ(reports,
              "Syntax error in downloaded data - bad or missing hash field for line:\nNOT A HASH 1 x\n");
  }
}

TEST_F(fetch_split_test, a_bad_last_line_without_line_feed_fails_too) {
  std::string body = compress(std::string(MANIFEST_TEXT) + "zzz", wrapper::zlib);
  for (bool with_length : {true, false}) {
    start_capture();
    fed out = feed(body, {body.size()}, with_length);
    stop_capture();
    EXPECT_FALSE(out.accepted);
    EXPECT_EQ(out.count, 0);
  }
}

TEST_F(fetch_split_test, a_manifest_that_inflates_beyond_the_bound_is_refused) {
  std::string text(1 << 20, '#');  // one huge comment line, 1 MiB
  std::string body = compress(text, wrapper::zlib);
  start_capture();
  fed out = feed(body, {body.size()}, true, 512 * 1024);
  std::string reports = stop_capture();
  EXPECT_FALSE(out.accepted);
  EXPECT_NE(reports.find("manifest inflates to more than 524288 bytes, aborting."), std::string::npos) << reports;
  start_capture();
  fed within = feed(body, {body.size()}, true, 2 * 1024 * 1024);
  stop_capture();
  EXPECT_TRUE(within.accepted);
}

TEST_F(fetch_split_test, a_line_longer_than_its_buffer_keeps_its_first_5999_characters) {
  std::string name(7000, 'n');
  std::string body = compress(std::string(HASH) + " 1 " + name + "\n", wrapper::zlib);
  start_capture();
  fed out = feed(body, {body.size()}, true);
  std::string reports = stop_capture();
  ASSERT_TRUE(out.accepted);
  ASSERT_EQ(out.lines.size(), 1u);
  EXPECT_EQ(out.lines[0], std::string(HASH) + " 1 " + name.substr(0, 5999 - 35));
  EXPECT_NE(reports.find("String Buffer overflow"), std::string::npos);
}

}  // namespace
