// torvane-publish as an operator runs it: exit codes, the manifest it
// writes, and a refused release that writes nothing.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/signature.h"
#include "tests/common/file_contents.h"
#include "tests/common/hex_bytes.h"
#include "tests/common/scratch_directory.h"
#include "tools/file_digest.h"
#include "updater/release_signature.h"

#ifndef _WIN32
#include <sys/wait.h>

namespace {

std::string inflate_all(const std::string &compressed) {
  z_stream stream{};
  EXPECT_EQ(inflateInit2(&stream, 15 + 32), Z_OK);
  std::string out(1 << 20, '\0');
  stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(compressed.data()));
  stream.avail_in = static_cast<uInt>(compressed.size());
  stream.next_out = reinterpret_cast<Bytef *>(&out[0]);
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(inflate(&stream, Z_FINISH), Z_STREAM_END);
  out.resize(stream.total_out);
  inflateEnd(&stream);
  return out;
}

// Runs torvane-publish with |arguments|, after |environment| (VAR=value
// words, or nothing); what it prints goes to |*output| when given.
int publish(const std::string &arguments, std::string *output = nullptr, const std::string &environment = "") {
  scratch_directory out;
  const std::string printed = out.file("printed");
  std::string command = environment + " " + PUBLISH_PATH + " " + arguments + " >'" + printed + "' 2>&1";
  int status = std::system(command.c_str());
  if (output != nullptr) {
    *output = read_file(printed);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

namespace fs = std::filesystem;

TEST(publish_tool_test, lists_each_file_with_its_sha256_and_size_after_the_declarations) {
  scratch_directory dir;
  dir.write_file("abc.txt", "abc");
  std::filesystem::create_directory(dir.file("sub"));
  dir.write_file("sub/empty", "");
  ASSERT_EQ(publish("--serial 7 '" + dir.path().string() + "'"), 0);
  EXPECT_EQ(inflate_all(read_file(dir.file("manifest.lst.z"))),
            "#torvane-hash sha256\n"
            "#torvane-serial 7\n"
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad 3 abc.txt\n"
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855 0 sub/empty\n");
  // Publishing again lists the same files, never the manifest itself.
  ASSERT_EQ(publish("--serial 8 '" + dir.path().string() + "'"), 0);
  std::string again = inflate_all(read_file(dir.file("manifest.lst.z")));
  EXPECT_EQ(again.find(" manifest.lst.z"), std::string::npos) << again;
  ASSERT_EQ(publish("--serial 9 --manifest other.z '" + dir.path().string() + "'"), 0);
  std::string other = inflate_all(read_file(dir.file("other.z")));
  EXPECT_EQ(other.find(" other.z"), std::string::npos) << other;
  EXPECT_NE(other.find(" manifest.lst.z\n"), std::string::npos) << other;
}

TEST(publish_tool_test, gzip_and_expiry_options) {
  scratch_directory dir;
  dir.write_file("a", "a");
  ASSERT_EQ(publish("--gzip --expires 30 '" + dir.path().string() + "'"), 0);
  std::string written = read_file(dir.file("manifest.lst.z"));
  EXPECT_EQ(static_cast<unsigned char>(written[0]), 0x1f);
  std::string text = inflate_all(written);
  EXPECT_NE(text.find("\n#torvane-expires "), std::string::npos) << text;
}

TEST(publish_tool_test, a_refused_release_writes_no_manifest) {
  scratch_directory dir;
  dir.write_file("good", "g");
  dir.write_file(" leading blank", "b");
  EXPECT_EQ(publish("'" + dir.path().string() + "'"), 1);
  EXPECT_FALSE(dir.exists("manifest.lst.z"));
  EXPECT_FALSE(dir.exists("manifest.lst.z.tmp"));
}

// 948 bytes in components that the file system takes: one more than the
// longest name whose line in the local manifest is read back whole.
std::string name_of_948_bytes() {
  std::string name = std::string(144, 'h');
  for (char c : {'d', 'e', 'f', 'g'}) {
    name = std::string(200, c) + "/" + name;
  }
  return name;
}

// Every name a launcher would refuse or could not keep on Windows is named,
// one line each, and no manifest is written; names a request can carry
// once encoded stay publishable.
TEST(publish_tool_test, every_name_a_launcher_would_refuse_is_named_and_nothing_is_written) {
  scratch_directory dir;
  std::filesystem::create_directories(dir.file("tmp"));
  std::filesystem::create_directories(dir.file("Data"));
  std::filesystem::create_directories(dir.file("data"));
  const std::vector<std::pair<std::string, std::string>> refused = {
      {"update_manifest.lst", "the launcher keeps a file or folder of that name in every installation"},
      {"Update_Exclude.lst", "the launcher keeps a file or folder of that name in every installation"},
      {"torvane_updater_lock.tmp", "the launcher keeps a file or folder of that name in every installation"},
      {"tmp/evil.dat", "the launcher keeps a file or folder of that name in every installation"},
      {"a\rb.txt", "its name holds a carriage return"},
      {name_of_948_bytes(), "its line in the local manifest would be longer than 1023 characters"},
      {"COM\xC2\xB9", "unsafe name (reserved device name)"},
      {"lpt0.txt", "unsafe name (reserved device name)"},
      {"CONOUT$", "unsafe name (reserved device name)"},
      {"what?.txt", "unsafe name (character reserved by Windows)"},
      {"a|b.txt", "unsafe name (character reserved by Windows)"},
      {"a\x01.txt", "unsafe name (control character)"},
      {"trailing.", "unsafe name (dot or blank at the end of a component)"},
      {"Data/a.txt", "the same file on Windows as 'data/a.txt'"},
      {"data/a.txt", "the same file on Windows as 'Data/a.txt'"},
  };
  for (const auto &file : refused) {
    std::filesystem::create_directories(std::filesystem::path(dir.file(file.first)).parent_path());
    dir.write_file(file.first, "x");
  }
  dir.write_file("100%.txt", "kept");
  dir.write_file("a#b.txt", "kept");
  std::string output;
  EXPECT_EQ(publish("'" + dir.path().string() + "'", &output), 1);
  EXPECT_FALSE(dir.exists("manifest.lst.z"));
  EXPECT_FALSE(dir.exists("manifest.lst.z.tmp"));
  for (auto file : refused) {
    std::string shown = file.first;
    for (auto escape : {std::make_pair(std::string("\r"), std::string("\\r")),
                        std::make_pair(std::string("\x01"), std::string("\\x01"))}) {
      size_t at = shown.find(escape.first);
      if (at != std::string::npos) {
        shown.replace(at, escape.first.size(), escape.second);
      }
    }
    std::string line = "torvane-publish: cannot publish '" + shown + "': " + file.second + "\n";
    EXPECT_NE(output.find(line), std::string::npos) << line << output;
  }
  EXPECT_EQ(output.find("100%.txt"), std::string::npos) << output;
  EXPECT_EQ(output.find("a#b.txt"), std::string::npos) << output;
  EXPECT_NE(output.find("release refused, no manifest written"), std::string::npos) << output;
  // Without them, the names with "%" and "#" are published.
  for (const auto &file : refused) {
    std::filesystem::remove(dir.file(file.first));
  }
  ASSERT_EQ(publish("'" + dir.path().string() + "'"), 0);
  std::string text = inflate_all(read_file(dir.file("manifest.lst.z")));
  EXPECT_NE(text.find(" 100%.txt\n"), std::string::npos) << text;
  EXPECT_NE(text.find(" a#b.txt\n"), std::string::npos) << text;
}

// The longest validity the tool gives a release is a century of days; one
// day more is bad usage, and nothing is written.
TEST(publish_tool_test, expires_takes_36500_days_at_most) {
  constexpr int64_t LIMIT_DAYS = 36500;
  scratch_directory dir;
  dir.write_file("a", "a");
  const std::string release = "'" + dir.path().string() + "'";
  EXPECT_EQ(publish("--expires " + std::to_string(LIMIT_DAYS + 1) + " " + release), 2);
  EXPECT_FALSE(dir.exists("manifest.lst.z"));
  const int64_t before = static_cast<int64_t>(std::time(nullptr));
  ASSERT_EQ(publish("--expires " + std::to_string(LIMIT_DAYS) + " " + release), 0);
  const int64_t after = static_cast<int64_t>(std::time(nullptr));
  const std::string text = inflate_all(read_file(dir.file("manifest.lst.z")));
  const std::string declaration = "\n#torvane-expires ";
  size_t at = text.find(declaration);
  ASSERT_NE(at, std::string::npos) << text;
  const int64_t expires = std::stoll(text.substr(at + declaration.size()));
  EXPECT_GE(expires, before + LIMIT_DAYS * 86400);
  EXPECT_LE(expires, after + LIMIT_DAYS * 86400);
}

TEST(publish_tool_test, a_link_that_leads_outside_the_release_refuses_it_and_is_named) {
  scratch_directory base;
  fs::create_directory(base.file("release"));
  base.write_file("release.key", "the signing key");
  base.write_file("release/game.dat", "game");
  std::error_code error;
  fs::create_symlink("../release.key", base.file("release/notes.txt"), error);
  ASSERT_FALSE(error) << error.message();
  std::string printed;
  EXPECT_EQ(publish("'" + base.file("release") + "'", &printed), 1);
  EXPECT_NE(printed.find("torvane-publish: cannot publish 'notes.txt': it is a link that leads outside the release "
                         "directory\n"),
            std::string::npos)
      << printed;
  EXPECT_FALSE(fs::exists(base.file("release/manifest.lst.z")));
}

// Links planted under the names that the manifest and its signature are
// written under first: the files they lead to stay as they were.
TEST(publish_tool_test, links_planted_under_the_temporary_names_are_not_written_through) {
  scratch_directory base;
  fs::create_directory(base.file("release"));
  base.write_file("release/game.dat", "game");
  base.write_file("victim", "victim's bytes");
  const std::string key = base.file("release.key");
  ASSERT_EQ(publish("--make-key '" + key + "'"), 0);
  for (const char *name : {"release/manifest.lst.z.tmp", "release/manifest.lst.z.sig.tmp"}) {
    std::error_code error;
    fs::create_symlink("../victim", base.file(name), error);
    ASSERT_FALSE(error) << error.message();
  }
  ASSERT_EQ(publish("--sign '" + key + "' '" + base.file("release") + "'"), 0);
  EXPECT_EQ(read_file(base.file("victim")), "victim's bytes");
  for (const char *name : {"release/manifest.lst.z", "release/manifest.lst.z.sig"}) {
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(base.file(name)))) << name;
  }
  EXPECT_FALSE(fs::exists(fs::symlink_status(base.file("release/manifest.lst.z.tmp"))));
  EXPECT_NE(inflate_all(read_file(base.file("release/manifest.lst.z"))).find(" 4 game.dat\n"), std::string::npos);
}

// Whether the signature file beside |manifest| holds a valid signature of
// |content| under the public key in |public_key_file|.
bool signature_fits(const std::string &manifest, const std::string &content, const std::string &public_key_file) {
  bytes public_key = from_hex(read_file(public_key_file).substr(0, 2 * PLATFORM_P256_PUBLIC_KEY_LEN));
  std::string text = read_file(manifest + OVU_SIGNATURE_SUFFIX);
  unsigned char signature[OVU_SIGNATURE_LEN];
  if (public_key.size() != static_cast<size_t>(PLATFORM_P256_PUBLIC_KEY_LEN) ||
      !parse_release_signature(text.data(), static_cast<int32_t>(text.size()), signature)) {
    ADD_FAILURE() << "no key or no signature: " << text;
    return false;
  }
  qarn_sha256_context context;
  qarn_sha256_init(&context);
  qarn_sha256_update(&context, content.data(), content.size());
  unsigned char digest[QARN_SHA256_DIGEST_LEN];
  qarn_sha256_final(&context, digest);
  return platform_p256_verify_digest(public_key.data(), digest, signature) == 1;
}

// Someone who can write the release directory replaces the manifest right
// after it was put in place (manifest_swap.c). The signature is still that
// of the bytes the publisher wrote, so launchers refuse the swapped ones.
TEST(publish_tool_test, signs_the_manifest_as_written_even_when_it_is_replaced_at_once) {
  scratch_directory base;
  fs::create_directory(base.file("release"));
  base.write_file("release/game.dat", "game");
  const std::string key = base.file("release.key");
  ASSERT_EQ(publish("--make-key '" + key + "'"), 0);
  const std::string swap = std::string("ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD='") + MANIFEST_SWAP_PATH + "'";
  std::string printed;
  ASSERT_EQ(publish("--sign '" + key + "' '" + base.file("release") + "'", &printed, swap), 0) << printed;
  const std::string manifest = base.file("release/manifest.lst.z");
  const std::string written = read_file(manifest + ".as_written");
  ASSERT_NE(written, MISSING_FILE_CONTENT) << "the manifest was not swapped";
  const std::string swapped = read_file(manifest);
  ASSERT_NE(swapped, written);
  EXPECT_NE(inflate_all(written).find(" 4 game.dat\n"), std::string::npos);
  EXPECT_TRUE(signature_fits(manifest, written, key + ".pub"));
  EXPECT_FALSE(signature_fits(manifest, swapped, key + ".pub"));
}

TEST(publish_tool_test, bad_usage_exits_with_2) {
  scratch_directory dir;
  for (const char *arguments : {"", "--serial", "--serial x DIR", "--expires 99999999 DIR", "--bogus DIR", "a b"}) {
    EXPECT_EQ(publish(arguments), 2) << arguments;
  }
}

}  // namespace
#endif
