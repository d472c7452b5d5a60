// Resumed downloads end to end: a verified file whose connection drops in
// the middle keeps its bytes for the next run, which asks nginx for the
// rest only; kept bytes never serve another entry, nor a release without
// SHA-256 tokens.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/hex_text.h"
#include "support/sha256.h"
#include "tests/updater_nginx/updater_nginx_support.h"
#include "updater/partial_downloads.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t BIG_SIZE = 2 * 1024 * 1024;
// The served file is cut to this length once the launcher has this many
// bytes of it: nginx then ends the connection in the middle of the body.
constexpr uintmax_t CUT_LENGTH = 1024 * 1024;
constexpr uintmax_t CUT_WHEN_RECEIVED = 384 * 1024;

std::string sha256_hex(const std::string &bytes) {
  qarn_sha256_context context;
  qarn_sha256_init(&context);
  qarn_sha256_update(&context, bytes.data(), bytes.size());
  unsigned char digest[QARN_SHA256_DIGEST_LEN];
  qarn_sha256_final(&context, digest);
  char hex[2 * QARN_SHA256_DIGEST_LEN + 1];
  qarn_hex_encode(digest, QARN_SHA256_DIGEST_LEN, hex);
  return hex;
}

// The partial files of |install|, name -> bytes.
file_tree partial_files(const installation &install) {
  file_tree kept;
  fs::path directory = fs::path(install.path()) / "tmp" / OVU_PARTIAL_DIRECTORY;
  if (!fs::is_directory(directory)) {
    return kept;
  }
  for (const auto &file : fs::directory_iterator(directory)) {
    if (file.path().extension() == ".part") {
      kept[file.path().filename().string()] = read_file(file.path().string());
    }
  }
  return kept;
}

// Leaves |bytes| in |install| as a broken earlier download of the entry
// |name| |size| |hash| would have.
void plant_partial(const installation &install, const std::string &name, int64_t size, const std::string &hash,
                   const std::string &bytes) {
  ovu_manifest_entry entry = {const_cast<char *>(name.c_str()), const_cast<char *>(hash.c_str()), size, nullptr};
  const ovu_manifest_entry *pointer = &entry;
  qarn_growable_array plan;
  plan.init(sizeof(pointer));
  ASSERT_EQ(plan.append(&pointer), 1);
  std::string temporary = install.file("tmp/update.tmp");
  fs::create_directories(fs::path(temporary).parent_path());
  ovu_partial_downloads store;
  store.prepare(temporary.c_str(), plan, true);
  plan.release();
  ASSERT_GE(store.slot_of(&entry), 0);
  write_file(temporary, bytes);
  ASSERT_EQ(store.keep(store.slot_of(&entry), temporary.c_str()), 1);
}

