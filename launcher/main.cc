// torvane-launcher: updates the game files in the current directory, then
// becomes the game client.
#include "launcher/launcher_main_flow.h"

int main(int argc, char **argv) { return launcher_main(argc, argv, launcher_default_services()); }
