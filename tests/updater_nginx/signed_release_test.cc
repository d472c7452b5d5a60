// Signed releases end to end: torvane-publish signs with the tests' release
// key (tests/launcher/test_release.key), or a test signs a hand-made
// manifest with it; nginx serves; an updater with the key's public half
// installs or refuses. Then the deadlines of the manifest and signature
// downloads, against bodies that nginx trickles.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/signature.h"
#include "support/hex_text.h"
#include "support/sha256.h"
#include "tests/common/release_key_file.h"
#include "tests/updater_nginx/updater_nginx_support.h"
#include "updater/release_signature.h"

namespace fs = std::filesystem;

namespace {

const char STATE_FILE[] = "update_manifest.lst.release";
const char SPILL_FILE[] = "tmp/update.tmp.manifest";

const file_tree RELEASE = {
    {"BRUXclient.exe", std::string(3000, 'B')},
    {"readme.txt", "Welcome to Torvane.\n"},
    {"data/maps/level 1.map", random_bytes(20000, 11, false)},
};

file_tree second_release() {
  file_tree files = RELEASE;
  files["readme.txt"] = "Release two of Torvane.\n";
  return files;
}

std::string state_with(uint64_t serial) {
  return "# Torvane release state - do not modify\nserial " + std::to_string(serial) + "\n";
}

std::string sha256_hex(const std::string &bytes) {
  unsigned char digest[QARN_SHA256_DIGEST_LEN];
  qarn_sha256_context context;
  qarn_sha256_init(&context);
  qarn_sha256_update(&context, bytes.data(), bytes.size());
  qarn_sha256_final(&context, digest);
  char hex[2 * QARN_SHA256_DIGEST_LEN + 1];
  qarn_hex_encode(digest, QARN_SHA256_DIGEST_LEN, hex);
  return hex;
}

// The tests' key pair, read from its key file.
struct release_key_pair {
  unsigned char private_key[PLATFORM_P256_PRIVATE_KEY_LEN];
  unsigned char public_key[PLATFORM_P256_PUBLIC_KEY_LEN];
  bool loaded = false;

  release_key_pair() { loaded = read_release_key_file(TEST_RELEASE_KEY_PATH, private_key, public_key); }
};

const release_key_pair &test_key() {
  static const release_key_pair key;
  return key;
}

class signed_release_test : public updater_nginx_test {
 protected:
  void SetUp() override {
    updater_nginx_test::SetUp();
    ASSERT_TRUE(test_key().loaded) << "cannot read " << TEST_RELEASE_KEY_PATH;
    keyed.release_key = test_key().public_key;
  }

  int publish_signed(const std::string &root, const file_tree &files, const std::string &options) {
    return publish_release(root, files, "--sign '" + std::string(TEST_RELEASE_KEY_PATH) + "' " + options);
  }

  // Serves |text| as the manifest at |root|, compressed, with a signature
  // of its bytes by |key| (the tests' key when null).
  void serve_signed_text(const std::string &root, const std::string &text, const release_key_pair *key = nullptr) {
    const release_key_pair &signer = key != nullptr ? *key : test_key();
    std::string compressed = zlib_compress(text);
    update_server().put_file(root.substr(1) + "/" + MANIFEST_NAME, compressed);
    unsigned char digest[QARN_SHA256_DIGEST_LEN];
    qarn_sha256_context context;
    qarn_sha256_init(&context);
    qarn_sha256_update(&context, compressed.data(), compressed.size());
    qarn_sha256_final(&context, digest);
    unsigned char signature[OVU_SIGNATURE_LEN];
    ASSERT_EQ(platform_p256_sign_digest(signer.private_key, signer.public_key, digest, signature), 1);
    update_server().put_file(root.substr(1) + "/" + MANIFEST_NAME + OVU_SIGNATURE_SUFFIX,
                             format_release_signature(signature));
  }

  std::string refused(const std::string &root, const std::string &why) const {
    return "Release '" + root + "/" + MANIFEST_NAME + "' " + why + ", update refused.";
  }

