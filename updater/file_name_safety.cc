#include "updater/file_name_safety.h"

#include <cstddef>
#include <cstring>

#include "updater/file_name_case.h"

namespace {

const char *const DEVICE_NAMES[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
const char *const NUMBERED_DEVICE_PREFIXES[] = {"COM", "LPT"};
// The digits after COM and LPT: 0 to 9, and the superscripts 1, 2 and 3 in
// UTF-8, which Windows reads as the digits.
const char *const DEVICE_NUMBERS[] = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9",
                                      "\xC2\xB9", "\xC2\xB2", "\xC2\xB3"};

// What the launcher keeps beside the game, as the first component of a
// name: the local manifest with its atomic writer's temporary file, the
// release state beside it with its own, the exclude list, the lock file,
// and the folder of the download file.
const char *const LAUNCHER_NAMES[] = {
    "update_manifest.lst",      "update_manifest.lst.tmp",  "update_manifest.lst.release",
    "update_manifest.lst.release.tmp", "update_exclude.lst", "torvane_updater_lock.tmp", "tmp",
};

// Characters no Windows name holds, besides the colon and the separators.
constexpr char RESERVED_CHARACTERS[] = "<>\"|?*";
constexpr unsigned char FIRST_PRINTABLE = 0x20;
constexpr size_t BYTE_VALUES = 256;

// What Windows' rules say of each byte of a name on its own.
struct byte_rules {
  ovu_name_problem problem[BYTE_VALUES];
  constexpr byte_rules() : problem() {
    for (size_t c = 1; c < FIRST_PRINTABLE; c++) {
      problem[c] = OVU_NAME_CONTROL_CHARACTER;
    }
    for (const char *reserved = RESERVED_CHARACTERS; *reserved != '\0'; reserved++) {
      problem[static_cast<unsigned char>(*reserved)] = OVU_NAME_RESERVED_CHARACTER;
    }
  }
};
constexpr byte_rules WINDOWS_BYTE_RULES;

bool is_separator(char c) { return c == '/' || c == '\\'; }

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

bool is_numbered_device(const char *stem, size_t length) {
  for (const char *prefix : NUMBERED_DEVICE_PREFIXES) {
    size_t prefix_length = std::strlen(prefix);
    if (length <= prefix_length || !ovu_equal_ignoring_case(stem, prefix_length, prefix)) {
      continue;
    }
    for (const char *number : DEVICE_NUMBERS) {
      if (length - prefix_length == std::strlen(number) &&
          std::memcmp(stem + prefix_length, number, length - prefix_length) == 0) {
        return true;
      }
    }
  }
  return false;
}

bool is_device_component(const char *component, size_t length) {
  size_t stem = device_stem_length(component, length);
  for (const char *device : DEVICE_NAMES) {
    if (ovu_equal_ignoring_case(component, stem, device)) {
      return true;
    }
  }
  return is_numbered_device(component, stem);
}

bool is_launcher_name(const char *component, size_t length) {
  for (const char *name : LAUNCHER_NAMES) {
    if (ovu_equal_ignoring_case(component, length, name)) {
      return true;
    }
  }
  return false;
}

ovu_name_problem check_component(const char *component, size_t length, bool first, ovu_name_rules rules) {
  if (length == 0) {
    return OVU_NAME_EMPTY_COMPONENT;
  }
  if (length == 2 && component[0] == '.' && component[1] == '.') {
    return OVU_NAME_PARENT_COMPONENT;
  }
  if (length == 1 && component[0] == '.') {
    return OVU_NAME_DOT_COMPONENT;
  }
  if (first && is_launcher_name(component, length)) {
    return OVU_NAME_LAUNCHER_FILE;
  }
  if (rules != OVU_NAME_RULES_WINDOWS) {
    return OVU_NAME_SAFE;
  }
  if (is_device_component(component, length)) {
    return OVU_NAME_DEVICE;
  }
  if (component[length - 1] == '.' || component[length - 1] == ' ') {
    return OVU_NAME_TRAILING_DOT_OR_BLANK;
  }
  return OVU_NAME_SAFE;
}

// What is wrong with single characters of |name| under Windows' rules.
ovu_name_problem check_windows_characters(const char *name) {
  if (!ovu_is_utf8(name)) {
    return OVU_NAME_NOT_UTF8;
  }
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(name); *p != 0; p++) {
    if (WINDOWS_BYTE_RULES.problem[*p] != OVU_NAME_SAFE) {
      return WINDOWS_BYTE_RULES.problem[*p];
    }
  }
  return OVU_NAME_SAFE;
}

}  // namespace

ovu_name_problem ovu_check_file_name(const char *name, ovu_name_rules rules) {
  if (name == nullptr || name[0] == '\0') {
    return OVU_NAME_EMPTY_COMPONENT;
  }
  if (is_separator(name[0])) {
    return OVU_NAME_ABSOLUTE;
  }
  if (std::strchr(name, ':') != nullptr) {
    return OVU_NAME_COLON;
  }
  if (std::strchr(name, '\r') != nullptr) {
    return OVU_NAME_CARRIAGE_RETURN;
  }
  if (rules == OVU_NAME_RULES_WINDOWS) {
    ovu_name_problem problem = check_windows_characters(name);
    if (problem != OVU_NAME_SAFE) {
      return problem;
    }
  }
  const char *component = name;
  for (;;) {
    const char *end = component;
    while (*end != '\0' && !is_separator(*end)) {
      end++;
    }
    ovu_name_problem problem =
        check_component(component, static_cast<size_t>(end - component), component == name, rules);
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
    case OVU_NAME_DOT_COMPONENT:
      return "'.' path component";
    case OVU_NAME_CARRIAGE_RETURN:
      return "carriage return";
    case OVU_NAME_LAUNCHER_FILE:
      return "the launcher's own file";
    case OVU_NAME_NOT_UTF8:
      return "not UTF-8";
    case OVU_NAME_CONTROL_CHARACTER:
      return "control character";
    case OVU_NAME_RESERVED_CHARACTER:
      return "character reserved by Windows";
    case OVU_NAME_TRAILING_DOT_OR_BLANK:
      return "dot or blank at the end of a component";
  }
  return "unknown problem";
}