// The statuses nginx logged for |path|, in order.
std::vector<int> statuses_for(const std::string &path, size_t expected) {
  std::vector<int> statuses;
  for (int wait = 0; wait < 150 && statuses.size() < expected; wait++) {
    statuses.clear();
    std::istringstream log(update_server().access_log());
    std::string line;
    const std::string request = "\"GET " + path + " HTTP/1.1\" ";
    while (std::getline(log, line)) {
      size_t at = line.find(request);
      if (at != std::string::npos) {
        statuses.push_back(std::stoi(line.substr(at + request.size(), 3)));
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return statuses;
}

// The size of the largest file under way in |directory|: the temporary
// file and those of the downloads in flight beside it.
uintmax_t largest_download_under_way(const fs::path &directory) {
  uintmax_t largest = 0;
  std::error_code failed;
  for (fs::directory_iterator it(directory, failed), end; !failed && it != end; it.increment(failed)) {
    std::error_code gone;
    uintmax_t size = fs::file_size(it->path(), gone);
    if (!gone && it->path().filename().string().rfind("update.tmp", 0) == 0 && size > largest) {
      largest = size;
    }
  }
  return largest;
}

// Runs a verbose update of |root| into |install|, whose kept bytes of
// "big.bin" do not belong to the release, and expects |big| installed by
// a whole download: no resume, and no kept bytes left.
void expect_installed_without_resuming(const installation &install, const std::string &root,
                                       const std::string &big) {
  update_settings verbose;
  verbose.verbose = true;
  update_outcome out = run_update(install, root, verbose);
  ASSERT_EQ(out.result, 0);
  EXPECT_EQ(read_file(install.file("big.bin")), big);
  EXPECT_EQ(messages_of(out).find("Resuming"), std::string::npos) << messages_of(out);
  EXPECT_TRUE(partial_files(install).empty());
}

class resumed_download_test : public updater_nginx_test {};

TEST_F(resumed_download_test, a_dropped_download_keeps_its_bytes_and_the_next_run_fetches_only_the_rest) {
  const std::string big = random_bytes(BIG_SIZE, 41, false);
  ASSERT_EQ(publish_release("/throttled/resume", {{"big.bin", big}, {"small.txt", "small"}}), 0);
  const std::string served = update_server().docroot() + "/throttled/resume/big.bin";
  installation install;
  // Cuts the served file while nginx sends it, into whichever temporary
  // file the downloads in flight give it.
  std::atomic<bool> done(false);
  std::thread cutter([&] {
    const fs::path temporary_directory = install.file("tmp");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done && std::chrono::steady_clock::now() < deadline) {
      if (largest_download_under_way(temporary_directory) >= CUT_WHEN_RECEIVED) {
        fs::resize_file(served, CUT_LENGTH);
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  update_outcome first = run_update(install, "/throttled/resume");
  done = true;
  cutter.join();
  ASSERT_EQ(first.result, 0);
  EXPECT_TRUE(has_message(first, "Unable to update file 'big.bin' - download failed.")) << messages_of(first);
  file_tree kept = partial_files(install);
  ASSERT_EQ(kept.size(), 1u);
  const std::string partial = kept.begin()->second;
  EXPECT_GE(partial.size(), CUT_WHEN_RECEIVED);
  EXPECT_LE(partial.size(), CUT_LENGTH);
  EXPECT_EQ(partial, big.substr(0, partial.size()));

  write_file(served, big);
  update_settings verbose;
  verbose.verbose = true;
  update_outcome second = run_update(install, "/throttled/resume", verbose);
  ASSERT_EQ(second.result, 0);
  EXPECT_TRUE(has_message(second, "Resuming download of file 'big.bin' at byte " + std::to_string(partial.size()) +
                                      "."))
      << messages_of(second);
  EXPECT_EQ(second.stats.successfully_saved_file_count, 1);
  EXPECT_EQ(read_file(install.file("big.bin")), big);
  EXPECT_TRUE(partial_files(install).empty());
  EXPECT_EQ(statuses_for("/throttled/resume/big.bin", 2), (std::vector<int>{200, 206}));
}

TEST_F(resumed_download_test, bytes_kept_for_a_changed_entry_are_dropped_before_any_download) {
  const std::string now = random_bytes(300000, 42, false);
  const std::string before = random_bytes(300000, 43, false);
  ASSERT_EQ(publish_release("/changed", {{"big.bin", now}}), 0);
  installation install;
  plant_partial(install, "big.bin", static_cast<int64_t>(before.size()), sha256_hex(before), before.substr(0, 1000));
  expect_installed_without_resuming(install, "/changed", now);
}

TEST_F(resumed_download_test, a_release_without_sha256_tokens_never_resumes_and_clears_kept_bytes) {
  const std::string big = random_bytes(300000, 44, false);
  update_server().put_file("unverified/big.bin", big);
  serve_manifest_text("/unverified", sha256_hex(big) + " 300000 big.bin\n");
  installation install;
  plant_partial(install, "big.bin", static_cast<int64_t>(big.size()), sha256_hex(big), big.substr(0, 1000));
  expect_installed_without_resuming(install, "/unverified", big);
  EXPECT_EQ(statuses_for("/unverified/big.bin", 1), (std::vector<int>{200}));
}

TEST_F(resumed_download_test, kept_bytes_that_are_wrong_are_refused_and_the_file_is_fetched_whole) {
  const std::string big = random_bytes(300000, 45, false);
  ASSERT_EQ(publish_release("/wrongkept", {{"big.bin", big}}), 0);
  installation install;
  std::string wrong = big.substr(0, 1000);
  wrong[500] ^= 1;
  plant_partial(install, "big.bin", static_cast<int64_t>(big.size()), sha256_hex(big), wrong);
  update_settings verbose;
  verbose.verbose = true;
  update_outcome out = run_update(install, "/wrongkept", verbose);
  ASSERT_EQ(out.result, 0);
  EXPECT_TRUE(has_message(out, "Resuming download of file 'big.bin' at byte 1000.")) << messages_of(out);
  EXPECT_TRUE(has_message(out, "Fetching file 'big.bin' whole.")) << messages_of(out);
  EXPECT_EQ(read_file(install.file("big.bin")), big);
  EXPECT_TRUE(partial_files(install).empty());
  EXPECT_EQ(statuses_for("/wrongkept/big.bin", 2), (std::vector<int>{206, 200}));
}

}  // namespace
