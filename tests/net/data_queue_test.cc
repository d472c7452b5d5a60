#include "net/data_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "support/diagnostics.h"

namespace {

constexpr int32_t BUFFER_LEN = QARN_QUEUE_BUFFER_DATA_LEN;
constexpr int32_t READ_BLOCK_LEN = 8192;

// Bytes that differ from their neighbours, so that a misordered copy shows.
std::string pattern(size_t length) {
  std::string bytes(length, '\0');
  for (size_t i = 0; i < length; i++) {
    bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  }
  return bytes;
}

std::string read_all(qarn_data_queue &queue, int32_t block_len, std::vector<int32_t> *sizes) {
  std::string out;
  std::vector<char> block(static_cast<size_t>(block_len));
  for (;;) {
    int32_t n = queue.read_block(block.data(), block_len);
    if (n <= 0) {
      return out;
    }
    if (sizes != nullptr) {
      sizes->push_back(n);
    }
    out.append(block.data(), static_cast<size_t>(n));
  }
}

class data_queue_test : public testing::Test {
 protected:
  void SetUp() override { qarn_set_diagnostic_mask(QARN_MASK_NONE); }
};

struct append_case {
  const char *name;
  std::string bytes;
  bool as_string;  // append_string instead of append_bytes
  int32_t expected_result;
  int32_t expected_buffers;
};

TEST_F(data_queue_test, appends_take_buffers_only_for_bytes_stored) {
  const append_case cases[] = {
      {"one full buffer", pattern(4072), false, 4072, 1},
      {"one byte more", pattern(4073), false, 4073, 2},
      {"two full buffers", pattern(8144), false, 8144, 2},
      {"empty text", std::string(), true, 0, 0},
      {"empty bytes", std::string(), false, 0, 0},
      {"NUL inside bytes", std::string("a\0b", 3), false, 3, 1},
      {"NUL ends text", std::string("a\0b", 3), true, 1, 1},
  };
  for (const append_case &c : cases) {
    SCOPED_TRACE(c.name);
    qarn_data_queue queue;
    int32_t result = c.as_string
                         ? queue.append_string(c.bytes.c_str())
                         : queue.append_bytes(c.bytes.data(), static_cast<int32_t>(c.bytes.size()));
    EXPECT_EQ(result, c.expected_result);
    EXPECT_EQ(queue.buffer_count(), c.expected_buffers);
    EXPECT_EQ(queue.is_empty(), c.expected_result == 0 ? 1 : 0);
    std::string back = read_all(queue, READ_BLOCK_LEN, nullptr);
    EXPECT_EQ(back, c.bytes.substr(0, static_cast<size_t>(c.expected_result)));
  }
}

TEST_F(data_queue_test, negative_length_and_null_append_nothing) {
  qarn_data_queue queue;
  EXPECT_EQ(queue.append_bytes("abc", -1), 0);
  EXPECT_EQ(queue.append_bytes("abc", 0), 0);
  EXPECT_EQ(queue.append_bytes(nullptr, 3), 0);
  EXPECT_EQ(queue.append_string(nullptr), 0);
  EXPECT_EQ(queue.buffer_count(), 0);
  EXPECT_EQ(queue.first(), nullptr);
}

TEST_F(data_queue_test, partly_read_buffer_takes_later_appends) {
  qarn_data_queue queue;
  ASSERT_EQ(queue.append_string("hello"), 5);
  const private_socket_queue_buffer *buffer = queue.first();
  char block[10];
  EXPECT_EQ(queue.read_block(block, 10), 5);
  EXPECT_EQ(std::string(block, 5), "hello");
  EXPECT_EQ(queue.is_empty(), 1);
  EXPECT_EQ(queue.buffer_count(), 1);

  ASSERT_EQ(queue.append_string("world"), 5);
  EXPECT_EQ(queue.first(), buffer);
  EXPECT_EQ(buffer->read_pos, 5);
  EXPECT_EQ(buffer->write_pos, 10);
  EXPECT_EQ(queue.is_empty(), 0);
  EXPECT_EQ(queue.read_block(block, 10), 5);
  EXPECT_EQ(std::string(block, 5), "world");
}

TEST_F(data_queue_test, drained_partial_buffer_fills_only_its_remaining_space) {
  qarn_data_queue queue;
  std::string head = pattern(4000);
  ASSERT_EQ(queue.append_bytes(head.data(), 4000), 4000);
  EXPECT_EQ(read_all(queue, READ_BLOCK_LEN, nullptr), head);
  std::string tail = pattern(100);
  ASSERT_EQ(queue.append_bytes(tail.data(), 100), 100);
  // 72 bytes fit after position 4000; the other 28 need a second buffer.
  EXPECT_EQ(queue.buffer_count(), 2);
  EXPECT_EQ(read_all(queue, READ_BLOCK_LEN, nullptr), tail);
  EXPECT_EQ(queue.buffer_count(), 1);
}

TEST_F(data_queue_test, drained_full_buffer_goes_to_the_pool_and_is_reused) {
  qarn_data_queue queue;
  std::string full = pattern(BUFFER_LEN);
  ASSERT_EQ(queue.append_bytes(full.data(), BUFFER_LEN), BUFFER_LEN);
  const private_socket_queue_buffer *buffer = queue.first();
  int32_t spares_before = private_socket_queue_buffer::spare_count();

  std::vector<char> block(BUFFER_LEN);
  EXPECT_EQ(queue.read_block(block.data(), BUFFER_LEN), BUFFER_LEN);
  EXPECT_EQ(queue.buffer_count(), 0);
  EXPECT_EQ(queue.is_empty(), 1);
  EXPECT_EQ(queue.first(), nullptr);
  EXPECT_EQ(private_socket_queue_buffer::spare_count(), spares_before + 1);

  qarn_data_queue other;
  ASSERT_EQ(other.append_string("x"), 1);
  EXPECT_EQ(other.first(), buffer);
  EXPECT_EQ(other.first()->write_pos, 1);
  EXPECT_EQ(other.first()->read_pos, 0);
  EXPECT_EQ(private_socket_queue_buffer::spare_count(), spares_before);
}

TEST_F(data_queue_test, ten_thousand_bytes_come_back_as_8192_then_1808) {
  qarn_data_queue queue;
  std::string bytes = pattern(10000);
  ASSERT_EQ(queue.append_bytes(bytes.data(), 10000), 10000);
  EXPECT_EQ(queue.buffer_count(), 3);

  std::vector<char> block(READ_BLOCK_LEN);
  ASSERT_EQ(queue.read_block(block.data(), READ_BLOCK_LEN), 8192);
  EXPECT_EQ(std::string(block.data(), 8192), bytes.substr(0, 8192));
  // The first block drained two full buffers and part of the third.
  EXPECT_EQ(queue.buffer_count(), 1);
  ASSERT_EQ(queue.read_block(block.data(), READ_BLOCK_LEN), 1808);
  EXPECT_EQ(std::string(block.data(), 1808), bytes.substr(8192));
  EXPECT_EQ(queue.read_block(block.data(), READ_BLOCK_LEN), 0);
  EXPECT_EQ(queue.is_empty(), 1);
}

TEST_F(data_queue_test, reads_in_any_block_size_keep_the_order) {
  std::string bytes = pattern(3 * BUFFER_LEN + 17);
  for (int32_t block_len : {1, 7, 4071, 4072, 4073, 8192, 20000}) {
    SCOPED_TRACE(block_len);
    qarn_data_queue queue;
    ASSERT_EQ(queue.append_bytes(bytes.data(), static_cast<int32_t>(bytes.size())),
              static_cast<int32_t>(bytes.size()));
    EXPECT_EQ(read_all(queue, block_len, nullptr), bytes);
    EXPECT_EQ(queue.is_empty(), 1);
  }
}

TEST_F(data_queue_test, read_with_nothing_to_read_returns_zero) {
  qarn_data_queue queue;
  char block[8];
  EXPECT_EQ(queue.read_block(block, 8), 0);
  ASSERT_EQ(queue.append_string("abc"), 3);
  EXPECT_EQ(queue.read_block(block, 0), 0);
  EXPECT_EQ(queue.read_block(block, -5), 0);
  EXPECT_EQ(queue.read_block(nullptr, 8), 0);
  EXPECT_EQ(queue.read_block(block, 8), 3);
}

TEST_F(data_queue_test, clear_and_destroy_give_every_buffer_to_the_pool) {
  int32_t spares_before = 0;
  {
    qarn_data_queue queue;
    std::string bytes = pattern(2 * BUFFER_LEN + 1);
    ASSERT_EQ(queue.append_bytes(bytes.data(), static_cast<int32_t>(bytes.size())),
              static_cast<int32_t>(bytes.size()));
    ASSERT_EQ(queue.buffer_count(), 3);
    spares_before = private_socket_queue_buffer::spare_count();
    queue.clear();
    EXPECT_EQ(queue.is_empty(), 1);
    EXPECT_EQ(queue.buffer_count(), 0);
    EXPECT_EQ(private_socket_queue_buffer::spare_count(), spares_before + 3);
    ASSERT_EQ(queue.append_string("again"), 5);
    EXPECT_EQ(private_socket_queue_buffer::spare_count(), spares_before + 2);
  }
  EXPECT_EQ(private_socket_queue_buffer::spare_count(), spares_before + 3);
}

// The two warnings guard invariants that appends and reads keep; the test
// breaks a buffer's positions by hand to see them.
TEST_F(data_queue_test, broken_invariants_are_reported) {
  std::string bytes = pattern(BUFFER_LEN + 10);
  char block[200];
  {
    qarn_data_queue queue;
    ASSERT_EQ(queue.append_bytes(bytes.data(), static_cast<int32_t>(bytes.size())),
              static_cast<int32_t>(bytes.size()));
    auto *front = const_cast<private_socket_queue_buffer *>(queue.first());
    front->read_pos = front->write_pos;  // drained but not released
    testing::internal::CaptureStdout();
    EXPECT_EQ(queue.read_block(block, 200), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Warning in qarn_data_queue::read_block(), top buffer empty in list of other buffers.\n");
  }
  {
    qarn_data_queue queue;
    ASSERT_EQ(queue.append_bytes(bytes.data(), static_cast<int32_t>(bytes.size())),
              static_cast<int32_t>(bytes.size()));
    auto *front = const_cast<private_socket_queue_buffer *>(queue.first());
    front->write_pos = 100;  // partly written, yet another buffer follows
    testing::internal::CaptureStdout();
    EXPECT_EQ(queue.read_block(block, 200), 100);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Warning in qarn_data_queue::read_block(), more buffers in list than expected.\n");
  }
}

}  // namespace

// Downloads on several threads share the pool: no buffer may be handed to
// two queues at once, nor lost. Each thread marks the buffers it holds and
// finds its mark unchanged before it gives them back.
TEST(data_queue_pool_test, threads_taking_and_giving_buffers_never_share_one) {
  constexpr int THREADS = 4;
  constexpr int ROUNDS = 200000;
  constexpr int HELD = 4;
  std::atomic<int> shared{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < THREADS; t++) {
    threads.emplace_back([t, &shared] {
      for (int round = 0; round < ROUNDS; round++) {
        private_socket_queue_buffer *held[HELD];
        for (auto &buffer : held) {
          buffer = private_socket_queue_buffer::get_buffer();
          ASSERT_NE(buffer, nullptr);
          buffer->write_pos = t;
          buffer->read_pos = round;
        }
        std::this_thread::yield();
        for (auto *buffer : held) {
          if (buffer->write_pos != t || buffer->read_pos != round) {
            shared++;
          }
          private_socket_queue_buffer::put_spare(buffer);
        }
      }
    });
  }
  for (auto &thread : threads) {
    thread.join();
  }
  EXPECT_EQ(shared.load(), 0);
}
