// Test helper: the real launcher as a build with a release key makes it,
// checking releases against the tests' own key (test_release.key beside
// this file; its public half comes in as TEST_RELEASE_KEY_HEX).
#include <cstdio>

#include "launcher/launcher_main_flow.h"
#include "launcher/release_key.h"
#include "platform/arguments.h"
#include "support/hex_text.h"

int main(int argc, char **argv) {
  static unsigned char key[LAUNCHER_RELEASE_KEY_LEN];
  if (!qarn_hex_decode(TEST_RELEASE_KEY_HEX, LAUNCHER_RELEASE_KEY_LEN, key)) {
    std::printf("keyed launcher: the test release key is not hex\n");
    return 2;
  }
  launcher_services services = launcher_default_services();
  services.release_key = key;
  return launcher_main(argc, platform_utf8_arguments(argc, argv), services);
}
