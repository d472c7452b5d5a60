// The body check of a file whose size and SHA-256 were published: on its
// own, and inside a download from a scripted server that answers 200 with
// other bytes.
#include "http/verified_body.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "http/http_downloader.h"
#include "support/sha256.h"
#include "tests/common/file_contents.h"
#include "tests/common/scratch_directory.h"
#include "tests/http/scripted_server.h"

namespace {

struct digest {
  unsigned char bytes[QARN_SHA256_DIGEST_LEN];
};

digest sha256_of(const std::string &data) {
  digest d;
  qarn_sha256_context context;
  qarn_sha256_init(&context);
  qarn_sha256_update(&context, data.data(), data.size());
  qarn_sha256_final(&context, d.bytes);
  return d;
}

// Feeds |pieces| and finishes, as a download would.
qarn_body_verdict judge(const std::string &published, const std::vector<std::string> &pieces, int *taken_all) {
  digest expected = sha256_of(published);
  qarn_verified_body check(static_cast<int64_t>(published.size()), expected.bytes);
  *taken_all = 1;
  for (const std::string &piece : pieces) {
    if (!check.take(piece.data(), static_cast<int32_t>(piece.size()))) {
      *taken_all = 0;
      return check.verdict();
    }
  }
  check.finish();
  return check.verdict();
}

TEST(verified_body_test, judges_size_and_digest) {
  const std::string file = "the published bytes of a game file";
  struct {
    const char *label;
    std::vector<std::string> pieces;
    qarn_body_verdict verdict;
    int taken_all;
  } cases[] = {
      {"whole", {file}, QARN_BODY_MATCHES, 1},
      {"in pieces", {file.substr(0, 5), "", file.substr(5, 7), file.substr(12)}, QARN_BODY_MATCHES, 1},
      {"other bytes of the same size", {std::string(file.size(), 'x')}, QARN_BODY_OTHER_DIGEST, 1},
      {"one byte changed", {file.substr(0, 10) + "X" + file.substr(11)}, QARN_BODY_OTHER_DIGEST, 1},
      {"one byte short", {file.substr(1)}, QARN_BODY_TOO_SHORT, 1},
      {"nothing", {}, QARN_BODY_TOO_SHORT, 1},
      {"one byte more", {file + "!"}, QARN_BODY_TOO_LONG, 0},
      {"more in a later piece", {file, "!"}, QARN_BODY_TOO_LONG, 0},
  };
  for (const auto &c : cases) {
    int taken_all = -1;
    EXPECT_EQ(judge(file, c.pieces, &taken_all), c.verdict) << c.label;
    EXPECT_EQ(taken_all, c.taken_all) << c.label;
  }
}

TEST(verified_body_test, an_empty_file_and_a_negative_size) {
  int taken_all = -1;
  EXPECT_EQ(judge("", {}, &taken_all), QARN_BODY_MATCHES);
  digest any = sha256_of("");
  qarn_verified_body negative(-5, any.bytes);
  EXPECT_EQ(negative.take("a", 1), 0);
  EXPECT_EQ(negative.verdict(), QARN_BODY_TOO_LONG);
}

TEST(verified_body_test, every_verdict_has_its_phrase) {
  EXPECT_STREQ(qarn_body_verdict_text(QARN_BODY_TOO_LONG), "more bytes than the published size arrived");
  EXPECT_STREQ(qarn_body_verdict_text(QARN_BODY_TOO_SHORT), "fewer bytes than the published size arrived");
  EXPECT_STREQ(qarn_body_verdict_text(QARN_BODY_OTHER_DIGEST), "its SHA-256 differs from the published one");
}

std::string response_200(const std::string &body) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

struct checked_download {
  int result;
  qarn_body_verdict verdict;
  int64_t received;
  bool file_exists;
  std::string file;
};

// Downloads from a server that answers |answer| into a file, checked
// against |published|.
checked_download download_checked(const std::string &published, const std::string &answer, script_end end) {
  scratch_directory dir;
  scripted_server server({{answer}}, end);
  EXPECT_TRUE(server.is_listening());
  digest expected = sha256_of(published);
  qarn_verified_body check(static_cast<int64_t>(published.size()), expected.bytes);
  qarn_http_downloader downloader;
  downloader.idle_timeout_ms = 5000;
  downloader.body_check = &check;
  EXPECT_EQ(downloader.set_connection("127.0.0.1", server.port(), 0), 1);
  std::string destination = dir.file("update.tmp");
  testing::internal::CaptureStdout();
  checked_download out;
  out.result = downloader.download("127.0.0.1", "/file", destination.c_str());
  testing::internal::GetCapturedStdout();
  out.verdict = check.verdict();
  out.received = check.received();
  out.file_exists = dir.exists("update.tmp");
  out.file = out.file_exists ? read_file(destination) : "";
  return out;
}

TEST(verified_download_test, the_published_bytes_pass) {
  const std::string file = std::string(200000, 'g') + "end";
  checked_download out = download_checked(file, response_200(file), script_end::close);
  EXPECT_EQ(out.result, 1);
  EXPECT_EQ(out.verdict, QARN_BODY_MATCHES);
  EXPECT_EQ(out.file, file);
}

TEST(verified_download_test, other_bytes_of_the_right_length_fail_and_leave_no_file) {
  const std::string file = std::string(20000, 'g');
  checked_download out = download_checked(file, response_200(std::string(20000, 'h')), script_end::close);
  EXPECT_EQ(out.result, 0);
  EXPECT_EQ(out.verdict, QARN_BODY_OTHER_DIGEST);
  EXPECT_FALSE(out.file_exists);
}

TEST(verified_download_test, a_shorter_body_fails_and_leaves_no_file) {
  const std::string file = std::string(20000, 'g');
  checked_download out = download_checked(file, response_200(file.substr(0, 1000)), script_end::close);
  EXPECT_EQ(out.result, 0);
  EXPECT_EQ(out.verdict, QARN_BODY_TOO_SHORT);
  EXPECT_FALSE(out.file_exists);
}

// A body far longer than published is cut off where it passes the
// published size, not read to its end: the server holds the connection
// open after 4 MiB, which the download would wait on if it read on.
TEST(verified_download_test, a_longer_body_is_cut_off_at_once) {
  const std::string file = std::string(1000, 'g');
  std::string huge(4 * 1024 * 1024, 'g');
  auto start = std::chrono::steady_clock::now();
  checked_download out = download_checked(
      file, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(huge.size() * 2) + "\r\n\r\n" + huge,
      script_end::hold);
  EXPECT_EQ(out.result, 0);
  EXPECT_EQ(out.verdict, QARN_BODY_TOO_LONG);
  EXPECT_LE(out.received, 1000);
  EXPECT_FALSE(out.file_exists);
  // Well below the 5 s the download would wait for more of a held body.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

}  // namespace
