#include "updater/release_signature.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string HEX = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff"
                        "0123456789abcdef0123456789abcdef0123456789abcdef0123456789ABCDEF";

TEST(release_signature_test, parses_the_signature_line_with_or_without_its_line_feed) {
  for (const std::string &text : {std::string(OVU_SIGNATURE_PREFIX) + HEX + "\n", std::string(OVU_SIGNATURE_PREFIX) + HEX}) {
    unsigned char signature[OVU_SIGNATURE_LEN] = {};
    ASSERT_EQ(parse_release_signature(text.data(), static_cast<int32_t>(text.size()), signature), 1) << text;
    EXPECT_EQ(signature[0], 0x00);
    EXPECT_EQ(signature[1], 0x11);
    EXPECT_EQ(signature[31], 0xff);
    EXPECT_EQ(signature[63], 0xef);
  }
}

TEST(release_signature_test, formats_what_it_parses) {
  unsigned char signature[OVU_SIGNATURE_LEN];
  for (int i = 0; i < OVU_SIGNATURE_LEN; i++) {
    signature[i] = static_cast<unsigned char>(i * 7 + 3);
  }
  std::string text = format_release_signature(signature);
  unsigned char parsed[OVU_SIGNATURE_LEN] = {};
  ASSERT_EQ(parse_release_signature(text.data(), static_cast<int32_t>(text.size()), parsed), 1) << text;
  EXPECT_EQ(std::string(reinterpret_cast<char *>(parsed), sizeof(parsed)),
            std::string(reinterpret_cast<char *>(signature), sizeof(signature)));
}

TEST(release_signature_test, refuses_anything_else) {
  const std::string prefix = OVU_SIGNATURE_PREFIX;
  const std::string cases[] = {
      "",
      prefix,
      prefix + HEX.substr(2),
      prefix + HEX + "00",
      prefix + HEX + "\n\n",
      prefix + HEX + "\r\n",
      prefix + HEX.substr(0, 127) + "g",
      " " + prefix + HEX,
      "torvane-signature ed25519 " + HEX,
      "<html>404 Not Found</html>",
  };
  for (const std::string &text : cases) {
    unsigned char signature[OVU_SIGNATURE_LEN];
    EXPECT_EQ(parse_release_signature(text.data(), static_cast<int32_t>(text.size()), signature), 0) << text;
  }
}

}  // namespace
