// Compressing test data the way a server's manifest is compressed.
#ifndef TORVANE_TESTS_COMMON_ZLIB_STREAM_H
#define TORVANE_TESTS_COMMON_ZLIB_STREAM_H

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

// The three ways deflate data can be wrapped.
enum class zlib_wrapper { zlib, gzip, raw };

// zlib_compress returns |text| as one complete deflate stream in |wrapper|.
inline std::string zlib_compress(const std::string &text, zlib_wrapper wrapper = zlib_wrapper::zlib) {
  constexpr int WINDOW_BITS = 15;
  constexpr int GZIP_HEADER = 16;
  int bits = wrapper == zlib_wrapper::zlib ? WINDOW_BITS
             : wrapper == zlib_wrapper::gzip ? WINDOW_BITS + GZIP_HEADER
                                             : -WINDOW_BITS;
  z_stream stream{};
  EXPECT_EQ(deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, bits, 9, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&stream, text.size()) + 64, '\0');
  stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef *>(&out[0]);
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

#endif
