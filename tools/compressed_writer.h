// compressed_writer: writes one zlib or gzip stream into a file that
// appears under its final name only once it is complete. The bytes go to a
// temporary file beside it, which is flushed to the disk and then renamed
// over the final name, so a server never serves half a manifest.
#ifndef TORVANE_TOOLS_COMPRESSED_WRITER_H
#define TORVANE_TOOLS_COMPRESSED_WRITER_H

#include <zlib.h>

#include <cstdio>
#include <string>

enum class compression_format { zlib, gzip };

class compressed_writer {
 public:
  compressed_writer() = default;
  // Abandons an unfinished file: the temporary file is removed.
  ~compressed_writer();
  compressed_writer(const compressed_writer &) = delete;
  compressed_writer &operator=(const compressed_writer &) = delete;

  // open starts the stream in |temporary_path|. Returns false with the
  // reason in |*why|.
  bool open(const std::string &temporary_path, compression_format format, std::string *why);
  // write compresses |length| bytes. Returns false with the reason in
  // |*why|.
  bool write(const char *bytes, size_t length, std::string *why);
  // finish ends the stream, flushes the file to the disk, closes it and
  // renames it to |final_path|. Returns false with the reason in |*why|;
  // |final_path| is then untouched.
  bool finish(const std::string &final_path, std::string *why);

 private:
  bool deflate_and_write(int flush, std::string *why);
  void abandon();

  z_stream stream_{};
  bool deflating_ = false;
  std::FILE *file_ = nullptr;
  std::string temporary_path_;
};

#endif
