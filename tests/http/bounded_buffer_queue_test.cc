// The ring of buffers between a writer and a reader thread: bytes pass
// intact and in order whatever the pieces, the writer never gets more than
// the ring ahead of the reader, and stop releases either side from its wait.
#include "http/bounded_buffer_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

// Long enough for a writer that is not held back to have written, short
// enough to keep the test quick. Only ever a lower bound: a passing test
// never depends on a thread being this fast.
constexpr auto kSettle = std::chrono::milliseconds(200);

std::string pattern(size_t length) {
  std::string bytes(length, '\0');
  for (size_t i = 0; i < length; i++) {
    bytes[i] = static_cast<char>((i * 131 + i / 251) & 0xff);
  }
  return bytes;
}

// read_all takes buffers until the end and returns their bytes.
std::string read_all(qarn_bounded_buffer_queue &queue) {
  std::string out;
  const char *bytes = nullptr;
  int32_t length = 0;
  while (queue.take(&bytes, &length)) {
    out.append(bytes, static_cast<size_t>(length));
    queue.give_back();
  }
  return out;
}

std::vector<size_t> random_splits(size_t total, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<size_t> pieces;
  while (total > 0) {
    size_t piece = std::uniform_int_distribution<size_t>(0, 40)(random);
    piece = piece < total ? piece : total;
    pieces.push_back(piece);
    total -= piece;
  }
  return pieces;
}

TEST(bounded_buffer_queue_test, bytes_arrive_intact_and_in_order) {
  constexpr int32_t kCount = 3;
  constexpr int32_t kLen = 16;
  const std::string data = pattern(kCount * kLen * 5 + 7);
  struct {
    const char *label;
    std::vector<size_t> pieces;
  } cases[] = {
      {"whole", {data.size()}},
      {"one buffer at a time", std::vector<size_t>(data.size() / kLen, kLen)},
      {"byte by byte", std::vector<size_t>(data.size(), 1)},
      {"random splits", random_splits(data.size(), 7)},
      {"empty pieces between", {0, 5, 0, 0, data.size() - 5, 0}},
  };
  for (const auto &c : cases) {
    qarn_bounded_buffer_queue queue(kCount, kLen);
    ASSERT_EQ(queue.allocate(), 1);
    std::string received;
    std::thread reader([&] { received = read_all(queue); });
    size_t offset = 0;
    for (size_t piece : c.pieces) {
      EXPECT_EQ(queue.write(data.data() + offset, static_cast<int32_t>(piece)), 1) << c.label;
      offset += piece;
    }
    queue.close();
    reader.join();
    EXPECT_EQ(received, data.substr(0, offset)) << c.label;
  }
}

TEST(bounded_buffer_queue_test, nothing_written_means_nothing_taken) {
  qarn_bounded_buffer_queue queue(2, 8);
  ASSERT_EQ(queue.allocate(), 1);
  queue.close();
  EXPECT_EQ(read_all(queue), "");
}

// With nobody reading, the writer fills the whole ring and then waits; it
// goes on only once the reader has given back half the ring.
TEST(bounded_buffer_queue_test, the_writer_waits_when_the_ring_is_full) {
  constexpr int32_t kCount = 4;
  constexpr int32_t kLen = 32;
  qarn_bounded_buffer_queue queue(kCount, kLen);
  ASSERT_EQ(queue.allocate(), 1);
  const std::string data = pattern(kCount * kLen * 3);
  std::atomic<int32_t> written_bytes{0};
  std::atomic<int> all_written{1};
  std::thread writer([&] {
    for (size_t i = 0; i < data.size() && all_written; i += kLen) {
      all_written = queue.write(data.data() + i, kLen);
      written_bytes += kLen;
    }
    queue.close();
  });
  std::this_thread::sleep_for(kSettle);
  // Every buffer is handed on, and not one byte more was taken in.
  EXPECT_EQ(queue.handed_on_count(), kCount);
  EXPECT_EQ(written_bytes.load(), kCount * kLen);

  // Giving back fewer than half does not release the writer.
  const char *bytes = nullptr;
  int32_t length = 0;
  std::string received;
  ASSERT_EQ(queue.take(&bytes, &length), 1);
  received.append(bytes, static_cast<size_t>(length));
  queue.give_back();
  std::this_thread::sleep_for(kSettle);
  EXPECT_EQ(written_bytes.load(), kCount * kLen);
  EXPECT_EQ(queue.handed_on_count(), kCount - 1);

  // Never more than the ring is handed on, however the two race.
  int32_t most_handed_on = 0;
  while (queue.take(&bytes, &length)) {
    int32_t handed_on = queue.handed_on_count();
    most_handed_on = handed_on > most_handed_on ? handed_on : most_handed_on;
    received.append(bytes, static_cast<size_t>(length));
    queue.give_back();
  }
  writer.join();
  EXPECT_EQ(all_written.load(), 1);
  EXPECT_LE(most_handed_on, kCount);
  EXPECT_EQ(received, data);
}

