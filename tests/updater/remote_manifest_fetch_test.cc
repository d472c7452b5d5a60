// The fetcher itself against a scripted server on loopback: whole and cut
// short manifests, framing that announces a length in the middle of a line,
// a server that trickles an endless stream, and a manifest held compressed
// (in memory or in its spill file) until it is parsed.
#include "updater/remote_manifest_fetch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "tests/common/diagnostic_capture.h"
#include "tests/common/file_contents.h"
#include "tests/common/scratch_directory.h"
#include "tests/common/zlib_stream.h"
#include "tests/http/scripted_server.h"

namespace {

const char HOST[] = "127.0.0.1";
const char PATH[] = "/torvane/manifest.lst.z";
const char HASH_A[] = "0123456789abcdef0123456789abcdef";
const char HASH_B[] = "fedcba9876543210fedcba9876543210";
const char CUT_SHORT[] =
    "Error in http_fetch_remote_manifest_data::fetch(), compressed data ended before the end of its stream.";

const std::string MANIFEST_TEXT = std::string("#torvane-serial 7\n") + HASH_A + " 5 readme.txt\n" + HASH_B +
                                  " 2048 data/maps/level 1.map\n" + HASH_A + " 1 last without line feed";
const std::vector<std::string> MANIFEST_LINES = {
    std::string(HASH_A) + " 5 readme.txt",
    std::string(HASH_B) + " 2048 data/maps/level 1.map",
    std::string(HASH_A) + " 1 last without line feed",
};

std::string with_length(const std::string &body) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string hex(size_t value) {
  char text[32];
  std::snprintf(text, sizeof(text), "%zx", value);
  return text;
}

std::vector<std::string> lines_of(const http_fetch_remote_manifest_data &fetcher) {
  std::vector<std::string> lines;
  for (const ovu_manifest_entry *e = fetcher.entries(); e != nullptr; e = e->next) {
    lines.push_back(std::string(e->hash) + " " + std::to_string(e->size) + " " + e->name);
  }
  return lines;
}

std::string sha256_of(const std::string &bytes) {
  unsigned char digest[QARN_SHA256_DIGEST_LEN];
  qarn_sha256_context context;
  qarn_sha256_init(&context);
  qarn_sha256_update(&context, bytes.data(), bytes.size());
  qarn_sha256_final(&context, digest);
  return std::string(reinterpret_cast<char *>(digest), sizeof(digest));
}

// Lines with random SHA-256 tokens: text that hardly compresses.
std::string random_manifest(int lines, uint32_t seed) {
  std::mt19937 random(seed);
  const char digits[] = "0123456789abcdef";
  std::string text = "#torvane-hash sha256\n";
  for (int i = 0; i < lines; i++) {
    for (int d = 0; d < 64; d++) {
      text += digits[random() % 16];
    }
    text += " 1 file" + std::to_string(i) + "\n";
  }
  return text;
}

class fetch_test : public diagnostic_capture_test {
 protected:
  // Runs |how| against a server that plays |pieces|; returns the reports.
  template <typename Fetch>
  std::string against(std::vector<script_piece> pieces, Fetch how, script_end end = script_end::close) {
    scripted_server server(std::move(pieces), end);
    EXPECT_TRUE(server.is_listening());
    fetcher.server_port = server.port();
    start_capture();
    how();
    std::string reports = stop_capture();
    server.finish();
    return reports;
  }

