// Fuzz target for the remote manifest parser's inflate-and-split path: the
// body bytes arrive in blocks as the downloader hands them over.
//
// Input layout:
//   byte 0      settings: bit 0 compress the rest with zlib first (so that
//               the line parser sees the fuzzer's text), bit 1 gzip instead
//               of zlib, bit 2 small entry bounds (so that the line and
//               memory bounds are reached within a short input)
//   byte 1      k, the number of split bytes (taken modulo 16)
//   k bytes     block sizes, each byte b giving 1 + b * 32, used in turn
//   the rest    the body, or the text to compress into it
//
// Besides the sanitizers, the target checks that delivery in blocks gives
// the same outcome as delivery in one block, the same entries when the
// manifest is accepted, names that are never kept twice, and entries
// within their bounds.
#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "support/diagnostics.h"
#include "updater/remote_manifest_parser.h"

namespace {

constexpr size_t SETTINGS_BYTE = 0;
constexpr size_t SPLIT_COUNT_BYTE = 1;
constexpr size_t HEADER_LEN = 2;
constexpr uint8_t SPLIT_COUNT_MODULUS = 16;
constexpr size_t SPLIT_UNIT = 32;
constexpr size_t LARGEST_BLOCK = 8192;
// Small enough that the bound is reached within the fuzzer's memory limit.
constexpr int64_t INFLATED_BOUND = 16 * 1024 * 1024;
// The small entry bounds: a few dozen entries, a few KiB of them.
constexpr int32_t SMALL_ENTRY_COUNT = 40;
constexpr int64_t SMALL_ENTRY_MEMORY = 8192;
constexpr int32_t MASK_EVERYTHING = 0x7FFFFFFF;

enum setting_bits : uint8_t {
  COMPRESS_FIRST = 1,
  GZIP = 2,
  SMALL_BOUNDS = 4,
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

outcome feed(const std::string &body, const std::vector<size_t> &splits, bool small_bounds) {
  outcome out;
  ovu_remote_manifest_parser parser;
  parser.max_inflated_len = INFLATED_BOUND;
  if (small_bounds) {
    parser.max_entry_count = SMALL_ENTRY_COUNT;
    parser.max_entry_memory = SMALL_ENTRY_MEMORY;
  }
  if (!parser.begin()) {
    return out;
  }
  size_t offset = 0;
  size_t next_split = 0;
  while (offset < body.size()) {
    size_t piece = splits.empty() ? body.size() : splits[next_split++ % splits.size()];
    piece = std::min(std::min(piece, LARGEST_BLOCK), body.size() - offset);
    if (!parser.take(body.data() + offset, static_cast<int32_t>(piece))) {
      break;
    }
    offset += piece;
  }
  out.accepted = parser.finish() == 1;
  out.count = parser.entry_count();
  std::set<std::string> names;
  int64_t memory = 0;
  for (const ovu_manifest_entry *e = parser.entries(); e != nullptr; e = e->next) {
    out.lines.push_back(std::string(e->hash) + " " + std::to_string(e->size) + " " + e->name);
    memory += ovu_remote_entry_memory(e);
    if (!names.insert(e->name).second) {
      __builtin_trap();  // a name kept twice
    }
  }
  if (out.count != static_cast<int32_t>(out.lines.size()) || (!out.accepted && out.count != 0) ||
      out.count > parser.max_entry_count || memory > parser.max_entry_memory) {
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
  bool small_bounds = (settings & SMALL_BOUNDS) != 0;

  outcome whole = feed(body, {}, small_bounds);
  outcome split = feed(body, splits, small_bounds);
  // A refused stream's entries never leave the parser; only accepted ones
  // must agree line for line.
  if (whole.accepted != split.accepted || (whole.accepted && whole.lines != split.lines)) {
    __builtin_trap();
  }
  return 0;
}
