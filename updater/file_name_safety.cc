#include "updater/file_name_safety.h"

#include <cstddef>
#include <cstring>

namespace {

const char *const DEVICE_NAMES[] = {"CON", "PRN", "AUX", "NUL"};
const char *const NUMBERED_DEVICE_PREFIXES[] = {"COM", "LPT"};
constexpr size_t DEVICE_NAME_LEN = 3;

bool is_separator(char c) { return c == '/' || c == '\\'; }

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool equal_nocase(const char *text, const char *word, size_t length) {
  for (size_t i = 0; i < length; i++) {
    if (upper(text[i]) != word[i]) {
      return false;
    }
  }
  return true;
}

// The system maps a component to a device by what comes before its first
// dot, with trailing blanks ignored: "nul", "NUL.txt" and "nul .log" all
// name the same device.
size_t device_stem_length(const char *component, size_t length) {
  const char *dot = static_cast<const char *>(std::memchr(component, '.', length));
  size_t stem = dot != nullptr ? static_cast<size_t>(dot - component) : length;
  while (stem > 0 && component[stem - 1] == ' ') {
    stem--;
  }
  return stem;
}

bool is_device_component(const char *component, size_t length) {
  size_t stem = device_stem_length(component, length);
  if (stem == DEVICE_NAME_LEN) {
    for (const char *device : DEVICE_NAMES) {
      if (equal_nocase(component, device, DEVICE_NAME_LEN)) {
        return true;
      }
    }
  }
  if (stem == DEVICE_NAME_LEN + 1 && component[DEVICE_NAME_LEN] >= '1' && component[DEVICE_NAME_LEN] <= '9') {
    for (const char *prefix : NUMBERED_DEVICE_PREFIXES) {
      if (equal_nocase(component, prefix, DEVICE_NAME_LEN)) {
        return true;
      }
    }
  }
  return false;
}

ovu_name_problem check_component(const char *component, size_t length, int reserve_device_names) {
  if (length == 0) {
    return OVU_NAME_EMPTY_COMPONENT;
  }
  if (length == 2 && component[0] == '.' && component[1] == '.') {
    return OVU_NAME_PARENT_COMPONENT;
  }
  if (reserve_device_names && is_device_component(component, length)) {
    return OVU_NAME_DEVICE;
  }
  return OVU_NAME_SAFE;
}

}  // namespace

ovu_name_problem ovu_check_file_name(const char *name, int reserve_device_names) {
  if (name == nullptr || name[0] == '\0') {
    return OVU_NAME_EMPTY_COMPONENT;
  }
  if (is_separator(name[0])) {
    return OVU_NAME_ABSOLUTE;
  }
  if (std::strchr(name, ':') != nullptr) {
    return OVU_NAME_COLON;
  }
  const char *component = name;
  for (;;) {
    const char *end = component;
    while (*end != '\0' && !is_separator(*end)) {
      end++;
    }
    ovu_name_problem problem =
        check_component(component, static_cast<size_t>(end - component), reserve_device_names);
    if (problem != OVU_NAME_SAFE || *end == '\0') {
      return problem;
    }
    component = end + 1;
  }
}

const char *ovu_name_problem_text(ovu_name_problem problem) {
  switch (problem) {
    case OVU_NAME_SAFE:
      return "safe name";
    case OVU_NAME_ABSOLUTE:
      return "absolute path";
    case OVU_NAME_COLON:
      return "drive or stream colon";
    case OVU_NAME_EMPTY_COMPONENT:
      return "empty path component";
    case OVU_NAME_PARENT_COMPONENT:
      return "'..' path component";
    case OVU_NAME_DEVICE:
      return "reserved device name";
  }
  return "unknown problem";
}