  update_settings keyed;
};

// A server that goes back to an older release after a newer one was
// accepted is refused, and the newer serial stays recorded.
TEST_F(signed_release_test, a_release_older_than_the_last_accepted_one_is_refused) {
  installation install;
  ASSERT_EQ(publish_signed("/rollback", RELEASE, "--serial 100"), 0);
  ASSERT_EQ(run_update(install, "/rollback", keyed).result, 0);
  EXPECT_EQ(read_file(install.file(STATE_FILE)), state_with(100));
  ASSERT_EQ(publish_signed("/rollback", second_release(), "--serial 101"), 0);
  update_outcome second = run_update(install, "/rollback", keyed);
  ASSERT_EQ(second.result, 0) << messages_of(second);
  EXPECT_EQ(read_file(install.file(STATE_FILE)), state_with(101));
  ASSERT_EQ(publish_signed("/rollback", RELEASE, "--serial 100"), 0);
  update_outcome back = run_update(install, "/rollback", keyed);
  EXPECT_EQ(back.result, 4);
  EXPECT_EQ(back.messages, (std::vector<std::string>{refused(
                               "/rollback", "is older than the installed release (serial 100 below 101)")}));
  EXPECT_EQ(read_file(install.file(STATE_FILE)), state_with(101));
  EXPECT_EQ(install.game_files(), second_release());
}

// The serial already accepted is accepted again: a player who lost a file
// gets it back from the same release.
TEST_F(signed_release_test, the_same_release_again_reinstalls_a_deleted_file) {
  installation install;
  ASSERT_EQ(publish_signed("/again", RELEASE, "--serial 100"), 0);
  ASSERT_EQ(run_update(install, "/again", keyed).result, 0);
  fs::remove(install.file("readme.txt"));
  int before = requests_for("/again/readme.txt", 1);
  update_outcome out = run_update(install, "/again", keyed);
  EXPECT_EQ(out.result, 0);
  EXPECT_EQ(out.messages, (std::vector<std::string>{"One file to update."}));
  EXPECT_EQ(requests_for("/again/readme.txt", before + 1), before + 1);
  EXPECT_EQ(install.game_files(), RELEASE);
  EXPECT_EQ(read_file(install.file(STATE_FILE)), state_with(100));
}

// Without the SHA-256 declaration no download could be verified: a
// launcher with a key refuses such a release, signed or not.
TEST_F(signed_release_test, a_signed_release_without_sha256_tokens_is_refused) {
  const std::string readme = "Welcome to Torvane.\n";
  update_server().put_file("undeclared/readme.txt", readme);
  serve_signed_text("/undeclared", "#torvane-serial 100\n" + sha256_hex(readme) + " " +
                                       std::to_string(readme.size()) + " readme.txt\n");
  installation install;
  update_outcome out = run_update(install, "/undeclared", keyed);
  EXPECT_EQ(out.result, 4);
  EXPECT_EQ(out.messages,
            (std::vector<std::string>{refused("/undeclared", "does not declare SHA-256 hash tokens")}));
  EXPECT_EQ(requests_for("/undeclared/readme.txt"), 0);
  EXPECT_FALSE(fs::exists(install.file("readme.txt")));
  EXPECT_FALSE(fs::exists(install.file(STATE_FILE)));
  // With the declaration the same release installs.
  serve_signed_text("/undeclared", "#torvane-hash sha256\n#torvane-serial 100\n" + sha256_hex(readme) + " " +
                                       std::to_string(readme.size()) + " readme.txt\n");
  EXPECT_EQ(run_update(install, "/undeclared", keyed).result, 0);
  EXPECT_EQ(read_file(install.file("readme.txt")), readme);
}

// Not a line of a manifest is parsed before its signature is checked: a
// manifest signed with another key is refused for that, and its broken
// line is never reported. Signed with the release key, the broken line
// fails the fetch.
TEST_F(signed_release_test, the_signature_is_checked_before_any_line_is_parsed) {
  release_key_pair other;
  ASSERT_EQ(platform_p256_generate_key(other.private_key, other.public_key), 1);
  const std::string text = "#torvane-hash sha256\n#torvane-serial 100\nNOT-A-HASH 1 broken\n";
  installation install;
  serve_signed_text("/unparsed", text, &other);
  start_capture();
  update_outcome out = run_update(install, "/unparsed", keyed);
  std::string reports = stop_capture();
  EXPECT_EQ(out.result, 4);
  EXPECT_EQ(out.messages, (std::vector<std::string>{refused("/unparsed", "does not match its signature")}));
  EXPECT_EQ(reports.find("Syntax error"), std::string::npos) << reports;
  serve_signed_text("/unparsed", text);
  start_capture();
  out = run_update(install, "/unparsed", keyed);
  reports = stop_capture();
  EXPECT_EQ(out.result, 4);
  EXPECT_EQ(out.messages, (std::vector<std::string>{"Error fetching update file '/unparsed/manifest.lst.z' from "
                                                    "remote server, aborting update."}));
  EXPECT_NE(reports.find("Syntax error in downloaded data - bad or missing hash field for line:"), std::string::npos);
}

// A manifest too long to hold in memory (its signed comment lines of
// random letters hardly compress) waits in tmp/ for its signature check,
// and the file is gone afterwards. Where that file cannot be made, only
// the long manifest fails.
struct held_case {
  const char *what;
  int comment_lines;
  bool spill_blocked;
  int result;
};

TEST_F(signed_release_test, a_long_manifest_waits_in_a_file_under_tmp) {
  const std::string readme = "Welcome to Torvane.\n";
  update_server().put_file("long/readme.txt", readme);
  std::string entry = sha256_hex(readme) + " " + std::to_string(readme.size()) + " readme.txt\n";
  const held_case cases[] = {
      {"short", 10, true, 0},
      {"long", 100000, false, 0},
      {"long, no spill file", 100000, true, 4},
  };
  const size_t comment_len = 60;
  for (const held_case &c : cases) {
    SCOPED_TRACE(c.what);
    std::string text = "#torvane-hash sha256\n#torvane-serial 100\n";
    std::string digits = random_bytes(comment_len * static_cast<size_t>(c.comment_lines), 5, true);
    for (size_t offset = 0; offset < digits.size(); offset += comment_len) {
      text += "# " + digits.substr(offset, comment_len) + "\n";
    }
    ASSERT_EQ(zlib_compress(text).size() > static_cast<size_t>(OVU_HELD_MANIFEST_MEMORY_LEN), c.comment_lines > 10);
    serve_signed_text("/long", text + entry);
    installation install;
    if (c.spill_blocked) {
      // A directory that is not empty stands where the file would go.
      fs::create_directories(install.file(std::string(SPILL_FILE) + "/in_the_way"));
    }
    update_outcome out = run_update(install, "/long", keyed);
    EXPECT_EQ(out.result, c.result) << messages_of(out);
    EXPECT_EQ(fs::exists(install.file("readme.txt")), c.result == 0);
    if (!c.spill_blocked) {
      EXPECT_FALSE(fs::exists(install.file(SPILL_FILE)));
    }
  }
}

// A manifest or a signature that nginx trickles at 10 bytes a second
// keeps every other bound of the download quiet; the deadlines end them.
struct deadline_case {
  const char *what;
  const char *root;
  bool with_key;
  int32_t manifest_deadline_ms;
  int32_t signature_deadline_ms;
};

TEST_F(signed_release_test, trickled_manifests_and_signatures_meet_their_deadlines) {
  const deadline_case cases[] = {
      {"manifest, unsigned", "/slow/unsigned", false, 1000, OVU_SIGNATURE_FETCH_DEADLINE_MS},
      {"manifest, signed", "/slow/signed", true, 1000, OVU_SIGNATURE_FETCH_DEADLINE_MS},
      {"signature", "/slow-signature/signed", true, OVU_MANIFEST_FETCH_DEADLINE_MS, 1000},
  };
  for (const deadline_case &c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(publish_signed(c.root, RELEASE, "--serial 100"), 0);
    installation install;
    ovu_updater updater;
    std::vector<std::string> messages;
    updater.message_callback = [](void *data, const char *text) {
      static_cast<std::vector<std::string> *>(data)->push_back(text);
    };
    updater.callback_data = &messages;
    updater.release_key = c.with_key ? test_key().public_key : nullptr;
    updater.manifest_deadline_ms = c.manifest_deadline_ms;
    updater.signature_deadline_ms = c.signature_deadline_ms;
    updater.set_destination_path(install.path().c_str());
    updater.set_temporary_file(install.file("tmp/update.tmp").c_str());
    ASSERT_EQ(updater.load_manifest(install.manifest_path().c_str()), 1);
    auto start = std::chrono::steady_clock::now();
    start_capture();
    int result = updater.run(UPDATE_HOST, c.root, MANIFEST_NAME);
    std::string reports = stop_capture();
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result, 4);
    EXPECT_NE(reports.find("response not complete within 1000 ms, giving up."), std::string::npos) << reports;
    EXPECT_LT(elapsed, std::chrono::seconds(8));
    EXPECT_FALSE(fs::exists(install.file("readme.txt")));
  }
}

}  // namespace
