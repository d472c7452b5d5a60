// The downloader's reports of a transfer it gives up: a connection that
// fell silent, a body longer than allowed, a bound that ran out.
#include "http/download_reports.h"

#include <cinttypes>

#include "http/http_downloader.h"
#include "support/bounded_string.h"
#include "support/diagnostics.h"

namespace {

void report(const char *text, int32_t category) { qarn_diagnostic(text, category, QARN_MODULE_DOWNLOADER); }

}  // namespace

void qarn_report_download_idle(const char *direction, int32_t limit_ms) {
  qarn_bounded_string message;
  message.append("Error in qarn_http_downloader::download(), no data ").append(direction);
  message.append_format(" for %d ms, giving up.", static_cast<int>(limit_ms));
  report(message.text(), QARN_DIAG_OPERATION);
}

void qarn_report_body_too_long() {
  qarn_bounded_string message;
  message.append_format("Warning in qarn_http_downloader::callback_content_data_received(), body longer than "
                        "%" PRId64 " bytes.  Bailing.",
                        QARN_DOWNLOAD_LARGEST_BODY);
  report(message.text(), QARN_DIAG_OPERATION);
}

void qarn_report_body_longer_than_resource(int64_t resource_length) {
  qarn_bounded_string message;
  message.append_format("Warning in qarn_http_downloader::callback_content_data_received(), body longer than "
                        "the resource's %" PRId64 " bytes.  Bailing.",
                        resource_length);
  report(message.text(), QARN_DIAG_OPERATION);
}

void qarn_report_expired_bound(const qarn_download_bounds &bounds) {
  const qarn_download_bound_settings &settings = bounds.settings();
  qarn_bounded_string message;
  message.append("Error in qarn_http_downloader::download(), ");
  switch (bounds.expired()) {
    case QARN_DOWNLOAD_BOUND_HEADER:
      message.append_format("header section not complete within %d ms, giving up.",
                            static_cast<int>(settings.header_ms));
      break;
    case QARN_DOWNLOAD_BOUND_LOW_SPEED:
      message.append_format("less than %d bytes received in %d ms, giving up.",
                            static_cast<int>(settings.low_speed_bytes),
                            static_cast<int>(settings.low_speed_window_ms));
      break;
    case QARN_DOWNLOAD_BOUND_TOTAL:
      message.append_format("response not complete within %d ms, giving up.", static_cast<int>(settings.total_ms));
      break;
    default:
      qarn_report_download_idle("received", settings.idle_ms);
      return;
  }
  report(message.text(), QARN_DIAG_OPERATION);
}
