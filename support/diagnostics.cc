#include "support/diagnostics.h"

#include <atomic>
#include <cstdio>

#include "support/held_reports.h"

namespace {

// Read by helper threads whose reports are held (qarn_held_reports).
std::atomic<int32_t> g_mask{QARN_MASK_NONE};
// No operation in the system switches reports off; the switch is kept so that
// a build for embedding can silence the library in one place.
int32_t g_enabled = 1;

bool is_hidden(int32_t category, int32_t module_letter) {
  if (category == QARN_DIAG_TRACE && module_letter == QARN_MODULE_SILENT) {
    return true;
  }
  int32_t mask = g_mask.load(std::memory_order_relaxed);
  return (category | mask) == mask;
}

}  // namespace

void qarn_diagnostic(const char *text, int32_t category, int32_t module_letter) {
  if (!g_enabled || is_hidden(category, module_letter)) {
    return;
  }
  if (qarn_held_reports *holder = qarn_reports_holder()) {
    holder->add_line(QARN_HELD_DIAGNOSTIC, category, module_letter, text != nullptr ? text : "(null)");
    return;
  }
  std::printf("%s\n", text != nullptr ? text : "(null)");
  std::fflush(nullptr);
}

void qarn_set_diagnostic_mask(int32_t mask) { g_mask.store(mask, std::memory_order_relaxed); }

int32_t qarn_diagnostic_mask() { return g_mask.load(std::memory_order_relaxed); }
