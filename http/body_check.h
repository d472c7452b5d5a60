// qarn_body_check: a judge of a download's body. The downloader shows it
// every body piece before handing the piece on, and asks it once the
// response is complete; a refusal fails the download as any other failure
// does (in file mode the file it created is deleted).
#ifndef TORVANE_HTTP_BODY_CHECK_H
#define TORVANE_HTTP_BODY_CHECK_H

#include <cstdint>

class qarn_body_check {
 public:
  virtual ~qarn_body_check() = default;
  // take sees the next |length| body bytes. Returns 1 to let them through,
  // 0 to end the download at once (they are then not handed on).
  virtual int take(const char *bytes, int32_t length) = 0;
  // finish is asked when the response is complete. Returns 1 when the body
  // is acceptable, else 0.
  virtual int finish() = 0;
};

#endif
