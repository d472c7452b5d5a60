#include "tools/compressed_writer.h"

#include <cerrno>
#include <cstring>

namespace {

// zlib's window bits: 15 for a zlib header, plus 16 for a gzip one.
constexpr int ZLIB_WINDOW_BITS = 15;
constexpr int GZIP_WINDOW_BITS = 15 + 16;
constexpr int MEMORY_LEVEL = 8;
constexpr size_t OUTPUT_BLOCK_LEN = 64 * 1024;

}  // namespace

compressed_writer::~compressed_writer() { abandon(); }

void compressed_writer::abandon() {
  if (deflating_) {
    deflateEnd(&stream_);
    deflating_ = false;
  }
  file_.abandon();
  out_ = nullptr;
}

bool compressed_writer::open(const std::string &path, compression_format format, std::string *why) {
  abandon();
  path_ = path;
  out_ = file_.open(path.c_str());
  if (out_ == nullptr) {
    *why = "cannot create " + path + QARN_ATOMIC_FILE_SUFFIX + ": " + std::strerror(errno);
    return false;
  }
  qarn_sha256_init(&written_);
  std::memset(&stream_, 0, sizeof(stream_));
  int bits = format == compression_format::gzip ? GZIP_WINDOW_BITS : ZLIB_WINDOW_BITS;
  if (deflateInit2(&stream_, Z_BEST_COMPRESSION, Z_DEFLATED, bits, MEMORY_LEVEL, Z_DEFAULT_STRATEGY) != Z_OK) {
    *why = "zlib cannot start compressing";
    abandon();
    return false;
  }
  deflating_ = true;
  return true;
}

bool compressed_writer::deflate_and_write(int flush, std::string *why) {
  unsigned char output[OUTPUT_BLOCK_LEN];
  int code = Z_OK;
  do {
    stream_.next_out = output;
    stream_.avail_out = sizeof(output);
    code = deflate(&stream_, flush);
    if (code == Z_STREAM_ERROR) {
      *why = "zlib failed while compressing";
      return false;
    }
    size_t produced = sizeof(output) - stream_.avail_out;
    if (std::fwrite(output, 1, produced, out_) != produced) {
      *why = "cannot write " + path_ + QARN_ATOMIC_FILE_SUFFIX + ": " + std::strerror(errno);
      return false;
    }
    qarn_sha256_update(&written_, output, produced);
  } while (stream_.avail_out == 0 || (flush == Z_FINISH && code != Z_STREAM_END));
  return true;
}

bool compressed_writer::write(const char *bytes, size_t length, std::string *why) {
  if (!deflating_) {
    *why = "no stream open";
    return false;
  }
  stream_.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(bytes));
  stream_.avail_in = static_cast<uInt>(length);
  return deflate_and_write(Z_NO_FLUSH, why);
}

bool compressed_writer::finish(std::string *why) {
  if (!deflating_) {
    *why = "no stream open";
    return false;
  }
  stream_.next_in = Z_NULL;
  stream_.avail_in = 0;
  if (!deflate_and_write(Z_FINISH, why)) {
    abandon();
    return false;
  }
  deflateEnd(&stream_);
  deflating_ = false;
  out_ = nullptr;
  if (!file_.commit()) {
    *why = "cannot write " + path_ + " to the disk";
    return false;
  }
  qarn_sha256_final(&written_, written_digest_);
  return true;
}