TEST(bounded_buffer_queue_test, stop_releases_a_waiting_writer) {
  qarn_bounded_buffer_queue queue(2, 8);
  ASSERT_EQ(queue.allocate(), 1);
  std::atomic<int> result{-1};
  std::thread writer([&] {
    const std::string data = pattern(3 * 8);
    result = queue.write(data.data(), static_cast<int32_t>(data.size()));
  });
  std::this_thread::sleep_for(kSettle);
  EXPECT_EQ(result.load(), -1);
  queue.stop();
  writer.join();
  EXPECT_EQ(result.load(), 0);
  EXPECT_EQ(queue.write("x", 1), 0);
}

TEST(bounded_buffer_queue_test, stop_releases_a_waiting_reader) {
  qarn_bounded_buffer_queue queue(2, 8);
  ASSERT_EQ(queue.allocate(), 1);
  // Half a buffer written is not handed on: the reader waits for more.
  ASSERT_EQ(queue.write("abc", 3), 1);
  std::atomic<int> result{-1};
  std::thread reader([&] {
    const char *bytes = nullptr;
    int32_t length = 0;
    result = queue.take(&bytes, &length);
  });
  std::this_thread::sleep_for(kSettle);
  EXPECT_EQ(result.load(), -1);
  queue.stop();
  reader.join();
  EXPECT_EQ(result.load(), 0);
}

TEST(bounded_buffer_queue_test, stop_drops_what_is_queued) {
  qarn_bounded_buffer_queue queue(2, 4);
  ASSERT_EQ(queue.allocate(), 1);
  ASSERT_EQ(queue.write("12345678", 8), 1);
  queue.stop();
  const char *bytes = nullptr;
  int32_t length = 0;
  EXPECT_EQ(queue.take(&bytes, &length), 0);
}

TEST(bounded_buffer_queue_test, refuses_sizes_out_of_range) {
  struct {
    int32_t count;
    int32_t len;
    int allocated;
  } cases[] = {
      {1, 1, 1},
      {QARN_BUFFER_QUEUE_MAX_COUNT, 1, 1},
      {0, 8, 0},
      {-1, 8, 0},
      {QARN_BUFFER_QUEUE_MAX_COUNT + 1, 8, 0},
      {2, 0, 0},
      {2, -8, 0},
  };
  for (const auto &c : cases) {
    qarn_bounded_buffer_queue queue(c.count, c.len);
    EXPECT_EQ(queue.allocate(), c.allocated) << c.count << " x " << c.len;
    if (!c.allocated) {
      EXPECT_EQ(queue.write("x", 1), 0) << c.count << " x " << c.len;
    }
  }
}

// A ring of one buffer still works: the writer waits for each buffer to
// come back.
TEST(bounded_buffer_queue_test, a_ring_of_one_buffer) {
  qarn_bounded_buffer_queue queue(1, 5);
  ASSERT_EQ(queue.allocate(), 1);
  const std::string data = pattern(53);
  std::string received;
  std::thread reader([&] { received = read_all(queue); });
  EXPECT_EQ(queue.write(data.data(), static_cast<int32_t>(data.size())), 1);
  queue.close();
  reader.join();
  EXPECT_EQ(received, data);
}

}  // namespace
