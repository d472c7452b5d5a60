// Test helpers for the HTTP processor: a recorder that turns the callbacks
// into one event text, the roles a processor takes before input arrives, and
// drivers that feed input in given splits.
#ifndef TORVANE_TESTS_HTTP_HTTP_TEST_SUPPORT_H
#define TORVANE_TESTS_HTTP_HTTP_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "http/http_data_processor.h"

namespace http_test {

// Records every callback. Consecutive body pieces of one message show as
// one "data" event; their bytes go to |body| and their sizes to |pieces|.
struct recorder {
  std::string events;
  std::string body;
  std::vector<int32_t> pieces;
  int answer_received = 1;  // what message_received returns
  int answer_complete = 1;  // what message_complete returns
  int answer_data = 1;      // what content_data_received returns

  void install(qarn_http_data_processor_oline &processor) {
    processor.callback_context = this;
    processor.connection_close = on_close;
    processor.message_received = on_received;
    processor.message_complete = on_complete;
    processor.content_data_received = on_data;
  }

  static recorder &of(void *context) { return *static_cast<recorder *>(context); }

  static void on_close(qarn_http_data_processor_oline *, void *context) { of(context).events += "close\n"; }

  static int on_received(qarn_http_data_processor_oline *p, void *context) {
    recorder &r = of(context);
    if (p->rx_status > 0) {
      r.events += "response " + std::to_string(p->rx_status);
    } else {
      r.events += "request " + std::string(p->rx_method) + " path=" + p->rx_path;
    }
    r.events += " length=" + std::to_string(p->rx_content_length);
    r.events += p->rx_chunked ? " chunked\n" : "\n";
    return r.answer_received;
  }

  static int on_complete(qarn_http_data_processor_oline *, void *context) {
    recorder &r = of(context);
    r.events += "complete\n";
    return r.answer_complete;
  }

  static int on_data(qarn_http_data_processor_oline *, void *context, const char *bytes, int32_t length) {
    recorder &r = of(context);
    const std::string marker = "data\n";
    if (r.events.size() < marker.size() || r.events.compare(r.events.size() - marker.size(), marker.size(), marker) != 0) {
      r.events += marker;
    }
    r.body.append(bytes, static_cast<size_t>(length));
    r.pieces.push_back(length);
    return r.answer_data;
  }
};

// How a test sets the processor up before the input arrives.
enum role {
  CLIENT,       // sent a GET with "Connection: close", as the downloader does
  CLIENT_OPEN,  // sent a GET without asking for the close
  CLIENT_KEPT,  // sent a GET without asking for the close and reads only its
                // answer (stop_after_response), as the downloader does when
                // it keeps the connection
  SERVER,       // sent nothing: parses requests
};

// Sizes of consecutive blocks that add up to the input length.
using split = std::vector<size_t>;

inline split whole(size_t length) { return split{length}; }

inline split two_blocks(size_t length, size_t first) { return split{first, length - first}; }

inline split byte_by_byte(size_t length) { return split(length, 1); }

inline split random_split(size_t length, std::mt19937 &random) {
  split blocks;
  size_t left = length;
  while (left > 0) {
    std::uniform_int_distribution<size_t> size(1, left < 16 ? left : 16);
    size_t n = size(random);
    blocks.push_back(n);
    left -= n;
  }
  return blocks;
}

// Every way the split tests cut an input: whole, at every byte boundary in
// two, byte by byte, and in |random_count| random splits.
inline std::vector<split> every_split(size_t length, int random_count) {
  std::vector<split> splits{whole(length), byte_by_byte(length)};
  for (size_t first = 1; first < length; first++) {
    splits.push_back(two_blocks(length, first));
  }
  std::mt19937 random(20260101u + static_cast<unsigned>(length));
  for (int i = 0; i < random_count; i++) {
    splits.push_back(random_split(length, random));
  }
  return splits;
}

// Feeds |input| in the blocks of |blocks| and stops at the first result that
// is not 1, as an owner does. Returns that result, or 1.
inline int feed(qarn_http_data_processor_oline &processor, const std::string &input, const split &blocks) {
  size_t offset = 0;
  for (size_t n : blocks) {
    if (n == 0) {
      continue;
    }
    int result = processor.put_rx_data(input.data() + offset, static_cast<int32_t>(n));
    offset += n;
    if (result != 1) {
      return result;
    }
  }
  return 1;
}

// Pulls everything get_tx_data gives, in blocks of |block_len|. Returns the
// bytes; |*last| gets the result that ended the loop (0 or -1).
inline std::string drain_tx(qarn_http_data_processor_oline &processor, int32_t *last, int32_t block_len = 8192) {
  std::string out;
  std::vector<char> block(static_cast<size_t>(block_len));
  for (;;) {
    int32_t n = processor.get_tx_data(block.data(), block_len);
    if (n <= 0) {
      if (last != nullptr) {
        *last = n;
      }
      return out;
    }
    out.append(block.data(), static_cast<size_t>(n));
  }
}

// Puts a fresh |processor| in the state of |who|: a client sends its GET
// (and it is drained) so that responses are expected; a server is left as
// it is.
inline void prepare(qarn_http_data_processor_oline &processor, role who) {
  if (who == SERVER) {
    return;
  }
  processor.close_requested = who == CLIENT ? 1 : 0;
  processor.stop_after_response = who == CLIENT_KEPT ? 1 : 0;
  ASSERT_EQ(processor.start_http_GET("h", "/"), 1);
  drain_tx(processor, nullptr);
}

}  // namespace http_test

#endif
