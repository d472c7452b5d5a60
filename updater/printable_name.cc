#include "updater/printable_name.h"

namespace {

constexpr unsigned char FIRST_PRINTABLE = 0x20;
constexpr unsigned char DELETE = 0x7f;
const char HEX_DIGITS[] = "0123456789abcdef";

}  // namespace

void ovu_append_printable_name(qarn_bounded_string_base &out, const char *name) {
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(name); *p != 0; p++) {
    if (*p == '\r') {
      out.append("\\r");
    } else if (*p == '\n') {
      out.append("\\n");
    } else if (*p == '\t') {
      out.append("\\t");
    } else if (*p < FIRST_PRINTABLE || *p == DELETE) {
      out.append("\\x");
      out.append_char(HEX_DIGITS[*p >> 4]);
      out.append_char(HEX_DIGITS[*p & 0xF]);
    } else {
      out.append_char(static_cast<char>(*p));
    }
  }
}
