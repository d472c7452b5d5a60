// Diagnostics: the one way the library and the updater report errors,
// warnings and trace notices. Each report is one line on standard output,
// unless its category is hidden by the process-wide mask.
#ifndef TORVANE_SUPPORT_DIAGNOSTICS_H
#define TORVANE_SUPPORT_DIAGNOSTICS_H

#include <cstdint>

// Categories: one bit each, saying what kind of event a report is.
enum qarn_diagnostic_category : int32_t {
  QARN_DIAG_RESOURCE = 1,      // a basic resource could not be obtained
  QARN_DIAG_OPERATION = 2,     // errors and warnings of normal operation
  QARN_DIAG_MISUSE = 4,        // caller misuse or broken internal consistency
  QARN_DIAG_MANIFEST = 16,     // local manifest syntax or save problems
  QARN_DIAG_SHORT_HASH_OR_ELEVATION = 32,  // short manifest hash; elevated re-run failed
  QARN_DIAG_PROTOCOL = 64,     // questionable protocol input
  QARN_DIAG_CONNECTION = 128,  // connection failures and doubtful parameters
  QARN_DIAG_TRACE = 256,       // trace notices
};

// Module letters: which part of the system reports.
enum qarn_diagnostic_module : int32_t {
  QARN_MODULE_SUPPORT = 'd',     // 100
  QARN_MODULE_NET = 'e',         // 101
  QARN_MODULE_HTTP = 'f',        // 102
  QARN_MODULE_TLS = 'h',         // 104
  QARN_MODULE_SILENT = 'l',      // 108: its trace notices are always hidden
  QARN_MODULE_DOWNLOADER = 'n',  // 110
  QARN_MODULE_UPDATER = 'o',     // 111
};

// Masks the launcher sets.
constexpr int32_t QARN_MASK_NONE = 0;
constexpr int32_t QARN_MASK_QUIET = QARN_DIAG_TRACE | QARN_DIAG_OPERATION;  // 258
constexpr int32_t QARN_MASK_BOOT = QARN_DIAG_TRACE;                         // 256
static_assert(QARN_MASK_QUIET == 258, "the quiet mask hides categories 2 and 256");

// qarn_diagnostic prints |text| and a newline to standard output and flushes
// every output stream, unless reports are switched off, the category is a
// silent-module trace notice, or every bit of |category| is in the mask.
// A null |text| prints "(null)". On a thread that holds its reports
// (support/held_reports.h) a report that would be printed is held instead.
void qarn_diagnostic(const char *text, int32_t category, int32_t module_letter);

// qarn_set_diagnostic_mask replaces the mask of hidden categories.
void qarn_set_diagnostic_mask(int32_t mask);

// qarn_diagnostic_mask returns the mask in force.
int32_t qarn_diagnostic_mask();

#endif
