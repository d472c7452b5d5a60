// Resumed downloads against a scripted server: the request for the rest,
// and every answer to it, with the file's kept bytes judged by the body
// check before the new ones. Also which broken downloads keep their file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "http/http_downloader.h"
#include "http/verified_body.h"
#include "support/sha256.h"
#include "tests/common/diagnostic_capture.h"
#include "tests/common/file_contents.h"
#include "tests/common/scratch_directory.h"
#include "tests/http/scripted_server.h"

namespace {

const char kWhole[] = "HELLO WORLD!";  // the resource, 12 bytes
constexpr int64_t kWholeLength = 12;
const char kKept[] = "HELLO ";  // its first 6 bytes, kept from a broken try

std::string request_for(const char *range_line) {
  return std::string("GET /file HTTP/1.1\r\nHost: 127.0.0.1\r\n") + range_line +
         "Content-Length: 0\r\nAccept-Encoding: identity\r\nConnection: close\r\n\r\n";
}

std::string answer(const char *status, const std::string &headers, const std::string &body) {
  return std::string("HTTP/1.1 ") + status + "\r\n" + headers + "Content-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

struct resume_case {
  const char *name;
  std::string kept;                  // the destination file's bytes before the download
  std::vector<script_piece> pieces;  // the server's answer
  int result;
  std::string file;  // the file afterwards, MISSING_FILE_CONTENT when gone
  int resume_refused;
  qarn_body_verdict verdict;
};

std::vector<resume_case> resume_cases() {
  return {
      {"206 with the exact rest appends", kKept,
       {{answer("206 Partial Content", "Content-Range: bytes 6-11/12\r\n", "WORLD!")}}, 1, kWhole, 0,
       QARN_BODY_MATCHES},
      {"200 writes the whole file again", kKept, {{answer("200 OK", "", kWhole)}}, 1, kWhole, 0, QARN_BODY_MATCHES},
      {"206 from another offset", kKept,
       {{answer("206 Partial Content", "Content-Range: bytes 5-11/12\r\n", " WORLD!")}}, 0, MISSING_FILE_CONTENT, 1,
       QARN_BODY_UNDECIDED},
      {"206 of another whole length", kKept,
       {{answer("206 Partial Content", "Content-Range: bytes 6-12/13\r\n", "WORLD!!")}}, 0, MISSING_FILE_CONTENT, 1,
       QARN_BODY_UNDECIDED},
      {"206 that ends early", kKept,
       {{answer("206 Partial Content", "Content-Range: bytes 6-10/12\r\n", "WORLD")}}, 0, MISSING_FILE_CONTENT, 1,
       QARN_BODY_UNDECIDED},
      {"206 without a range", kKept, {{answer("206 Partial Content", "", "WORLD!")}}, 0, MISSING_FILE_CONTENT, 1,
       QARN_BODY_UNDECIDED},
      {"416", kKept, {{answer("416 Range Not Satisfiable", "Content-Range: bytes */12\r\n", "")}}, 0,
       MISSING_FILE_CONTENT, 1, QARN_BODY_UNDECIDED},
      {"a body longer than the rest", kKept,
       {{answer("206 Partial Content", "Content-Range: bytes 6-11/12\r\n", "WORLD!!")}}, 0, MISSING_FILE_CONTENT, 0,
       QARN_BODY_TOO_LONG},
      {"kept bytes that are wrong", "HELLX ",
       {{answer("206 Partial Content", "Content-Range: bytes 6-11/12\r\n", "WORLD!")}}, 0, MISSING_FILE_CONTENT, 0,
       QARN_BODY_OTHER_DIGEST},
      {"a broken rest keeps what arrived", kKept,
       {{"HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 6-11/12\r\nContent-Length: 6\r\n\r\nWOR"}}, 0,
       "HELLO WOR", 0, QARN_BODY_UNDECIDED},
      {"a broken whole body keeps what arrived", kKept, {{"HTTP/1.1 200 OK\r\nContent-Length: 12\r\n\r\nHEL"}}, 0,
       "HEL", 0, QARN_BODY_UNDECIDED},
      {"another status leaves the kept bytes alone", kKept, {{answer("404 Not Found", "", "")}}, 0, kKept, 0,
       QARN_BODY_UNDECIDED},
  };
}

struct result {
  int downloaded = -1;
  std::string request;
  std::string file;
  int resume_refused = -1;
  int64_t partial_length = -1;
  qarn_body_verdict verdict = QARN_BODY_UNDECIDED;
  std::string report;
};

class resumed_download_test : public diagnostic_capture_test {
 protected:
  // Downloads kWhole with |kept| in the destination (none when empty),
  // resuming after it, against |pieces|.
  result run(const std::string &kept, std::vector<script_piece> pieces, bool with_check = true,
             int keep_partial = 1) {
    std::string destination = scratch_.file("partial.bin");
    std::filesystem::remove(destination);
    if (!kept.empty()) {
      write_file(destination, kept);
    }
    unsigned char digest[QARN_SHA256_DIGEST_LEN];
    qarn_sha256_context context;
    qarn_sha256_init(&context);
    qarn_sha256_update(&context, kWhole, kWholeLength);
    qarn_sha256_final(&context, digest);
    qarn_verified_body check(kWholeLength, digest, QARN_DIGEST_INLINE);
    scripted_server server(std::move(pieces), script_end::close);
    EXPECT_TRUE(server.is_listening());
    qarn_http_downloader downloader;
    downloader.body_check = with_check ? &check : nullptr;
    downloader.resume_offset = static_cast<int64_t>(kept.size());
    downloader.resource_length = kWholeLength;
    downloader.keep_partial_file = keep_partial;
    result out;
    start_capture();
    EXPECT_EQ(downloader.set_connection("127.0.0.1", server.port(), 0), 1);
    out.downloaded = downloader.download("127.0.0.1", "/file", destination.c_str());
    out.report = stop_capture();
    out.request = server.finish();
    out.file = read_file(destination);
    out.resume_refused = downloader.resume_refused();
    out.partial_length = downloader.partial_length();
    out.verdict = check.verdict();
    EXPECT_EQ(downloader.output_file, nullptr);
    return out;
  }

  scratch_directory scratch_;
};

TEST_F(resumed_download_test, EachAnswerToAResumeEndsAsItShould) {
  for (const resume_case &c : resume_cases()) {
    SCOPED_TRACE(c.name);
    result out = run(c.kept, c.pieces);
    EXPECT_EQ(out.downloaded, c.result) << out.report;
    EXPECT_EQ(out.request, request_for("Range: bytes=6-\r\n"));
    EXPECT_EQ(out.file, c.file);
    EXPECT_EQ(out.resume_refused, c.resume_refused);
    EXPECT_EQ(out.verdict, c.verdict);
    const bool kept_partial = c.result == 0 && c.file != MISSING_FILE_CONTENT && c.file != c.kept;
    EXPECT_EQ(out.partial_length, kept_partial ? static_cast<int64_t>(c.file.size()) : 0);
  }
}

TEST_F(resumed_download_test, TheDownloaderItselfRefusesBytesPastTheResource) {
  result out = run(kKept, {{answer("206 Partial Content", "Content-Range: bytes 6-11/12\r\n", "WORLD!!")}}, false);
  EXPECT_EQ(out.downloaded, 0);
  EXPECT_EQ(out.file, MISSING_FILE_CONTENT);
  EXPECT_NE(out.report.find("body longer than the resource's 12 bytes"), std::string::npos) << out.report;
}

TEST_F(resumed_download_test, AWholeDownloadAsksForNoRange) {
  result out = run("", {{answer("200 OK", "", kWhole)}});
  EXPECT_EQ(out.downloaded, 1);
  EXPECT_EQ(out.request, request_for(""));
  EXPECT_EQ(out.file, kWhole);
}

// Only a download that broke keeps its file, and only when asked to.
TEST_F(resumed_download_test, OnlyABrokenDownloadKeepsItsFile) {
  const std::string broken = "HTTP/1.1 200 OK\r\nContent-Length: 12\r\n\r\nHELLO";
  result kept = run("", {{broken}});
  EXPECT_EQ(kept.downloaded, 0);
  EXPECT_EQ(kept.file, "HELLO");
  EXPECT_EQ(kept.partial_length, 5);
  result not_asked = run("", {{broken}}, true, 0);
  EXPECT_EQ(not_asked.file, MISSING_FILE_CONTENT);
  EXPECT_EQ(not_asked.partial_length, 0);
  result refused = run("", {{answer("200 OK", "", "HELLO WORLD?")}});
  EXPECT_EQ(refused.verdict, QARN_BODY_OTHER_DIGEST);
  EXPECT_EQ(refused.file, MISSING_FILE_CONTENT);
  result too_long = run("", {{answer("200 OK", "", "HELLO WORLD!!")}});
  EXPECT_EQ(too_long.verdict, QARN_BODY_TOO_LONG);
  EXPECT_EQ(too_long.file, MISSING_FILE_CONTENT);
  result nothing = run("", {{"HTTP/1.1 200 OK\r\nContent-Length: 12\r\n\r\n"}});
  EXPECT_EQ(nothing.file, MISSING_FILE_CONTENT);
}

}  // namespace
