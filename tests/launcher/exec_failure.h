// What a failed boot of the game client reports.
#ifndef TORVANE_TESTS_LAUNCHER_EXEC_FAILURE_H
#define TORVANE_TESTS_LAUNCHER_EXEC_FAILURE_H

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

// exec_failure_line returns the report of a failed exec of |path| with
// |error|, line end included.
inline std::string exec_failure_line(int error, const std::string &path) {
  return "Error in qarn_boot_exec(), exec failed.  Return code -1, error code " +
         std::to_string(error) + ". Filename: " + path + "\n";
}

// not_a_program_errnos lists the errno values an exec of a file that is not
// a program may give: Linux and Windows' own C runtime say ENOEXEC, Wine's C
// runtime says EINVAL.
inline std::vector<int> not_a_program_errnos() {
#ifdef _WIN32
  return {ENOEXEC, EINVAL};
#else
  return {ENOEXEC};
#endif
}

// matches_with_any_errno is true if |output| equals |expected_for| of one of
// |errnos|.
template <typename Expected>
bool matches_with_any_errno(const std::string &output, const std::vector<int> &errnos,
                            Expected expected_for) {
  return std::any_of(errnos.begin(), errnos.end(),
                     [&](int error) { return output == expected_for(error); });
}

#endif
