// Bounded strings: character buffers of fixed capacity that never grow and
// never write past their storage. Text that does not fit is cut off when it
// is appended; the loss is reported once, through the diagnostics, when the
// full string is cleared or destroyed.
#ifndef TORVANE_SUPPORT_BOUNDED_STRING_H
#define TORVANE_SUPPORT_BOUNDED_STRING_H

#include <cstdint>

// Capacity of every fixed-form string, not counting the terminator.
constexpr int32_t QARN_BOUNDED_STRING_CAPACITY = 5999;

// qarn_bounded_string_base holds the operations that both storage forms
// share. Functions that only append or read take a reference to it.
class qarn_bounded_string_base {
 public:
  qarn_bounded_string_base(const qarn_bounded_string_base &) = delete;
  qarn_bounded_string_base &operator=(const qarn_bounded_string_base &) = delete;

  // append copies |text| (or "(null)" for a null text) while there is room
  // and returns the string, so that appends chain.
  qarn_bounded_string_base &append(const char *text);
  // append_char appends |c| if there is room.
  void append_char(char c);
  // append_bytes appends the |length| bytes at |bytes| (NUL bytes
  // included) while there is room.
  void append_bytes(const char *bytes, int32_t length);
  // append_word appends |text| up to its first NUL, space, tab or line feed.
  void append_word(const char *text);
  // append_int appends the decimal form of |value|.
  void append_int(int32_t value);
  // append_format appends printf-style formatted text, cut off like append.
  qarn_bounded_string_base &append_format(const char *format, ...)
      __attribute__((format(printf, 2, 3)));
  // append_base64 appends the Base64 form of |count| bytes. It returns 1 if
  // the string is not full afterwards, else 0 (also for null |bytes|).
  int append_base64(const void *bytes, int32_t count);
  // append_base64_text is append_base64 over the bytes of |text|.
  int append_base64_text(const char *text);

  // clear reports an overflow if the string is full, then empties it.
  void clear();
  // assign is clear followed by append.
  qarn_bounded_string_base &assign(const char *text);

  // text returns the NUL-terminated content; valid until the next change.
  const char *text() const { return storage_; }
  int32_t length() const { return length_; }
  int32_t capacity() const { return capacity_; }
  // is_full is true once length reaches capacity, even if nothing was lost.
  bool is_full() const { return length_ >= capacity_; }
  // report_overflow prints "String Buffer overflow, first few chars were ->"
  // with up to 100 sanitised characters of the content and "<-".
  void report_overflow() const;

 protected:
  qarn_bounded_string_base(char *storage, int32_t capacity);
  ~qarn_bounded_string_base() = default;

  char *storage_;
  int32_t capacity_;
  int32_t report_suppressed_;
  int32_t length_;
};

// qarn_bounded_string keeps its 5999 characters and terminator inside the
// object: about 6 KB of stack and no heap.
class qarn_bounded_string : public qarn_bounded_string_base {
 public:
  qarn_bounded_string();
  explicit qarn_bounded_string(const char *text);
  // The destructor reports an overflow, then marks the storage "(dead)".
  ~qarn_bounded_string();

 private:
  char fixed_storage_[QARN_BOUNDED_STRING_CAPACITY + 1];
};

// qarn_heap_bounded_string has a capacity chosen at construction and takes
// its storage from malloc. Its destructor wipes the storage before freeing
// it, so secrets held in it do not linger on the heap. When the storage
// cannot be allocated (or the capacity is negative) the string has capacity
// 0: it stays empty and counts as full, so lost text is still reported.
class qarn_heap_bounded_string : public qarn_bounded_string_base {
 public:
  explicit qarn_heap_bounded_string(int32_t capacity);
  qarn_heap_bounded_string(const char *text, int32_t capacity);
  ~qarn_heap_bounded_string();

 private:
  // Terminator-only storage used when the heap block could not be had.
  char empty_storage_[1];
};

// format_int writes the decimal form of |value| and a terminator into
// |out|, which must hold at least 12 bytes.
void format_int(char *out, int32_t value);

#endif
