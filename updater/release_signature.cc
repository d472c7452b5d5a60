#include "updater/release_signature.h"

#include <cstring>

#include "http/http_downloader.h"
#include "support/hex_text.h"

namespace {

constexpr int32_t PREFIX_LEN = sizeof(OVU_SIGNATURE_PREFIX) - 1;
constexpr int32_t HEX_LEN = 2 * OVU_SIGNATURE_LEN;

// Where a signature download collects its body.
struct signature_body {
  char *text;
  int32_t length;
};

int collect(void *context, const char *bytes, int32_t length) {
  signature_body &body = *static_cast<signature_body *>(context);
  if (length > OVU_SIGNATURE_FILE_MAX_LEN - body.length) {
    return 0;
  }
  std::memcpy(body.text + body.length, bytes, static_cast<size_t>(length));
  body.length += length;
  return 1;
}

}  // namespace

int parse_release_signature(const char *text, int32_t length, unsigned char signature[OVU_SIGNATURE_LEN]) {
  if (length == PREFIX_LEN + HEX_LEN + 1 && text[length - 1] == '\n') {
    length--;
  }
  if (length != PREFIX_LEN + HEX_LEN || std::memcmp(text, OVU_SIGNATURE_PREFIX, PREFIX_LEN) != 0) {
    return 0;
  }
  return qarn_hex_decode(text + PREFIX_LEN, OVU_SIGNATURE_LEN, signature);
}

std::string format_release_signature(const unsigned char signature[OVU_SIGNATURE_LEN]) {
  char hex[HEX_LEN + 1];
  qarn_hex_encode(signature, OVU_SIGNATURE_LEN, hex);
  return std::string(OVU_SIGNATURE_PREFIX) + hex + "\n";
}

int fetch_release_signature(const ovu_signature_request &request, char text[OVU_SIGNATURE_FILE_MAX_LEN],
                            int32_t *length) {
  signature_body body = {text, 0};
  qarn_http_downloader downloader;
  if (!downloader.set_connection(request.host, request.port, 0)) {
    return 0;
  }
  downloader.data_callback = collect;
  downloader.callback_context = &body;
  downloader.total_timeout_ms = request.deadline_ms;
  if (!downloader.download(request.host, request.path)) {
    return 0;
  }
  *length = body.length;
  return 1;
}
