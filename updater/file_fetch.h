// ovu_file_fetch: where the installation of a plan (file_installation.cc)
// gets each planned file's bytes from, one file after the other in the
// plan's order: fetched there and then over one connection, or taken from
// the downloads that ran ahead on helper threads (download_pipeline.h).
#ifndef TORVANE_UPDATER_FILE_FETCH_H
#define TORVANE_UPDATER_FILE_FETCH_H

#include <cstdint>

#include "updater/manifest_entry.h"

class ovu_file_fetch {
 public:
  virtual ~ovu_file_fetch() = default;
  // fetch brings plan entry |index| (|entry|) into a temporary file whose
  // name it sets in |*file_name|, with every report and progress event of
  // the download shown on the calling thread in the order a download there
  // would show them. Returns nonzero when the whole file arrived (and
  // passed its check), else 0.
  virtual int fetch(int32_t index, const ovu_manifest_entry *entry, const char **file_name) = 0;
  // skip gives up plan entry |index| unshown: its file will not be installed.
  virtual void skip(int32_t index) = 0;
  // done says that plan entry |index| is installed or given up, after fetch
  // or skip: its temporary file, if still there, goes.
  virtual void done(int32_t index) = 0;
  // stop_before_exit ends the helpers, if any, before the process exits
  // with the installation unfinished; waits a bounded time.
  virtual void stop_before_exit() = 0;
};

#endif
