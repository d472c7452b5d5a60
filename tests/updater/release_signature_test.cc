// The signature file: its one line, and its download from a scripted
// server, bounded in bytes and in time.
#include "updater/release_signature.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "tests/common/diagnostic_capture.h"
#include "tests/http/scripted_server.h"

namespace {

const std::string HEX = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff"
                        "0123456789abcdef0123456789abcdef0123456789abcdef0123456789ABCDEF";

TEST(release_signature_test, parses_the_signature_line_with_or_without_its_line_feed) {
  for (const std::string &text : {std::string(OVU_SIGNATURE_PREFIX) + HEX + "\n", std::string(OVU_SIGNATURE_PREFIX) + HEX}) {
    unsigned char signature[OVU_SIGNATURE_LEN] = {};
    ASSERT_EQ(parse_release_signature(text.data(), static_cast<int32_t>(text.size()), signature), 1) << text;
    EXPECT_EQ(signature[0], 0x00);
    EXPECT_EQ(signature[1], 0x11);
    EXPECT_EQ(signature[31], 0xff);
    EXPECT_EQ(signature[63], 0xef);
  }
}

TEST(release_signature_test, formats_what_it_parses) {
  unsigned char signature[OVU_SIGNATURE_LEN];
  for (int i = 0; i < OVU_SIGNATURE_LEN; i++) {
    signature[i] = static_cast<unsigned char>(i * 7 + 3);
  }
  std::string text = format_release_signature(signature);
  unsigned char parsed[OVU_SIGNATURE_LEN] = {};
  ASSERT_EQ(parse_release_signature(text.data(), static_cast<int32_t>(text.size()), parsed), 1) << text;
  EXPECT_EQ(std::string(reinterpret_cast<char *>(parsed), sizeof(parsed)),
            std::string(reinterpret_cast<char *>(signature), sizeof(signature)));
}

TEST(release_signature_test, refuses_anything_else) {
  const std::string prefix = OVU_SIGNATURE_PREFIX;
  const std::string cases[] = {
      "",
      prefix,
      prefix + HEX.substr(2),
      prefix + HEX + "00",
      prefix + HEX + "\n\n",
      prefix + HEX + "\r\n",
      // The right length for a line with its line feed, but no line feed.
      prefix + HEX + "0",
      prefix + HEX + " ",
      prefix + HEX + "\r",
      prefix + HEX.substr(1) + "\n\n",
      prefix + HEX.substr(0, 127) + "g",
      " " + prefix + HEX,
      "torvane-signature ed25519 " + HEX,
      "<html>404 Not Found</html>",
  };
  for (const std::string &text : cases) {
    unsigned char signature[OVU_SIGNATURE_LEN];
    EXPECT_EQ(parse_release_signature(text.data(), static_cast<int32_t>(text.size()), signature), 0) << text;
  }
}

// The caller's buffer of OVU_SIGNATURE_FILE_MAX_LEN bytes, with guard
// bytes after it that no download may touch.
struct guarded_text {
  static constexpr size_t GUARD_LEN = 4096;
  std::vector<char> bytes = std::vector<char>(OVU_SIGNATURE_FILE_MAX_LEN + GUARD_LEN, 'G');
  bool guard_intact() const {
    for (size_t i = OVU_SIGNATURE_FILE_MAX_LEN; i < bytes.size(); i++) {
      if (bytes[i] != 'G') {
        return false;
      }
    }
    return true;
  }
};

struct fetched_signature {
  int result = -1;
  int32_t length = -1;
  std::string text;
  bool guard_intact = false;
};

class signature_fetch_test : public diagnostic_capture_test {
 protected:
  fetched_signature fetch_from(std::vector<script_piece> pieces, int32_t deadline_ms = OVU_SIGNATURE_FETCH_DEADLINE_MS) {
    scripted_server server(std::move(pieces), script_end::close);
    EXPECT_TRUE(server.is_listening());
    guarded_text buffer;
    fetched_signature out;
    const ovu_signature_request request = {"127.0.0.1", "/torvane/manifest.lst.z.sig", server.port(), deadline_ms};
    start_capture();
    out.result = fetch_release_signature(request, buffer.bytes.data(), &out.length);
    reports = stop_capture();
    server.finish();
    if (out.result == 1) {
      out.text.assign(buffer.bytes.data(), static_cast<size_t>(out.length));
    }
    out.guard_intact = buffer.guard_intact();
    return out;
  }
  std::string reports;
};

std::string chunked(const std::vector<std::string> &chunks) {
  std::string body;
  for (const std::string &chunk : chunks) {
    char size[16];
    std::snprintf(size, sizeof(size), "%zx", chunk.size());
    body += std::string(size) + "\r\n" + chunk + "\r\n";
  }
  return body + "0\r\n\r\n";
}

const char CHUNKED_HEAD[] = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";

TEST_F(signature_fetch_test, takes_a_body_of_up_to_1024_bytes) {
  const std::string line = std::string(OVU_SIGNATURE_PREFIX) + HEX + "\n";
  const std::string full(OVU_SIGNATURE_FILE_MAX_LEN, 's');
  for (const std::string &body : {line, full}) {
    fetched_signature out = fetch_from({{CHUNKED_HEAD}, {chunked({body.substr(0, 100), body.substr(100)})}});
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(out.text, body);
    EXPECT_TRUE(out.guard_intact);
  }
}

// More than the buffer holds, in pieces that each fit: refused as the
// piece that would pass the end arrives, and nothing is written past it.
TEST_F(signature_fetch_test, refuses_a_longer_body_arriving_in_pieces_without_overflow) {
  const std::string body(OVU_SIGNATURE_FILE_MAX_LEN + 1, 's');
  const std::vector<std::vector<script_piece>> responses = {
      {{CHUNKED_HEAD}, {chunked({body.substr(0, 1000), body.substr(1000)})}},
      {{CHUNKED_HEAD}, {chunked({body.substr(0, 1024), body.substr(1024)})}},
      {{CHUNKED_HEAD}, {chunked({body.substr(0, 600), body.substr(600, 400), std::string(5000, 'x')})}},
      {{"HTTP/1.1 200 OK\r\nContent-Length: 1025\r\n\r\n" + body.substr(0, 512), 20}, {body.substr(512)}},
      {{"HTTP/1.1 200 OK\r\n\r\n" + body.substr(0, 1023), 20}, {body.substr(1023)}},
  };
  for (const auto &pieces : responses) {
    fetched_signature out = fetch_from(pieces);
    EXPECT_EQ(out.result, 0);
    EXPECT_TRUE(out.guard_intact) << "bytes were written past the signature buffer";
  }
  std::vector<script_piece> byte_by_byte = {{"HTTP/1.1 200 OK\r\n\r\n"}};
  for (char c : body) {
    byte_by_byte.push_back({std::string(1, c)});
  }
  fetched_signature out = fetch_from(byte_by_byte);
  EXPECT_EQ(out.result, 0);
  EXPECT_TRUE(out.guard_intact);
}

// A signature trickled a byte at a time, each within the idle bound, ends
// at the deadline.
TEST_F(signature_fetch_test, a_trickled_signature_meets_the_deadline) {
  const std::string line = std::string(OVU_SIGNATURE_PREFIX) + HEX + "\n";
  std::vector<script_piece> pieces = {{"HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(line.size()) +
                                       "\r\n\r\n"}};
  for (char c : line) {
    pieces.push_back({std::string(1, c), 40});  // the whole line would take 6.6 s
  }
  auto start = std::chrono::steady_clock::now();
  fetched_signature out = fetch_from(pieces, 800);
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(out.result, 0);
  EXPECT_NE(reports.find("response not complete within 800 ms, giving up."), std::string::npos) << reports;
  EXPECT_LT(elapsed, std::chrono::seconds(4));
}

}  // namespace
