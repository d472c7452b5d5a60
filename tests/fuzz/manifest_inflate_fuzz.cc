// Fuzz target for the remote manifest fetcher's inflate-and-split path: the
// body bytes arrive in blocks as the downloader hands them over.
//
// Input layout:
//   byte 0      settings: bit 0 compress the rest with zlib first (so that
//               the line parser sees the fuzzer's text), bit 1 gzip instead
//               of zlib, bit 2 the response has a length
//   byte 1      k, the number of split bytes (taken modulo 16)
//   k bytes     block sizes, each byte b giving 1 + b * 32, used in turn
//   the rest    the body, or the text to compress into it
//
// Besides the sanitizers, the target checks that delivery in blocks gives
// the same outcome as delivery in one block, and the same entries when the
// manifest is accepted.
#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/diagnostics.h"
#include "updater/remote_manifest_fetch.h"

namespace {

constexpr size_t SETTINGS_BYTE = 0;
constexpr size_t SPLIT_COUNT_BYTE = 1;
constexpr size_t HEADER_LEN = 2;
constexpr uint8_t SPLIT_COUNT_MODULUS = 16;
constexpr size_t SPLIT_UNIT = 32;
constexpr size_t LARGEST_BLOCK = 8192;
// Small enough that the bound is reached within the fuzzer's memory limit.
constexpr int64_t INFLATED_BOUND = 16 * 1024 * 1024;
constexpr int32_t MASK_EVERYTHING = 0x7FFFFFFF;

enum setting_bits : uint8_t {
  COMPRESS_FIRST = 1,
  GZIP = 2,
  WITH_LENGTH = 4,
};

std::string compress(const std::string &text, bool gzip) {
  z_stream stream{};
  if (deflateInit2(&stream, 6, Z_DEFLATED, gzip ? 31 : 15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    return "";
  }
  std::string out(deflateBound(&stream, text.size()) + 64, '\0');
  stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef *>(&out[0]);
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

struct outcome {
  bool accepted = false;
  int32_t count = 0;
  std::vector<std::string> lines;
};

outcome feed(const std::string &body, const std::vector<size_t> &splits, bool with_length) {
  outcome out;
  http_fetch_remote_manifest_data fetcher;
  fetcher.max_inflated_len = INFLATED_BOUND;
  if (!fetcher.begin_inflation()) {
    return out;
  }
  int32_t total = with_length ? static_cast<int32_t>(body.size()) : -1;
  bool taken = true;
  size_t offset = 0;
  size_t next_split = 0;
  if (!body.empty()) {
    http_fetch_remote_manifest_data::download_progress_callback(&fetcher, 0, total);
  }
  while (offset < body.size()) {
    size_t piece = splits.empty() ? body.size() : splits[next_split++ % splits.size()];
    piece = std::min(std::min(piece, LARGEST_BLOCK), body.size() - offset);
    if (!http_fetch_remote_manifest_data::download_data_callback(&fetcher, body.data() + offset,
                                                                 static_cast<int32_t>(piece))) {
      taken = false;
      break;
    }
    offset += piece;
    http_fetch_remote_manifest_data::download_progress_callback(&fetcher, static_cast<int32_t>(offset), total);
  }
  bool whole = fetcher.end_inflation() == 1;
  out.accepted = taken && whole;
  out.count = fetcher.entry_count;
  for (const ovu_manifest_entry *e = fetcher.entries(); e != nullptr; e = e->next) {
    out.lines.push_back(std::string(e->hash) + " " + std::to_string(e->size) + " " + e->name);
  }
  if (out.count != static_cast<int32_t>(out.lines.size())) {
    __builtin_trap();
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  qarn_set_diagnostic_mask(MASK_EVERYTHING);
  if (size < HEADER_LEN) {
    return 0;
  }
  uint8_t settings = data[SETTINGS_BYTE];
  size_t split_count = data[SPLIT_COUNT_BYTE] % SPLIT_COUNT_MODULUS;
  if (size < HEADER_LEN + split_count) {
    return 0;
  }
  std::vector<size_t> splits;
  for (size_t i = 0; i < split_count; i++) {
    splits.push_back(1 + data[HEADER_LEN + i] * SPLIT_UNIT);
  }
  std::string rest(reinterpret_cast<const char *>(data) + HEADER_LEN + split_count,
                   size - HEADER_LEN - split_count);
  std::string body = (settings & COMPRESS_FIRST) ? compress(rest, (settings & GZIP) != 0) : rest;
  bool with_length = (settings & WITH_LENGTH) != 0;

  outcome whole = feed(body, {}, with_length);
  outcome split = feed(body, splits, with_length);
  // A refused stream's entries never leave the fetcher; only accepted ones
  // must agree line for line.
  if (whole.accepted != split.accepted || (whole.accepted && whole.lines != split.lines)) {
    __builtin_trap();
  }
  return 0;
}
