// torvane-publish as an operator runs it: exit codes, the manifest it
// writes, and a refused release that writes nothing.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

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

TEST(publish_tool_test, bad_usage_exits_with_2) {
  scratch_directory dir;
  for (const char *arguments : {"", "--serial", "--serial x DIR", "--expires 99999999 DIR", "--bogus DIR", "a b"}) {
    EXPECT_EQ(publish(arguments), 2) << arguments;
  }
}

}  // namespace
#endif
