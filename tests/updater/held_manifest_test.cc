// The held manifest: bytes kept in memory up to their bound, then in the
// spill file, handed back in order, and gone when discarded.
#include "updater/held_manifest.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "tests/common/diagnostic_capture.h"
#include "tests/common/file_contents.h"
#include "tests/common/scratch_directory.h"

namespace {

std::string random_text(size_t length, uint32_t seed) {
  std::mt19937 random(seed);
  std::string text(length, '\0');
  for (char &c : text) {
    c = static_cast<char>(random());
  }
  return text;
}

struct replayed {
  std::string bytes;
  int pieces = 0;
  int stop_after = -1;  // pieces to take before stopping; -1: all
};

int collect(void *context, const char *bytes, int32_t length) {
  replayed &out = *static_cast<replayed *>(context);
  if (out.stop_after >= 0 && out.pieces == out.stop_after) {
    return 0;
  }
  out.bytes.append(bytes, static_cast<size_t>(length));
  out.pieces++;
  return 1;
}

// Appends |text| in pieces of |piece| bytes.
int append_in_pieces(ovu_held_manifest &held, const std::string &text, size_t piece) {
  for (size_t offset = 0; offset < text.size(); offset += piece) {
    std::string part = text.substr(offset, piece);
    if (!held.append(part.data(), static_cast<int32_t>(part.size()))) {
      return 0;
    }
  }
  return 1;
}

class held_manifest_test : public diagnostic_capture_test {
 protected:
  scratch_directory dir;
  std::string spill = dir.file("tmp/update.tmp.manifest");
};

struct spill_case {
  size_t length;
  bool spilled;
};

TEST_F(held_manifest_test, memory_up_to_its_bound_then_the_spill_file) {
  const int64_t memory_len = 100000;
  const spill_case cases[] = {{0, false}, {1, false}, {99999, false}, {100000, false}, {100001, true}, {1000000, true}};
  for (const spill_case &c : cases) {
    for (size_t piece : {size_t{1000}, size_t{8192}, size_t{65536}}) {
      SCOPED_TRACE(std::to_string(c.length) + " bytes in pieces of " + std::to_string(piece));
      std::string text = random_text(c.length, static_cast<uint32_t>(c.length));
      ovu_held_manifest held;
      held.memory_len = memory_len;
      ASSERT_EQ(held.begin(spill.c_str()), 1);
      ASSERT_EQ(append_in_pieces(held, text, piece), 1);
      EXPECT_EQ(held.length(), static_cast<int64_t>(c.length));
      EXPECT_EQ(held.spilled(), c.spilled);
      EXPECT_EQ(std::filesystem::exists(spill), c.spilled);
      // Replayed twice: the same bytes each time.
      for (int round = 0; round < 2; round++) {
        replayed out;
        EXPECT_EQ(held.replay(collect, &out), 1);
        EXPECT_TRUE(out.bytes == text);
      }
      held.discard();
      EXPECT_EQ(held.length(), 0);
      EXPECT_FALSE(std::filesystem::exists(spill));
    }
  }
}

TEST_F(held_manifest_test, appends_after_a_replay_go_to_the_end) {
  std::string text = random_text(300000, 1);
  ovu_held_manifest held;
  held.memory_len = 1000;
  ASSERT_EQ(held.begin(spill.c_str()), 1);
  ASSERT_EQ(append_in_pieces(held, text.substr(0, 200000), 7000), 1);
  replayed first;
  ASSERT_EQ(held.replay(collect, &first), 1);
  ASSERT_EQ(append_in_pieces(held, text.substr(200000), 7000), 1);
  replayed all;
  ASSERT_EQ(held.replay(collect, &all), 1);
  EXPECT_TRUE(all.bytes == text);
}

TEST_F(held_manifest_test, a_consumer_can_stop_the_replay) {
  for (int64_t memory_len : {int64_t{1} << 20, int64_t{1000}}) {
    std::string text = random_text(200000, 2);
    ovu_held_manifest held;
    held.memory_len = memory_len;
    ASSERT_EQ(held.begin(spill.c_str()), 1);
    ASSERT_EQ(append_in_pieces(held, text, 8192), 1);
    replayed out;
    out.stop_after = 1;
    EXPECT_EQ(held.replay(collect, &out), 0);
    EXPECT_EQ(out.pieces, 1);
    EXPECT_EQ(out.bytes, text.substr(0, OVU_HELD_MANIFEST_READ_LEN));
  }
}

TEST_F(held_manifest_test, takes_its_bound_and_refuses_one_byte_more) {
  for (int64_t memory_len : {int64_t{1} << 20, int64_t{1000}}) {
    ovu_held_manifest held;
    held.memory_len = memory_len;
    held.max_len = 50000;
    ASSERT_EQ(held.begin(spill.c_str()), 1);
    std::string text = random_text(50000, 3);
    EXPECT_EQ(append_in_pieces(held, text, 8192), 1);
    start_capture();
    EXPECT_EQ(held.append("x", 1), 0);
    EXPECT_EQ(stop_capture(),
              "Error in http_fetch_remote_manifest_data::download_data_callback(), manifest is longer than 50000 "
              "bytes, aborting.\n");
    EXPECT_EQ(held.length(), 50000);
  }
}

TEST_F(held_manifest_test, begin_removes_a_spill_file_left_by_an_earlier_process) {
  std::filesystem::create_directories(dir.file("tmp"));
  write_file(spill, "left behind");
  ovu_held_manifest held;
  ASSERT_EQ(held.begin(spill.c_str()), 1);
  EXPECT_FALSE(std::filesystem::exists(spill));
}

TEST_F(held_manifest_test, a_spill_file_that_cannot_be_made_refuses_the_bytes) {
  dir.write_file("plain", "x");
  ovu_held_manifest held;
  held.memory_len = 1000;
  std::string unwritable = dir.file("plain/update.tmp.manifest");
  ASSERT_EQ(held.begin(unwritable.c_str()), 1);
  std::string text = random_text(5000, 4);
  start_capture();
  EXPECT_EQ(append_in_pieces(held, text, 800), 0);
  EXPECT_EQ(stop_capture(), "Error in ovu_held_manifest, unable to create '" + unwritable + "'.\n");
}

}  // namespace
