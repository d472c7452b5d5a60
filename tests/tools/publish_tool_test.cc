// torvane-publish as an operator runs it: exit codes, the manifest it
// writes, and a refused release that writes nothing.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/common/file_contents.h"
#include "tests/common/scratch_directory.h"

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

int publish(const std::string &arguments) {
  std::string command = std::string(PUBLISH_PATH) + " " + arguments + " >/dev/null 2>&1";
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

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

// Runs torvane-publish with |arguments|; returns its exit code and sets
// |output| to what it wrote to stdout and stderr.
int publish_with_output(const std::string &arguments, std::string *output) {
  std::string command = std::string(PUBLISH_PATH) + " " + arguments + " 2>&1";
  FILE *pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    return -1;
  }
  output->clear();
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) {
    output->append(buffer, got);
  }
  int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
  EXPECT_EQ(publish_with_output("'" + dir.path().string() + "'", &output), 1);
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

TEST(publish_tool_test, bad_usage_exits_with_2) {
  scratch_directory dir;
  for (const char *arguments : {"", "--serial", "--serial x DIR", "--expires 99999999 DIR", "--bogus DIR", "a b"}) {
    EXPECT_EQ(publish(arguments), 2) << arguments;
  }
}

}  // namespace
#endif
