// download_bench: fetches one resource into a file with qarn_http_downloader,
// as the updater fetches each game file, and prints the byte count and the
// wall time. With SIZE and SHA256 it checks the body as the updater checks
// a file whose manifest declares SHA-256 tokens. bench/download_bench.sh
// runs it beside curl.
//
// Usage: download_bench HOST PORT PATH OUTPUT [SIZE SHA256]
// Exit code 0 when the download succeeded (and passed the check), 1
// otherwise.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "http/http_downloader.h"
#include "http/verified_body.h"
#include "support/hex_text.h"
#include "support/clock.h"
#include "support/diagnostics.h"
#include "support/text_scan.h"

namespace {

constexpr int kArgumentCount = 5;
constexpr int kVerifiedArgumentCount = 7;

struct progress_seen {
  int32_t calls = 0;
  int64_t received = 0;
};

// The updater reports progress for every block; so does the benchmark, so
// that the callback's cost is part of the figure.
void count_progress(void *context, int64_t received, int64_t) {
  progress_seen *seen = static_cast<progress_seen *>(context);
  seen->calls++;
  seen->received = received;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != kArgumentCount && argc != kVerifiedArgumentCount) {
    std::printf("usage: download_bench HOST PORT PATH OUTPUT [SIZE SHA256]\n");
    return 1;
  }
  int32_t port = 0;
  if (!parse_int(argv[2], &port) || port <= 0) {
    std::printf("download_bench: bad port '%s'\n", argv[2]);
    return 1;
  }
  qarn_set_diagnostic_mask(QARN_MASK_NONE);
  progress_seen seen;
  qarn_http_downloader downloader;
  downloader.progress_callback = count_progress;
  downloader.callback_context = &seen;
  unsigned char digest[QARN_SHA256_DIGEST_LEN];
  int32_t size = 0;
  if (argc == kVerifiedArgumentCount &&
      (!parse_int(argv[5], &size) || size < 0 || std::strlen(argv[6]) != 2 * sizeof(digest) ||
       !qarn_hex_decode(argv[6], QARN_SHA256_DIGEST_LEN, digest))) {
    std::printf("download_bench: bad size or SHA-256\n");
    return 1;
  }
  qarn_verified_body check(size, digest);
  if (argc == kVerifiedArgumentCount) {
    downloader.body_check = &check;
  }
  if (!downloader.set_connection(argv[1], port, 0)) {
    std::printf("download_bench: cannot resolve '%s'\n", argv[1]);
    return 1;
  }
  int64_t start_ms = qarn_clock_ms();
  int ok = downloader.download(argv[1], argv[3], argv[4]);
  int64_t elapsed_ms = qarn_clock_ms() - start_ms;
  std::printf("download_bench: %s, %lld bytes in %lld ms, %d progress reports\n", ok ? "ok" : "FAILED",
              static_cast<long long>(downloader.received_length), static_cast<long long>(elapsed_ms),
              static_cast<int>(seen.calls));
  return ok ? 0 : 1;
}
