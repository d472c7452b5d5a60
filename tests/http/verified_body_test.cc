// The body check of a file whose size and SHA-256 were published: on its
// own, and inside a download from a scripted server that answers 200 with
// other bytes; each hashed on the caller's thread and on a worker.
#include "http/verified_body.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "http/http_downloader.h"
#include "platform/processors.h"
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

const qarn_digest_placement kPlacements[] = {QARN_DIGEST_INLINE, QARN_DIGEST_BESIDE};

const char *name_of(qarn_digest_placement placement) {
  return placement == QARN_DIGEST_INLINE ? "inline" : placement == QARN_DIGEST_BESIDE ? "beside" : "chosen";
}

// Feeds |pieces| and finishes, as a download would.
qarn_body_verdict judge(const std::string &published, const std::vector<std::string> &pieces, int *taken_all,
                        qarn_digest_placement placement = QARN_DIGEST_INLINE) {
  digest expected = sha256_of(published);
  qarn_verified_body check(static_cast<int64_t>(published.size()), expected.bytes, placement);
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
      {"the last byte changed", {file.substr(0, file.size() - 1) + "X"}, QARN_BODY_OTHER_DIGEST, 1},
      {"the last byte changed, alone in its piece", {file.substr(0, file.size() - 1), "X"}, QARN_BODY_OTHER_DIGEST, 1},
      {"one byte short", {file.substr(1)}, QARN_BODY_TOO_SHORT, 1},
      {"nothing", {}, QARN_BODY_TOO_SHORT, 1},
      {"one byte more", {file + "!"}, QARN_BODY_TOO_LONG, 0},
      {"more in a later piece", {file, "!"}, QARN_BODY_TOO_LONG, 0},
  };
  for (qarn_digest_placement placement : kPlacements) {
    for (const auto &c : cases) {
      int taken_all = -1;
      EXPECT_EQ(judge(file, c.pieces, &taken_all, placement), c.verdict) << c.label << ", " << name_of(placement);
      EXPECT_EQ(taken_all, c.taken_all) << c.label << ", " << name_of(placement);
    }
  }
  EXPECT_EQ(qarn_background_digest::live_workers(), 0);
}

TEST(verified_body_test, an_empty_file_and_a_negative_size) {
  for (qarn_digest_placement placement : kPlacements) {
    int taken_all = -1;
    EXPECT_EQ(judge("", {}, &taken_all, placement), QARN_BODY_MATCHES) << name_of(placement);
  }
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
  bool hashed_beside;
  int32_t live_workers;  // once the download returned, while its check still existed
};

// Downloads from a server that answers |answer| into a file, checked
// against |published| and its SHA-256, or against |published_digest| when
// it is given.
checked_download download_checked(const std::string &published, const std::string &answer, script_end end,
                                  qarn_digest_placement placement = QARN_DIGEST_INLINE,
                                  const digest *published_digest = nullptr) {
  scratch_directory dir;
  scripted_server server({{answer}}, end);
  EXPECT_TRUE(server.is_listening());
  digest expected = published_digest != nullptr ? *published_digest : sha256_of(published);
  qarn_verified_body check(static_cast<int64_t>(published.size()), expected.bytes, placement);
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
  out.hashed_beside = check.hashed_beside();
  out.live_workers = qarn_background_digest::live_workers();
  return out;
}

TEST(verified_download_test, the_published_bytes_pass) {
  const std::string file = std::string(200000, 'g') + "end";
  for (qarn_digest_placement placement : kPlacements) {
    checked_download out = download_checked(file, response_200(file), script_end::close, placement);
    EXPECT_EQ(out.result, 1) << name_of(placement);
    EXPECT_EQ(out.verdict, QARN_BODY_MATCHES) << name_of(placement);
    EXPECT_EQ(out.file, file) << name_of(placement);
    EXPECT_EQ(out.hashed_beside, placement == QARN_DIGEST_BESIDE) << name_of(placement);
    EXPECT_EQ(out.live_workers, 0) << name_of(placement);
  }
}

// Failed checks leave no file, and stop the worker as soon as the verdict
// is known, not only when the check goes away.
TEST(verified_download_test, refused_bodies_leave_no_file_and_no_worker) {
  const std::string file = std::string(20000, 'g');
  struct {
    const char *label;
    std::string answer;
    qarn_body_verdict verdict;
  } cases[] = {
      {"other bytes of the right length", response_200(std::string(20000, 'h')), QARN_BODY_OTHER_DIGEST},
      {"a shorter body", response_200(file.substr(0, 1000)), QARN_BODY_TOO_SHORT},
      {"a longer body", response_200(file + "g"), QARN_BODY_TOO_LONG},
  };
  for (qarn_digest_placement placement : kPlacements) {
    for (const auto &c : cases) {
      checked_download out = download_checked(file, c.answer, script_end::close, placement);
      EXPECT_EQ(out.result, 0) << c.label << ", " << name_of(placement);
      EXPECT_EQ(out.verdict, c.verdict) << c.label << ", " << name_of(placement);
      EXPECT_FALSE(out.file_exists) << c.label << ", " << name_of(placement);
      EXPECT_EQ(out.hashed_beside, placement == QARN_DIGEST_BESIDE) << c.label << ", " << name_of(placement);
      EXPECT_EQ(out.live_workers, 0) << c.label << ", " << name_of(placement);
    }
  }
}

