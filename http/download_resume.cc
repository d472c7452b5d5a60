// Resuming a file-mode download: the answer to a request for the rest of a
// file, the kept bytes the body check sees first, and which failed
// downloads keep their file for the next try.
#include <cstdlib>

#include "http/content_range.h"
#include "http/http_data_processor.h"
#include "http/http_downloader.h"
#include "support/diagnostics.h"
#include "support/file_system.h"

namespace {

// Bytes read from a kept file at once when the heap has the memory.
constexpr int32_t KEPT_READ_LEN = 64 * 1024;

// feed_kept_bytes reads the first |count| bytes of |file| from its start
// and shows them to |check| (may be null). Returns 1 when all were there
// and taken, else 0.
int feed_kept_bytes(FILE *file, int64_t count, qarn_body_check *check) {
  char fallback[QARN_DOWNLOAD_BLOCK_LEN];
  char *heap = static_cast<char *>(std::malloc(KEPT_READ_LEN));
  char *buffer = heap != nullptr ? heap : fallback;
  const int64_t buffer_len = heap != nullptr ? KEPT_READ_LEN : QARN_DOWNLOAD_BLOCK_LEN;
  int64_t left = count;
  while (left > 0) {
    size_t wanted = static_cast<size_t>(left < buffer_len ? left : buffer_len);
    size_t got = std::fread(buffer, 1, wanted, file);
    if (got != wanted || (check != nullptr && !check->take(buffer, static_cast<int32_t>(got)))) {
      break;
    }
    left -= static_cast<int64_t>(got);
  }
  std::free(heap);
  return left == 0 ? 1 : 0;
}

}  // namespace

// accept_partial_answer judges an answer other than 200 to a resuming
// request. Returns 1 when a 206 continues the file (opened for the rest),
// 0 when the resume is refused (reported), -1 for any other status.
int qarn_http_downloader::accept_partial_answer(const qarn_http_data_processor_oline &processor) {
  if (processor.rx_status == QARN_DOWNLOAD_STATUS_RANGE_NOT_SATISFIABLE) {
    return refuse_resume("the server cannot give the rest");
  }
  if (processor.rx_status != QARN_DOWNLOAD_STATUS_PARTIAL) {
    return -1;
  }
  if (!qarn_content_range_continues(processor.rx_content_range, resume_offset, resource_length)) {
    return refuse_resume("the answer's range is not the rest asked for");
  }
  header_complete_ = 1;
  return open_resumed_file();
}

// open_resumed_file opens the kept file for the rest of its bytes, after
// showing the kept ones to the body check. Returns 1, or 0 after a report.
int qarn_http_downloader::open_resumed_file() {
  output_file = qarn_fopen(destination_file_name.text(), "r+b");
  if (output_file == nullptr) {
    return refuse_resume("the kept file cannot be opened");
  }
  created_output_file_ = 1;  // its bytes are this download's from here on
  choose_file_buffer(resource_length - resume_offset);
  // A stream that was read must be positioned before it is written.
  if (!feed_kept_bytes(output_file, resume_offset, body_check) || std::fseek(output_file, 0, SEEK_CUR) != 0) {
    return refuse_resume("the kept bytes cannot be read or are refused");
  }
  received_length = resume_offset;
  expected_length = resource_length;
  return 1;
}

int qarn_http_downloader::refuse_resume(const char *why) {
  qarn_bounded_string message;
  message.append("Warning in qarn_http_downloader::callback_message_received(), cannot resume file '");
  message.append(destination_file_name.text()).append("': ").append(why).append(".  Aborting download.");
  qarn_diagnostic(message.text(), QARN_DIAG_OPERATION, QARN_MODULE_DOWNLOADER);
  resume_refused_ = 1;
  created_output_file_ = 1;  // the kept bytes go with the refused resume
  return 0;
}

// keeps_partial_file decides, after a failed download whose file closed
// with |closed| (what close_output_file returned), whether the file stays
// for a later resume, and records its length when it does.
int qarn_http_downloader::keeps_partial_file(int closed) {
  if (!keep_partial_file || !broken_ || !created_output_file_ || resume_refused_ || closed != 0 ||
      data_callback != nullptr) {
    return 0;
  }
  qarn_file_info info;
  if (!qarn_filename_get_file_info(destination_file_name.text(), &info) || !info.is_regular_file ||
      info.size <= 0) {
    return 0;
  }
  partial_length_ = info.size;
  return 1;
}
