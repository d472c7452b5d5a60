// qarn_coalesced_file_writer: writes a body to a file in as few calls as the
// memory it comes from allows. The downloader reads large pieces from the
// socket and hands them on in blocks of at most 8192 bytes; blocks that lie
// one after the other in memory are joined and written with one fwrite, so
// that most bytes go from the read buffer to the system directly instead of
// being copied through the file's buffer block by block.
//
// The bytes of a pending run are not copied: they must stay where they are
// until flush, which the owner calls before that memory is reused.
#ifndef TORVANE_HTTP_COALESCED_FILE_WRITER_H
#define TORVANE_HTTP_COALESCED_FILE_WRITER_H

#include <cstdint>
#include <cstdio>

class qarn_coalesced_file_writer {
 public:
  // append adds |length| bytes at |bytes| to the run pending for |file|,
  // or, when they do not follow it in memory, writes the pending run first
  // and starts a new one. Returns 1, or 0 when that write was short.
  int append(FILE *file, const char *bytes, int32_t length);
  // flush writes the pending run to |file|. Returns 1, or 0 when not all of
  // it was written. Nothing is pending afterwards either way.
  int flush(FILE *file);
  // has_pending is true while a run waits to be written.
  bool has_pending() const { return pending_length_ > 0; }

 private:
  const char *pending_ = nullptr;
  int32_t pending_length_ = 0;
};

#endif
