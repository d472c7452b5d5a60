// The built-in configuration: the block this build made, the codec, and the
// update run's answer to a block made with other key material.
#include "launcher/configuration_block.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "launcher/built_in_configuration.h"
#include "launcher/launcher_flags.h"
#include "launcher/update_run.h"
#include "tests/common/diagnostic_capture.h"
#include "tests/common/scratch_directory.h"

namespace {

const unsigned char KEY[LAUNCHER_KEY_MATERIAL_LEN] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                                      0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};

TEST(configuration_block_test, the_built_block_deciphers_to_the_configured_values) {
  launcher_plain_configuration plain;
  ASSERT_EQ(decipher_configuration(g_built_in_configuration, &plain), 1);
  EXPECT_STREQ(configuration_host(plain), TORVANE_EXPECTED_HOST);
  EXPECT_STREQ(configuration_root_path(plain), TORVANE_EXPECTED_ROOT);
  EXPECT_STREQ(configuration_manifest_name(plain), TORVANE_EXPECTED_MANIFEST);
}

TEST(configuration_block_test, the_built_block_holds_no_plain_value) {
  const std::string bytes(reinterpret_cast<const char *>(g_built_in_configuration), LAUNCHER_CONFIGURATION_LEN);
  for (const char *value : {TORVANE_EXPECTED_HOST, TORVANE_EXPECTED_ROOT, TORVANE_EXPECTED_MANIFEST}) {
    EXPECT_EQ(bytes.find(value), std::string::npos) << value;
  }
}

TEST(configuration_block_test, enciphers_and_deciphers_with_the_key_material_in_front) {
  unsigned char block[LAUNCHER_CONFIGURATION_LEN];
  ASSERT_EQ(encipher_configuration(KEY, "updates.example.org", "/games/torvane", "release.lst.z", block), 1);
  EXPECT_EQ(std::memcmp(block, KEY, sizeof(KEY)), 0);
  launcher_plain_configuration plain;
  ASSERT_EQ(decipher_configuration(block, &plain), 1);
  EXPECT_STREQ(configuration_host(plain), "updates.example.org");
  EXPECT_STREQ(configuration_root_path(plain), "/games/torvane");
  EXPECT_STREQ(configuration_manifest_name(plain), "release.lst.z");
}

struct field_case {
  size_t host_len;
  size_t root_len;
  size_t manifest_len;
  int fits;
};

TEST(configuration_block_test, each_text_must_fit_its_field_with_its_nul) {
  const field_case cases[] = {
      {223, 255, 511, 1}, {224, 1, 1, 0}, {1, 256, 1, 0}, {1, 1, 512, 0}, {0, 0, 0, 1},
  };
  for (const field_case &c : cases) {
    unsigned char block[LAUNCHER_CONFIGURATION_LEN];
    std::string host(c.host_len, 'h');
    std::string root(c.root_len, 'r');
    std::string manifest(c.manifest_len, 'm');
    EXPECT_EQ(encipher_configuration(KEY, host.c_str(), root.c_str(), manifest.c_str(), block), c.fits)
        << c.host_len << " " << c.root_len << " " << c.manifest_len;
  }
}

TEST(configuration_block_test, other_key_material_or_a_damaged_block_is_refused) {
  unsigned char block[LAUNCHER_CONFIGURATION_LEN];
  ASSERT_EQ(encipher_configuration(KEY, "host", "/root", "manifest", block), 1);
  launcher_plain_configuration plain;
  unsigned char other_key[LAUNCHER_CONFIGURATION_LEN];
  std::memcpy(other_key, block, sizeof(block));
  other_key[5] ^= 0x01;
  EXPECT_EQ(decipher_configuration(other_key, &plain), 0);
  unsigned char damaged_check[LAUNCHER_CONFIGURATION_LEN];
  std::memcpy(damaged_check, block, sizeof(block));
  damaged_check[LAUNCHER_KEY_MATERIAL_LEN + 3] ^= 0x80;
  EXPECT_EQ(decipher_configuration(damaged_check, &plain), 0);
  // A host field without its NUL would run into the root path.
  unsigned char unterminated[LAUNCHER_CONFIGURATION_LEN];
  std::memcpy(unterminated, block, sizeof(block));
  // Flipping bits of an enciphered byte flips the same bits of the plain
  // one: every NUL after "host" deciphers to 'x'.
  for (int i = 4; i < LAUNCHER_HOST_FIELD_LEN; i++) {
    unterminated[LAUNCHER_KEY_MATERIAL_LEN + LAUNCHER_HOST_OFFSET + i] ^= 'x';
  }
  EXPECT_EQ(decipher_configuration(unterminated, &plain), 0);
}

class bad_configuration_run_test : public diagnostic_capture_test {};

// A block made with other key material never reaches the updater: nothing
// is created in the installation and nothing is fetched.
TEST_F(bad_configuration_run_test, says_segmentation_fault_and_constructs_no_updater) {
  unsigned char block[LAUNCHER_CONFIGURATION_LEN];
  ASSERT_EQ(encipher_configuration(KEY, "127.0.0.1", "/torvane", "manifest.lst.z", block), 1);
  block[0] ^= 0x42;
  scratch_directory dir;
  std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  g_launcher_flags.verbose = 1;
  ovu_update_stats stats = {};
  start_capture();
  int result = run_update(block, "update_manifest.lst", "update_exclude.lst", "tmp/update.tmp", &stats, nullptr);
  std::string output = stop_capture();
  g_launcher_flags.verbose = 0;
  std::filesystem::current_path(previous);
  EXPECT_EQ(result, 0);
  // A build without TLS may first say so, once per process.
  const std::string bail = "Segmentation fault.  Attempting to bail.\n";
  ASSERT_GE(output.size(), bail.size()) << output;
  EXPECT_EQ(output.substr(output.size() - bail.size()), bail);
  EXPECT_EQ(output.find("Updater got server name"), std::string::npos) << output;
  EXPECT_FALSE(dir.exists("tmp"));
  EXPECT_EQ(stats.remote_manifest_entry_count, 0);
}

}  // namespace
