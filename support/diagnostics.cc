#include "support/diagnostics.h"

#include <cstdio>

namespace {

int32_t g_mask = QARN_MASK_NONE;
// No operation in the system switches reports off; the switch is kept so that
// a build for embedding can silence the library in one place.
int32_t g_enabled = 1;

bool is_hidden(int32_t category, int32_t module_letter) {
  if (category == QARN_DIAG_TRACE && module_letter == QARN_MODULE_SILENT) {
    return true;
  }
  return (category | g_mask) == g_mask;
}

}  // namespace

void qarn_diagnostic(const char *text, int32_t category, int32_t module_letter) {
  if (!g_enabled || is_hidden(category, module_letter)) {
    return;
  }
  std::printf("%s\n", text != nullptr ? text : "(null)");
  std::fflush(nullptr);
}

void qarn_set_diagnostic_mask(int32_t mask) { g_mask = mask; }

int32_t qarn_diagnostic_mask() { return g_mask; }
