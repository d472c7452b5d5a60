#include "tools/compressed_writer.h"

#include <cerrno>
#include <cstring>

#include "platform/file_system.h"

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
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
    std::remove(temporary_path_.c_str());
  }
}

bool compressed_writer::open(const std::string &temporary_path, compression_format format, std::string *why) {
  abandon();
  temporary_path_ = temporary_path;
  file_ = std::fopen(temporary_path.c_str(), "wb");
  if (file_ == nullptr) {
    *why = "cannot create " + temporary_path + ": " + std::strerror(errno);
    return false;
  }
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
    if (std::fwrite(output, 1, produced, file_) != produced) {
      *why = "cannot write " + temporary_path_ + ": " + std::strerror(errno);
      return false;
    }
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

bool compressed_writer::finish(const std::string &final_path, std::string *why) {
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
  bool flushed = platform_flush_file_to_disk(file_) == 0;
  bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  if (!flushed || !closed) {
    *why = "cannot write " + temporary_path_ + " to the disk";
    std::remove(temporary_path_.c_str());
    return false;
  }
  if (platform_replace_file(temporary_path_.c_str(), final_path.c_str()) != 0) {
    *why = "cannot rename " + temporary_path_ + " to " + final_path + ": " + std::strerror(errno);
    std::remove(temporary_path_.c_str());
    return false;
  }
  return true;
}