// A body far longer than published is cut off where it passes the
// published size, not read to its end: the server holds the connection
// open after 4 MiB, which the download would wait on if it read on.
TEST(verified_download_test, a_longer_body_is_cut_off_at_once) {
  const std::string file = std::string(1000, 'g');
  std::string huge(4 * 1024 * 1024, 'g');
  for (qarn_digest_placement placement : kPlacements) {
    auto start = std::chrono::steady_clock::now();
    checked_download out = download_checked(
        file, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(huge.size() * 2) + "\r\n\r\n" + huge,
        script_end::hold, placement);
    EXPECT_EQ(out.result, 0) << name_of(placement);
    EXPECT_EQ(out.verdict, QARN_BODY_TOO_LONG) << name_of(placement);
    EXPECT_LE(out.received, 1000) << name_of(placement);
    EXPECT_FALSE(out.file_exists) << name_of(placement);
    EXPECT_EQ(out.live_workers, 0) << name_of(placement);
    // Well below the 5 s the download would wait for more of a held body.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3)) << name_of(placement);
  }
}

// Only the last byte tells these bodies from the published file: the
// worker must hash the partly filled buffer at the end, and the comparison
// must cover the whole digest. The body spans several rings of the
// worker's buffers and ends inside one.
TEST(verified_download_test, the_last_byte_decides) {
  const size_t length = 3 * QARN_BACKGROUND_DIGEST_BUFFER_COUNT * QARN_BACKGROUND_DIGEST_BUFFER_LEN + 1234;
  std::string file(length, '\0');
  for (size_t i = 0; i < length; i++) {
    file[i] = static_cast<char>((i * 31 + i / 4099) & 0xff);
  }
  std::string last_byte_changed = file;
  last_byte_changed.back() = static_cast<char>(last_byte_changed.back() ^ 0x01);
  digest last_digest_byte_changed = sha256_of(file);
  last_digest_byte_changed.bytes[QARN_SHA256_DIGEST_LEN - 1] ^= 0x01;
  struct {
    const char *label;
    const std::string *served;
    const digest *published_digest;  // null: the SHA-256 of the file
    qarn_body_verdict verdict;
  } cases[] = {
      {"the published file", &file, nullptr, QARN_BODY_MATCHES},
      {"the body's last byte differs", &last_byte_changed, nullptr, QARN_BODY_OTHER_DIGEST},
      {"the published digest's last byte differs", &file, &last_digest_byte_changed, QARN_BODY_OTHER_DIGEST},
  };
  for (qarn_digest_placement placement : kPlacements) {
    for (const auto &c : cases) {
      checked_download out =
          download_checked(file, response_200(*c.served), script_end::close, placement, c.published_digest);
      bool matches = c.verdict == QARN_BODY_MATCHES;
      EXPECT_EQ(out.result, matches ? 1 : 0) << c.label << ", " << name_of(placement);
      EXPECT_EQ(out.verdict, c.verdict) << c.label << ", " << name_of(placement);
      EXPECT_EQ(out.received, static_cast<int64_t>(length)) << c.label << ", " << name_of(placement);
      EXPECT_EQ(out.file_exists, matches) << c.label << ", " << name_of(placement);
      EXPECT_EQ(out.hashed_beside, placement == QARN_DIGEST_BESIDE) << c.label << ", " << name_of(placement);
    }
  }
}

// A connection that breaks in the middle of the body fails the download;
// the worker, still waiting for the rest, is stopped and joined when the
// check goes away, as the updater drops it after a failed download.
TEST(verified_download_test, a_body_cut_midway_stops_the_worker) {
  const std::string file(2 * 1024 * 1024, 'g');
  const std::string half = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(file.size()) + "\r\n\r\n" +
                           file.substr(0, file.size() / 2);
  for (script_end end : {script_end::close, script_end::reset}) {
    checked_download out = download_checked(file, half, end, QARN_DIGEST_BESIDE);
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(out.verdict, QARN_BODY_UNDECIDED);
    EXPECT_TRUE(out.hashed_beside);
    EXPECT_FALSE(out.file_exists);
    EXPECT_EQ(qarn_background_digest::live_workers(), 0);
  }
}

// Left to choose, a large body is hashed beside exactly when the process
// may run on two or more processors (the test also runs confined to one),
// a small one always inline.
TEST(verified_download_test, the_worker_is_chosen_for_large_bodies_on_several_processors) {
  const bool several = platform_processor_count() >= 2;
  struct {
    size_t length;
    bool beside;
  } cases[] = {
      {static_cast<size_t>(QARN_DIGEST_BESIDE_MIN_SIZE), several},
      {static_cast<size_t>(QARN_DIGEST_BESIDE_MIN_SIZE) - 1, false},
      {4096, false},
  };
  for (const auto &c : cases) {
    const std::string file(c.length, 'c');
    checked_download out = download_checked(file, response_200(file), script_end::close, QARN_DIGEST_CHOSEN);
    EXPECT_EQ(out.result, 1) << c.length;
    EXPECT_EQ(out.hashed_beside, c.beside) << c.length << " bytes, " << platform_processor_count() << " processors";
  }
}

}  // namespace