  http_fetch_remote_manifest_data fetcher;
  scratch_directory dir;
};

TEST_F(fetch_test, a_whole_manifest_gives_its_entries_with_or_without_a_length) {
  std::string body = zlib_compress(MANIFEST_TEXT);
  const std::vector<script_piece> responses[] = {
      {{with_length(body)}},
      {{"HTTP/1.1 200 OK\r\n\r\n" + body.substr(0, 9), 30}, {body.substr(9)}},
  };
  for (const auto &pieces : responses) {
    int32_t count = -2;
    against(pieces, [&] { count = fetcher.fetch(HOST, PATH); });
    EXPECT_EQ(count, 3);
    EXPECT_EQ(lines_of(fetcher), MANIFEST_LINES);
    EXPECT_EQ(fetcher.declarations().serial, 7u);
  }
}

// Every byte that arrived was delivered and the transfer itself ended as
// announced, but the compressed stream did not: a list without its last
// files must not be taken.
TEST_F(fetch_test, a_manifest_cut_short_fails) {
  std::string body = zlib_compress(MANIFEST_TEXT);
  for (size_t cut : {size_t{1}, body.size() / 2, body.size() - 1}) {
    std::string part = body.substr(0, cut);
    const std::vector<script_piece> responses[] = {
        {{with_length(part)}},
        {{"HTTP/1.1 200 OK\r\n\r\n" + part}},
        {{"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + hex(part.size()) + "\r\n" + part + "\r\n0\r\n\r\n"}},
    };
    for (const auto &pieces : responses) {
      SCOPED_TRACE(pieces[0].bytes.substr(0, 40));
      int32_t count = 0;
      std::string reports = against(pieces, [&] { count = fetcher.fetch(HOST, PATH); });
      EXPECT_EQ(count, -1) << cut;
      EXPECT_EQ(fetcher.entries(), nullptr);
      EXPECT_NE(reports.find(CUT_SHORT), std::string::npos) << reports;
    }
  }
}

// A chunk boundary at an announced length must not end a line: the bytes
// of the signed line "music/theme#2.ogg" stay one line, and "music/theme"
// keeps its own entry.
TEST_F(fetch_test, a_length_reached_in_the_middle_of_a_line_does_not_end_it) {
  const std::string text = std::string("#torvane-hash sha256\n") + HASH_B + " 6 music/theme#2.ogg\n" + HASH_A +
                           " 5 music/theme\n";
  // Stored blocks: the text travels as it is, so the cut is where the test
  // puts it.
  std::string body;
  {
    z_stream stream{};
    ASSERT_EQ(deflateInit(&stream, Z_NO_COMPRESSION), Z_OK);
    body.resize(deflateBound(&stream, text.size()) + 64);
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef *>(&body[0]);
    stream.avail_out = static_cast<uInt>(body.size());
    ASSERT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    body.resize(stream.total_out);
    deflateEnd(&stream);
  }
  size_t cut = body.find("music/theme#2.ogg");
  ASSERT_NE(cut, std::string::npos);
  cut += std::string("music/theme").size();
  std::string response = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: " + std::to_string(cut) +
                         "\r\n\r\n" + hex(cut) + "\r\n" + body.substr(0, cut) + "\r\n";
  std::string rest = hex(body.size() - cut) + "\r\n" + body.substr(cut) + "\r\n0\r\n\r\n";
  int32_t count = 0;
  against({{response, 50}, {rest}}, [&] { count = fetcher.fetch(HOST, PATH); });
  EXPECT_EQ(count, 2);
  EXPECT_EQ(lines_of(fetcher), (std::vector<std::string>{std::string(HASH_B) + " 6 music/theme#2.ogg",
                                                          std::string(HASH_A) + " 5 music/theme"}));
}

// A valid stream that never ends, dripped slowly enough that neither the
// idle nor the low-speed bound of the download ever fires: the deadline
// ends it.
TEST_F(fetch_test, a_manifest_trickled_for_ever_meets_the_deadline) {
  std::string body = zlib_compress(random_manifest(4000, 3));
  std::vector<script_piece> pieces = {{"HTTP/1.1 200 OK\r\n\r\n"}};
  const size_t drop = 100;
  for (size_t offset = 0; offset + drop < body.size() && pieces.size() < 200; offset += drop) {
    pieces.push_back({body.substr(offset, drop), 50});  // 2000 bytes a second, for 10 s
  }
  fetcher.deadline_ms = 1000;
  int32_t count = 0;
  auto start = std::chrono::steady_clock::now();
  std::string reports = against(pieces, [&] { count = fetcher.fetch(HOST, PATH); });
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(count, -1);
  EXPECT_NE(reports.find("Error in qarn_http_downloader::download(), response not complete within 1000 ms, giving up."),
            std::string::npos)
      << reports;
  EXPECT_LT(elapsed, std::chrono::seconds(5));
}

// The same trickle, held for a signature check, meets the same deadline.
TEST_F(fetch_test, a_held_manifest_trickled_for_ever_meets_the_deadline) {
  std::string body = zlib_compress(random_manifest(4000, 4));
  std::vector<script_piece> pieces = {{"HTTP/1.1 200 OK\r\n\r\n"}};
  for (size_t offset = 0; offset + 100 < body.size() && pieces.size() < 200; offset += 100) {
    pieces.push_back({body.substr(offset, 100), 50});
  }
  fetcher.deadline_ms = 1000;
  int held = 1;
  std::string reports = against(pieces, [&] { held = fetcher.fetch_held(HOST, PATH, dir.file("held").c_str()); });
  EXPECT_EQ(held, 0);
  EXPECT_NE(reports.find("response not complete within 1000 ms"), std::string::npos) << reports;
}

struct held_case {
  const char *what;
  int64_t memory_len;
  bool spilled;
};

// Nothing is parsed while the manifest is held; its digest is that of the
// body as it came; parse_held gives the entries and lets the bytes go.
TEST_F(fetch_test, a_held_manifest_is_parsed_only_when_asked_and_its_spill_file_goes) {
  std::string body = zlib_compress(random_manifest(3000, 5)) + "trailing bytes";
  const held_case cases[] = {
      {"in memory", OVU_HELD_MANIFEST_MEMORY_LEN, false},
      {"in the spill file", 1024, true},
  };
  for (const held_case &c : cases) {
    SCOPED_TRACE(c.what);
    std::string spill = dir.file("tmp/update.tmp.manifest");
    fetcher.held.memory_len = c.memory_len;
    int held = 0;
    std::string response = with_length(body);
    against({{response.substr(0, 5000), 20}, {response.substr(5000)}},
            [&] { held = fetcher.fetch_held(HOST, PATH, spill.c_str()); });
    ASSERT_EQ(held, 1);
    EXPECT_EQ(fetcher.entries(), nullptr);
    EXPECT_EQ(fetcher.held.length(), static_cast<int64_t>(body.size()));
    EXPECT_EQ(std::filesystem::exists(spill), c.spilled);
    if (c.spilled) {
      EXPECT_EQ(read_file(spill), body);
    }
    EXPECT_EQ(std::string(reinterpret_cast<char *>(fetcher.body_digest), QARN_SHA256_DIGEST_LEN), sha256_of(body));
    EXPECT_EQ(fetcher.parse_held(), 3000);
    EXPECT_EQ(fetcher.declarations().sha256_tokens, 1);
    EXPECT_FALSE(std::filesystem::exists(spill));
    EXPECT_EQ(fetcher.held.length(), 0);
  }
}

TEST_F(fetch_test, a_spill_file_changed_after_the_digest_is_not_parsed) {
  std::string body = zlib_compress(random_manifest(500, 6));
  std::string spill = dir.file("tmp/update.tmp.manifest");
  fetcher.held.memory_len = 1024;
  int held = 0;
  against({{with_length(body)}}, [&] { held = fetcher.fetch_held(HOST, PATH, spill.c_str()); });
  ASSERT_EQ(held, 1);
  // Another, shorter valid manifest, padded to the same length, takes the
  // held one's place: parsed, it would be accepted.
  std::string other = zlib_compress(random_manifest(400, 7));
  other.resize(body.size(), '\0');
  {
    FILE *file = std::fopen(spill.c_str(), "r+b");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fwrite(other.data(), 1, other.size(), file), other.size());
    std::fclose(file);
  }
  start_capture();
  int32_t count = fetcher.parse_held();
  std::string reports = stop_capture();
  EXPECT_EQ(count, -1);
  EXPECT_EQ(fetcher.entries(), nullptr);
  EXPECT_NE(reports.find("the kept manifest changed before it was parsed"), std::string::npos) << reports;
  EXPECT_FALSE(std::filesystem::exists(spill));
}

TEST_F(fetch_test, a_failed_held_download_keeps_nothing) {
  std::string body = zlib_compress(random_manifest(500, 8));
  std::string spill = dir.file("tmp/update.tmp.manifest");
  fetcher.held.memory_len = 1024;
  int held = 1;
  // The connection ends before the announced length.
  std::string response = with_length(body);
  against({{response.substr(0, response.size() - 10)}}, [&] { held = fetcher.fetch_held(HOST, PATH, spill.c_str()); });
  EXPECT_EQ(held, 0);
  EXPECT_EQ(fetcher.held.length(), 0);
  EXPECT_FALSE(std::filesystem::exists(spill));
  EXPECT_EQ(fetcher.parse_held(), -1);
}

TEST_F(fetch_test, a_held_manifest_longer_than_its_bound_is_refused) {
  std::string body = zlib_compress(random_manifest(500, 9));
  fetcher.held.memory_len = 1024;
  fetcher.held.max_len = static_cast<int64_t>(body.size()) - 1;
  int held = 1;
  std::string spill = dir.file("tmp/update.tmp.manifest");
  std::string reports = against({{with_length(body)}}, [&] { held = fetcher.fetch_held(HOST, PATH, spill.c_str()); });
  EXPECT_EQ(held, 0);
  EXPECT_NE(reports.find("manifest is longer than " + std::to_string(body.size() - 1) + " bytes, aborting."),
            std::string::npos)
      << reports;
  EXPECT_FALSE(std::filesystem::exists(spill));
}

void note_progress(void *data, int64_t received, int64_t total) {
  static_cast<std::vector<std::pair<int64_t, int64_t>> *>(data)->push_back({received, total});
}

TEST_F(fetch_test, forwards_the_download_progress) {
  std::string body = zlib_compress(MANIFEST_TEXT);
  std::vector<std::pair<int64_t, int64_t>> progress;
  fetcher.progress_data = &progress;
  fetcher.progress_forward = note_progress;
  against({{with_length(body)}}, [&] { fetcher.fetch(HOST, PATH); });
  const int64_t length = static_cast<int64_t>(body.size());
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.front(), std::make_pair(int64_t{0}, length));
  EXPECT_EQ(progress.back(), std::make_pair(length, length));
}

}  // namespace
