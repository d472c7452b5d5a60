// compressed_writer: writes one zlib or gzip stream into a file that
// appears under its name only once it is complete (qarn_atomic_file), so a
// server never serves half a manifest. It hashes the file's bytes as it
// writes them: what is signed is what was written, not what a reader finds
// under the name later, when someone else may have replaced the file.
#ifndef TORVANE_TOOLS_COMPRESSED_WRITER_H
#define TORVANE_TOOLS_COMPRESSED_WRITER_H

#include <zlib.h>

#include <cstdio>
#include <string>

#include "support/atomic_file.h"
#include "support/sha256.h"

enum class compression_format { zlib, gzip };

class compressed_writer {
 public:
  compressed_writer() = default;
  // Abandons an unfinished file: nothing appears under its name.
  ~compressed_writer();
  compressed_writer(const compressed_writer &) = delete;
  compressed_writer &operator=(const compressed_writer &) = delete;

  // open starts the stream of the file that is to appear as |path|.
  // Returns false with the reason in |*why|.
  bool open(const std::string &path, compression_format format, std::string *why);
  // write compresses |length| bytes. Returns false with the reason in
  // |*why|.
  bool write(const char *bytes, size_t length, std::string *why);
  // finish ends the stream and puts the file in place. Returns false with
  // the reason in |*why|; the path is then untouched.
  bool finish(std::string *why);
  // written_digest returns the SHA-256 of every byte that the last finish
  // that returned true put in place (owned by this object).
  const unsigned char *written_digest() const { return written_digest_; }

 private:
  bool deflate_and_write(int flush, std::string *why);
  void abandon();

  z_stream stream_{};
  bool deflating_ = false;
  qarn_atomic_file file_;
  FILE *out_ = nullptr;  // file_'s stream while open
  qarn_sha256_context written_{};  // the bytes handed to out_
  unsigned char written_digest_[QARN_SHA256_DIGEST_LEN] = {};
  std::string path_;
};

#endif
