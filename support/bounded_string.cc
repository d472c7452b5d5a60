#include "support/bounded_string.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/diagnostics.h"
#include "support/memory_wipe.h"

namespace {

// How much of an overflowed string its report shows.
constexpr int32_t OVERFLOW_REPORT_CHARS = 100;
// Scratch size for one formatted append; more than any string can take.
constexpr int FORMAT_SCRATCH_LEN = QARN_BOUNDED_STRING_CAPACITY + 1;
// Scratch size for one decimal number, as the system has always used.
constexpr int INT_SCRATCH_LEN = 128;

const char BASE64_ALPHABET[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

bool is_word_end(char c) { return c == '\0' || c == ' ' || c == '\t' || c == '\n'; }

char printable_or_dot(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return (u < 32 || u > 126) ? '.' : c;
}

// Writes the digits of |magnitude|, most significant first.
char *write_digits(char *out, uint32_t magnitude) {
  if (magnitude >= 10) {
    out = write_digits(out, magnitude / 10);
  }
  *out = static_cast<char>('0' + magnitude % 10);
  return out + 1;
}

}  // namespace

qarn_bounded_string_base::qarn_bounded_string_base(char *storage, int32_t capacity)
    : storage_(storage), capacity_(capacity), report_suppressed_(0), length_(0) {
  storage_[0] = '\0';
}

qarn_bounded_string_base &qarn_bounded_string_base::append(const char *text) {
  if (text == nullptr) {
    text = "(null)";
  }
  while (length_ < capacity_ && *text != '\0') {
    storage_[length_++] = *text++;
  }
  storage_[length_] = '\0';
  return *this;
}

void qarn_bounded_string_base::append_bytes(const char *bytes, int32_t length) {
  int32_t room = capacity_ - length_;
  int32_t taken = length < room ? length : room;
  if (taken <= 0) {
    return;
  }
  std::memcpy(storage_ + length_, bytes, static_cast<size_t>(taken));
  length_ += taken;
  storage_[length_] = '\0';
}

void qarn_bounded_string_base::append_char(char c) {
  if (length_ < capacity_) {
    storage_[length_++] = c;
    storage_[length_] = '\0';
  }
}

void qarn_bounded_string_base::append_word(const char *text) {
  if (text == nullptr) {
    text = "(null)";
  }
  // Locals, so that the copy is not a store to the object per character.
  const char *end = text;
  int32_t room = capacity_ - length_;
  while (end - text < room && !is_word_end(*end)) {
    end++;
  }
  int32_t taken = static_cast<int32_t>(end - text);
  std::memcpy(storage_ + length_, text, static_cast<size_t>(taken));
  length_ += taken;
  storage_[length_] = '\0';
}

void qarn_bounded_string_base::append_int(int32_t value) {
  char scratch[INT_SCRATCH_LEN];
  format_int(scratch, value);
  append(scratch);
}

qarn_bounded_string_base &qarn_bounded_string_base::append_format(const char *format, ...) {
  char scratch[FORMAT_SCRATCH_LEN];
  va_list args;
  va_start(args, format);
  int written = std::vsnprintf(scratch, sizeof(scratch), format, args);
  va_end(args);
  if (written < 0) {
    scratch[0] = '\0';
  }
  return append(scratch);
}

int qarn_bounded_string_base::append_base64(const void *bytes, int32_t count) {
  if (bytes == nullptr) {
    return 0;
  }
  const unsigned char *in = static_cast<const unsigned char *>(bytes);
  uint32_t bits = 0;
  int pending_bits = 0;
  for (int32_t i = 0; i < count; i++) {
    bits = (bits << 8) | in[i];
    pending_bits += 8;
    while (pending_bits >= 6) {
      pending_bits -= 6;
      append_char(BASE64_ALPHABET[(bits >> pending_bits) & 0x3F]);
    }
  }
  if (pending_bits == 2) {
    append_char(BASE64_ALPHABET[(bits << 4) & 0x3F]);
    append_char('=');
    append_char('=');
  } else if (pending_bits == 4) {
    append_char(BASE64_ALPHABET[(bits << 2) & 0x3F]);
    append_char('=');
  }
  return is_full() ? 0 : 1;
}

int qarn_bounded_string_base::append_base64_text(const char *text) {
  if (text == nullptr) {
    return 0;
  }
  return append_base64(text, static_cast<int32_t>(std::strlen(text)));
}

void qarn_bounded_string_base::clear() {
  if (is_full()) {
    report_overflow();
  }
  length_ = 0;
  storage_[0] = '\0';
}

qarn_bounded_string_base &qarn_bounded_string_base::assign(const char *text) {
  clear();
  return append(text);
}

void qarn_bounded_string_base::report_overflow() const {
  if (report_suppressed_ != 0) {
    return;
  }
  qarn_bounded_string report;
  report.append("String Buffer overflow, first few chars were ->");
  for (int32_t i = 0; i < OVERFLOW_REPORT_CHARS && i < length_ && storage_[i] != '\0'; i++) {
    report.append_char(printable_or_dot(storage_[i]));
  }
  report.append("<-");
  qarn_diagnostic(report.text(), QARN_DIAG_OPERATION, QARN_MODULE_SUPPORT);
}

qarn_bounded_string::qarn_bounded_string()
    : qarn_bounded_string_base(fixed_storage_, QARN_BOUNDED_STRING_CAPACITY) {}

qarn_bounded_string::qarn_bounded_string(const char *text) : qarn_bounded_string() {
  append(text);
}

qarn_bounded_string::~qarn_bounded_string() {
  if (is_full()) {
    report_overflow();
  }
  // The marker makes a use after destruction visible in a dump or a debugger;
  // writing through volatile keeps the optimiser from dropping the store to
  // an object whose lifetime is ending.
  static const char DEAD_MARKER[] = "(dead)";
  volatile char *storage = fixed_storage_;
  for (size_t i = 0; i < sizeof(DEAD_MARKER); i++) {
    storage[i] = DEAD_MARKER[i];
  }
}

qarn_heap_bounded_string::qarn_heap_bounded_string(int32_t capacity)
    : qarn_bounded_string_base(empty_storage_, 0) {
  if (capacity < 0) {
    return;
  }
  char *block = static_cast<char *>(std::malloc(static_cast<size_t>(capacity) + 1));
  if (block == nullptr) {
    return;
  }
  storage_ = block;
  capacity_ = capacity;
  storage_[0] = '\0';
}

qarn_heap_bounded_string::qarn_heap_bounded_string(const char *text, int32_t capacity)
    : qarn_heap_bounded_string(capacity) {
  if (text != nullptr) {
    append(text);
  }
}

qarn_heap_bounded_string::~qarn_heap_bounded_string() {
  if (is_full()) {
    report_overflow();
  }
  length_ = 0;
  storage_[0] = '\0';
  if (storage_ != empty_storage_) {
    qarn_wipe_bytes(storage_, static_cast<size_t>(capacity_));
    std::free(storage_);
  }
}

void format_int(char *out, int32_t value) {
  uint32_t magnitude = static_cast<uint32_t>(value);
  if (value < 0) {
    *out++ = '-';
    magnitude = 0u - magnitude;
  }
  *write_digits(out, magnitude) = '\0';
}
