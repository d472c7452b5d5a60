#include "updater/release_state.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "support/atomic_file.h"
#include "support/diagnostics.h"
#include "support/file_system.h"
#include "updater/release_declarations.h"

namespace {

const char HEADER_LINE[] = "# Torvane release state - do not modify";
const char SERIAL_KEY[] = "serial ";
constexpr int32_t STATE_LINE_LEN = 128;

bool parse_serial_line(const char *line, uint64_t *serial) {
  return std::strncmp(line, SERIAL_KEY, sizeof(SERIAL_KEY) - 1) == 0 &&
         parse_release_number(line + sizeof(SERIAL_KEY) - 1, serial);
}

}  // namespace

void release_state_path(const char *manifest_path, qarn_bounded_string_base &path) {
  path.assign(manifest_path).append(OVU_RELEASE_STATE_SUFFIX);
}

int load_release_serial(const char *path, uint64_t *serial) {
  FILE *file = qarn_fopen(path, "rb");
  if (file == nullptr) {
    return 0;
  }
  char header[STATE_LINE_LEN];
  char line[STATE_LINE_LEN];
  bool read = fget_line(file, header, sizeof(header)) > 0 && fget_line(file, line, sizeof(line)) > 0;
  qarn_fclose(file);
  if (read && std::strcmp(header, HEADER_LINE) == 0 && parse_serial_line(line, serial)) {
    return 1;
  }
  qarn_bounded_string message;
  message.append("Warning in load_release_serial(), '").append(path).append("' is not a release state file.");
  qarn_diagnostic(message.text(), QARN_DIAG_OPERATION, QARN_MODULE_UPDATER);
  return 0;
}

int save_release_serial(const char *path, uint64_t serial) {
  qarn_atomic_file state;
  FILE *file = state.open(path);
  if (file == nullptr) {
    return 0;
  }
  std::fprintf(file, "%s\n%s%" PRIu64 "\n", HEADER_LINE, SERIAL_KEY, serial);
  return state.commit();
}
