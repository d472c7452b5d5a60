// sha256_bench: hashes the same buffer with every SHA-256 implementation
// this CPU can run, and with BoringSSL's SHA256 where the build has it, and
// prints the speed of each and its ratio to BoringSSL's. The bytes go in
// pieces of 8192, as the downloader hands them over. Each figure is the
// best of a few runs, since the machine may be busy with other work.
//
// Usage: sha256_bench [MIB] [RUNS]     (defaults: 256 MiB, 3 runs)
// Exit code 0 when every implementation gave the same digest, 1 otherwise.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "support/sha256.h"

#ifdef TORVANE_WITH_TLS
#include <openssl/sha.h>
#endif

namespace {

constexpr int DEFAULT_MIB = 256;
constexpr int DEFAULT_RUNS = 3;
constexpr size_t BYTES_PER_MIB = 1024 * 1024;
constexpr double BYTES_PER_MB = 1e6;
constexpr size_t PIECE_LEN = 8192;  // the downloader's read block

struct measurement {
  double seconds;
  unsigned char digest[QARN_SHA256_DIGEST_LEN];
};

typedef void (*digest_function)(const std::vector<unsigned char> &data,
                                unsigned char digest[QARN_SHA256_DIGEST_LEN]);

void digest_with_project(const std::vector<unsigned char> &data,
                         unsigned char digest[QARN_SHA256_DIGEST_LEN]) {
  qarn_sha256_context context;
  qarn_sha256_init(&context);
  for (size_t done = 0; done < data.size(); done += PIECE_LEN) {
    size_t piece = data.size() - done < PIECE_LEN ? data.size() - done : PIECE_LEN;
    qarn_sha256_update(&context, data.data() + done, piece);
  }
  qarn_sha256_final(&context, digest);
}

#ifdef TORVANE_WITH_TLS
void digest_with_boringssl(const std::vector<unsigned char> &data,
                           unsigned char digest[QARN_SHA256_DIGEST_LEN]) {
  SHA256_CTX context;
  SHA256_Init(&context);
  for (size_t done = 0; done < data.size(); done += PIECE_LEN) {
    size_t piece = data.size() - done < PIECE_LEN ? data.size() - done : PIECE_LEN;
    SHA256_Update(&context, data.data() + done, piece);
  }
  SHA256_Final(digest, &context);
}
#endif

measurement best_of(int runs, digest_function digest, const std::vector<unsigned char> &data) {
  measurement best;
  best.seconds = 0;
  for (int run = 0; run < runs; run++) {
    measurement m;
    auto start = std::chrono::steady_clock::now();
    digest(data, m.digest);
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (run == 0 || m.seconds < best.seconds) {
      best = m;
    }
  }
  return best;
}

double megabytes_per_second(const std::vector<unsigned char> &data, const measurement &m) {
  return static_cast<double>(data.size()) / BYTES_PER_MB / m.seconds;
}

int parse_positive(const char *text, int fallback) {
  if (text == nullptr) {
    return fallback;
  }
  int value = std::atoi(text);
  return value > 0 ? value : 0;
}

}  // namespace

int main(int argc, char **argv) {
  int mib = parse_positive(argc > 1 ? argv[1] : nullptr, DEFAULT_MIB);
  int runs = parse_positive(argc > 2 ? argv[2] : nullptr, DEFAULT_RUNS);
  if (mib == 0 || runs == 0 || argc > 3) {
    std::printf("usage: sha256_bench [MIB] [RUNS]\n");
    return 1;
  }
  std::vector<unsigned char> data(static_cast<size_t>(mib) * BYTES_PER_MIB);
  uint32_t x = 2463534242u;  // xorshift: cheap bytes that no hash can shortcut
  for (unsigned char &b : data) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<unsigned char>(x);
  }
  std::printf("sha256_bench: %d MiB in pieces of %zu bytes, best of %d runs, MB = 10^6 bytes\n",
              mib, PIECE_LEN, runs);

  struct named {
    const char *name;
    qarn_sha256_implementation implementation;
  };
  const named implementations[] = {{"portable", QARN_SHA256_PORTABLE},
                                   {"sha_extensions", QARN_SHA256_SHA_EXTENSIONS}};
  qarn_sha256_implementation default_implementation = qarn_sha256_implementation_in_use();

#ifdef TORVANE_WITH_TLS
  measurement peer = best_of(runs, digest_with_boringssl, data);
  std::printf("  %-16s %8.1f MB/s\n", "boringssl", megabytes_per_second(data, peer));
#endif
  int status = 0;
  bool have_reference = false;
  unsigned char reference[QARN_SHA256_DIGEST_LEN];
  for (const named &n : implementations) {
    if (!qarn_sha256_use_implementation(n.implementation)) {
      std::printf("  %-16s not available on this CPU\n", n.name);
      continue;
    }
    measurement m = best_of(runs, digest_with_project, data);
    std::printf("  %-16s %8.1f MB/s", n.name, megabytes_per_second(data, m));
#ifdef TORVANE_WITH_TLS
    std::printf("   %.2f x boringssl", peer.seconds / m.seconds);
    if (std::memcmp(m.digest, peer.digest, sizeof(m.digest)) != 0) {
      std::printf("   DIGEST DIFFERS FROM BORINGSSL");
      status = 1;
    }
#endif
    if (have_reference && std::memcmp(m.digest, reference, sizeof(m.digest)) != 0) {
      std::printf("   DIGEST DIFFERS FROM PORTABLE");
      status = 1;
    }
    if (!have_reference) {
      std::memcpy(reference, m.digest, sizeof(reference));
      have_reference = true;
    }
    std::printf("%s\n", n.implementation == default_implementation ? "   (the default)" : "");
  }
  qarn_sha256_use_implementation(default_implementation);
  return status;
}
