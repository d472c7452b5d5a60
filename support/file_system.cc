#include "support/file_system.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/file_system.h"
#include "support/diagnostics.h"
#include "support/random_generator.h"

namespace {

qarn_mkdir_function g_mkdir = platform_mkdir;

bool is_separator(char c) { return c == '/' || c == '\\'; }

void note_failure(qarn_bounded_string_base *failing_path, const char *path) {
  if (failing_path != nullptr) {
    failing_path->append(path);
  }
}

void report_misuse(const char *text) {
  qarn_diagnostic(text, QARN_DIAG_MISUSE, QARN_MODULE_SUPPORT);
}

void append_span(qarn_bounded_string_base &text, const char *begin, const char *end) {
  for (const char *p = begin; p < end; p++) {
    text.append_char(*p);
  }
}

// The probe must name the directory that qarn_recursive_mkdir made, and it
// reads a backslash as a separator on every platform.
void append_with_slashes(qarn_bounded_string_base &text, const char *path) {
  for (const char *p = path; *p != '\0'; p++) {
    text.append_char(is_separator(*p) ? '/' : *p);
  }
}

const char *find_separator_or_end(const char *p) {
  while (*p != '\0' && !is_separator(*p)) {
    p++;
  }
  return p;
}

// "//server/" (either separator): the server is never created. Returns where
// the components start, or null when no separator follows the server name.
const char *read_network_prefix(const char *path, qarn_bounded_string_base &built,
                                qarn_bounded_string_base *failing_path) {
  const char *server = path + 2;
  const char *server_end = find_separator_or_end(server);
  built.append("//");
  append_span(built, server, server_end);
  if (*server_end == '\0') {
    note_failure(failing_path, built.text());
    return nullptr;
  }
  built.append_char('/');
  return server_end + 1;
}

// "C:" or "C:/" (either separator) before the first separator: the drive
// and its root are never created. Returns where the components start.
const char *read_drive_prefix(const char *path, qarn_bounded_string_base &built) {
  const char *first_separator = find_separator_or_end(path);
  const char *colon = path;
  while (colon < first_separator && *colon != ':') {
    colon++;
  }
  if (colon == first_separator) {
    return path;
  }
  append_span(built, path, colon + 1);
  const char *rest = colon + 1;
  if (is_separator(*rest)) {
    built.append_char('/');
    rest++;
  }
  return rest;
}

// Puts the prefix of |path| into |built|. Returns where the components
// start, or null when the path cannot name a directory.
const char *read_prefix(const char *path, qarn_bounded_string_base &built,
                        qarn_bounded_string_base *failing_path) {
  if (is_separator(path[0]) && path[1] == path[0]) {
    return read_network_prefix(path, built, failing_path);
  }
  if (is_separator(path[0])) {
    built.append_char('/');
    return path + 1;
  }
  return read_drive_prefix(path, built);
}

// Creates the directory |built| names. A full string may hold a cut-off
// name; that must never be created.
bool create_one_directory(const qarn_bounded_string_base &built, int mode) {
  if (built.is_full()) {
    return false;
  }
  if (g_mkdir(built.text(), mode) == 0) {
    return true;
  }
  return errno == EEXIST;
}

void report_line_overflow(const char *line) {
  qarn_diagnostic("Warning in fget_line(), string overflow.  String was:", QARN_DIAG_OPERATION,
                  QARN_MODULE_SUPPORT);
  qarn_diagnostic(line, QARN_DIAG_OPERATION, QARN_MODULE_SUPPORT);
}

}  // namespace

int qarn_recursive_mkdir(const char *path, int mode, qarn_bounded_string_base *failing_path) {
  if (path == nullptr) {
    report_misuse("Error in qarn_recursive_mkdir(), NULL path.");
    return 0;
  }
  qarn_bounded_string built;
  const char *component = read_prefix(path, built, failing_path);
  if (component == nullptr) {
    return 0;
  }
  for (;;) {
    const char *component_end = find_separator_or_end(component);
    if (*component_end == '\0') {
      return 1;
    }
    if (component_end > component) {
      append_span(built, component, component_end);
      if (!create_one_directory(built, mode)) {
        note_failure(failing_path, built.text());
        return 0;
      }
      built.append_char('/');
    }
    component = component_end + 1;
  }
}

