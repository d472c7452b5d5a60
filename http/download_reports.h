// The downloader's reports of a transfer it gives up, each one line of the
// downloader's module in the operation category.
#ifndef TORVANE_HTTP_DOWNLOAD_REPORTS_H
#define TORVANE_HTTP_DOWNLOAD_REPORTS_H

#include <cstdint>

#include "http/download_bounds.h"

// qarn_report_download_idle: no byte went in |direction| ("sent" or
// "received") for |limit_ms|.
void qarn_report_download_idle(const char *direction, int32_t limit_ms);
// qarn_report_body_too_long: a body longer than any file may be.
void qarn_report_body_too_long();
// qarn_report_body_longer_than_resource: a body past the |resource_length|
// bytes the resource has.
void qarn_report_body_longer_than_resource(int64_t resource_length);
// qarn_report_expired_bound: the bound that |bounds| found run out.
void qarn_report_expired_bound(const qarn_download_bounds &bounds);

#endif
