// torvane-launcher: updates the game files in the current directory, then
// becomes the game client.
#include "launcher/launcher_main_flow.h"
#include "platform/arguments.h"

// The program path of the usage lines and of the elevated re-run is a name
// like any other: UTF-8.
int main(int argc, char **argv) {
  return launcher_main(argc, platform_utf8_arguments(argc, argv), launcher_default_services());
}