int qarn_create_and_check_writeable_directory(const char *path, int mode,
                                              qarn_bounded_string_base *failing_path) {
  if (path == nullptr) {
    report_misuse("Error in qarn_create_and_check_writeable_directory(), NULL path.");
    return 0;
  }
  qarn_bounded_string probe;
  if (path[0] != '\0') {
    append_with_slashes(probe, path);
    probe.append_char('/');
    if (probe.is_full()) {
      note_failure(failing_path, path);
      return 0;
    }
    if (!qarn_recursive_mkdir(probe.text(), mode, failing_path)) {
      return 0;
    }
  }
  probe.append(QARN_PROBE_PREFIX);
  qarn_append_random_chars(probe, QARN_PROBE_RANDOM_CHARS);
  probe.append(QARN_PROBE_SUFFIX);
  // A cut-off probe name could be an existing file, which "wb" would empty
  // and the clean-up would delete.
  FILE *file = probe.is_full() ? nullptr : platform_fopen(probe.text(), "wb");
  if (file == nullptr) {
    note_failure(failing_path, probe.text());
    return 0;
  }
  std::fclose(file);
  platform_remove(probe.text());
  return 1;
}

int qarn_filename_get_file_info(const char *path, qarn_file_info *info) {
  if (info == nullptr) {
    report_misuse("Error in qarn_filename_get_file_info(), NULL dest.");
    return 0;
  }
  if (path == nullptr) {
    report_misuse("Error in qarn_filename_get_file_info(), NULL path.");
    return 0;
  }
  platform_file_status status;
  if (!platform_stat(path, &status)) {
    return 0;
  }
  info->is_directory = status.is_directory;
  info->is_regular_file = status.is_regular_file;
  info->size = status.size;
  info->modification_time = status.modification_time;
  return 1;
}

int fget_line(FILE *file, char *line, int32_t size) {
  if (file == nullptr) {
    report_misuse("Error in fget_line(), NULL file.");
    return 0;
  }
  if (line == nullptr) {
    report_misuse("Error in fget_line(), NULL dest.");
    return 0;
  }
  // Even an empty line needs room for its terminator.
  if (size < 1) {
    report_misuse("Error in fget_line(), dest size too small.");
    return 0;
  }
  int32_t stored = 0;
  int end = EOF;
  int32_t consumed = platform_read_line_chars(file, line, size - 1, &stored, &end);
  if (consumed == 0 && end == EOF) {
    return 0;
  }
  line[stored] = '\0';
  if (stored == size - 1) {
    report_line_overflow(line);
  }
  return stored + 1;
}

namespace {

constexpr size_t LINE_READER_BUFFER_LEN = 64 * 1024;

bool ends_line(char c) { return c == '\n' || c == '\r' || c == '\0'; }

}  // namespace

qarn_line_reader::qarn_line_reader(FILE *file)
    : file_(file), buffer_(static_cast<char *>(std::malloc(LINE_READER_BUFFER_LEN))) {}

qarn_line_reader::~qarn_line_reader() { std::free(buffer_); }

// Reads the next piece of the file; false at its end.
bool qarn_line_reader::fill() {
  begin_ = 0;
  end_ = std::fread(buffer_, 1, LINE_READER_BUFFER_LEN, file_);
  return end_ > 0;
}

int qarn_line_reader::next_line(char *line, int32_t size) {
  if (buffer_ == nullptr) {
    return fget_line(file_, line, size);
  }
  if (line == nullptr || size < 1) {
    report_misuse("Error in fget_line(), dest size too small.");
    return 0;
  }
  if (begin_ == end_ && !fill()) {
    return 0;
  }
  int32_t stored = 0;
  for (;;) {
    size_t scan = begin_;
    while (scan < end_ && !ends_line(buffer_[scan])) {
      scan++;
    }
    size_t piece = scan - begin_;
    size_t room = static_cast<size_t>(size - 1 - stored);
    size_t taken = piece < room ? piece : room;
    std::memcpy(line + stored, buffer_ + begin_, taken);
    stored += static_cast<int32_t>(taken);
    if (scan < end_) {
      begin_ = scan + 1;  // the line end is consumed, not stored
      break;
    }
    if (!fill()) {
      break;
    }
  }
  line[stored] = '\0';
  if (stored == size - 1) {
    report_line_overflow(line);
  }
  return stored + 1;
}

FILE *qarn_fopen(const char *path, const char *mode) {
  if (path == nullptr || mode == nullptr) {
    report_misuse("Error in qarn_fopen(), NULL path or mode.");
    return nullptr;
  }
  return platform_fopen(path, mode);
}

int qarn_fclose(FILE *file) {
  if (file == nullptr) {
    report_misuse("Error in qarn_fclose(), NULL file.");
    return EOF;
  }
  return std::fclose(file);
}

int qarn_remove(const char *path) {
  if (path == nullptr) {
    report_misuse("Error in qarn_remove(), NULL path.");
    return -1;
  }
  return platform_remove(path);
}

int qarn_rename(const char *from, const char *to) {
  if (from == nullptr || to == nullptr) {
    report_misuse("Error in qarn_rename(), NULL path.");
    return -1;
  }
  return platform_rename(from, to);
}

void qarn_set_mkdir_function(qarn_mkdir_function function) {
  g_mkdir = function != nullptr ? function : platform_mkdir;
}
