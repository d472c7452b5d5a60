// Fuzz target for the HTTP processor's receiving side and the cookie parser.
//
// Input layout:
//   byte 0      settings: bit 0 client role, bit 1 close_requested, bit 2
//               force_http_1_0, bit 3 a cookie prefix, bit 4 drain the
//               outgoing queue between blocks
//   byte 1      k, the number of split bytes (taken modulo 16)
//   k bytes     block sizes, each byte b giving b + 1, used in turn
//   the rest    the bytes received from the peer
//
// Each input runs in both roles. Besides the sanitizers, the target checks
// that delivery in blocks gives the same events, body bytes and results as
// delivery in one block, and traps when it does not.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "http/http_cookie.h"
#include "http/http_data_processor.h"
#include "support/diagnostics.h"

namespace {

constexpr size_t SETTINGS_BYTE = 0;
constexpr size_t SPLIT_COUNT_BYTE = 1;
constexpr size_t HEADER_LEN = 2;
constexpr uint8_t SPLIT_COUNT_MODULUS = 16;
constexpr int32_t TX_BLOCK_LEN = 8192;

enum setting_bits : uint8_t {
  CLIENT_ROLE = 1,
  CLOSE_REQUESTED = 2,
  FORCE_HTTP_1_0 = 4,
  COOKIE_PREFIX = 8,
  DRAIN_BETWEEN_BLOCKS = 16,
};

// Hides every category: the reports are still built, but not printed.
constexpr int32_t MASK_EVERYTHING = 0x7FFFFFFF;

struct run_log {
  std::string events;
  std::string body;
  int feed_result = 1;
  int close_result = 0;
};

run_log &log_of(void *context) { return *static_cast<run_log *>(context); }

void on_close(qarn_http_data_processor_oline *, void *context) { log_of(context).events += 'C'; }

int on_received(qarn_http_data_processor_oline *p, void *context) {
  run_log &log = log_of(context);
  log.events += 'R';
  log.events += std::to_string(p->rx_status) + "/" + std::to_string(p->rx_content_length) + ";";
  return 1;
}

int on_complete(qarn_http_data_processor_oline *, void *context) {
  log_of(context).events += 'M';
  return 1;
}

int on_data(qarn_http_data_processor_oline *, void *context, const char *bytes, int32_t length) {
  run_log &log = log_of(context);
  if (length <= 0) {
    __builtin_trap();  // the processor never hands out empty pieces
  }
  if (log.events.empty() || log.events.back() != 'D') {
    log.events += 'D';
  }
  log.body.append(bytes, static_cast<size_t>(length));
  return 1;
}

void drain(qarn_http_data_processor_oline &processor) {
  char block[TX_BLOCK_LEN];
  while (processor.get_tx_data(block, TX_BLOCK_LEN) > 0) {
  }
}

run_log run(uint8_t settings, bool client, const std::string &input, const std::vector<size_t> &blocks) {
  run_log log;
  qarn_http_data_processor_oline processor;
  processor.callback_context = &log;
  processor.connection_close = on_close;
  processor.message_received = on_received;
  processor.message_complete = on_complete;
  processor.content_data_received = on_data;
  processor.force_http_1_0 = (settings & FORCE_HTTP_1_0) ? 1 : 0;
  if (settings & COOKIE_PREFIX) {
    processor.cookie_prefix[0] = 's';
    processor.cookie_prefix[1] = '_';
    processor.cookie_prefix[2] = '\0';
  }
  if (client) {
    processor.close_requested = (settings & CLOSE_REQUESTED) ? 1 : 0;
    processor.start_http_GET("fuzz.invalid", "/");
    drain(processor);
  }
  size_t offset = 0;
  size_t next_block = 0;
  while (offset < input.size()) {
    size_t n = blocks.empty() ? input.size() : blocks[next_block++ % blocks.size()];
    if (n > input.size() - offset) {
      n = input.size() - offset;
    }
    log.feed_result = processor.put_rx_data(input.data() + offset, static_cast<int32_t>(n));
    offset += n;
    if (log.feed_result != 1) {
      break;
    }
    if ((settings & DRAIN_BETWEEN_BLOCKS) && !blocks.empty()) {
      drain(processor);
    }
  }
  if (!(settings & DRAIN_BETWEEN_BLOCKS)) {
    log.close_result = processor.put_rx_close();
  }
  drain(processor);
  return log;
}

bool same(const run_log &a, const run_log &b) {
  return a.events == b.events && a.body == b.body && a.feed_result == b.feed_result &&
         a.close_result == b.close_result;
}

void check_role(uint8_t settings, bool client, const std::string &input, const std::vector<size_t> &blocks) {
  run_log split_log = run(settings, client, input, blocks);
  if (settings & DRAIN_BETWEEN_BLOCKS) {
    return;  // draining while input arrives may signal a close at another moment
  }
  run_log whole_log = run(settings, client, input, std::vector<size_t>());
  if (!same(split_log, whole_log)) {
    __builtin_trap();
  }
}

void check_cookies(uint8_t settings, const std::string &input) {
  qarn_http_data_processor_oline processor;
  if (settings & COOKIE_PREFIX) {
    processor.cookie_prefix[0] = 'a';
    processor.cookie_prefix[1] = '\0';
  }
  // Every NUL-separated piece is one header value.
  size_t start = 0;
  while (start <= input.size()) {
    size_t end = input.find('\0', start);
    if (end == std::string::npos) {
      end = input.size();
    }
    std::string value = input.substr(start, end - start);
    qarn_http_cookie::parse_cookie_header(&processor, value.c_str());
    start = end + 1;
  }
  qarn_bounded_string lines;
  processor.tx_cookies = processor.rx_cookies;  // write them back out as well
  processor.rx_cookies = nullptr;
  qarn_http_cookie::append_set_cookie_lines(&processor, lines);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  qarn_set_diagnostic_mask(MASK_EVERYTHING);
  if (size < HEADER_LEN) {
    return 0;
  }
  const uint8_t settings = data[SETTINGS_BYTE];
  size_t split_count = data[SPLIT_COUNT_BYTE] % SPLIT_COUNT_MODULUS;
  if (split_count > size - HEADER_LEN) {
    split_count = size - HEADER_LEN;
  }
  std::vector<size_t> blocks;
  for (size_t i = 0; i < split_count; i++) {
    blocks.push_back(static_cast<size_t>(data[HEADER_LEN + i]) + 1);
  }
  const size_t body_start = HEADER_LEN + split_count;
  const std::string input(reinterpret_cast<const char *>(data) + body_start, size - body_start);

  const bool client_first = (settings & CLIENT_ROLE) != 0;
  check_role(settings, client_first, input, blocks);
  check_role(settings, !client_first, input, blocks);
  check_cookies(settings, input);
  return 0;
}
