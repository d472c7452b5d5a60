#include "platform/arguments.h"

char **platform_utf8_arguments(int argc, char **argv) {
  (void)argc;  // the bytes are the system's own; names on POSIX are bytes
  return argv;
}
