// The files of a release: every regular file under the release directory,
// named relative to it with "/" between directories, in byte-wise order of
// their names, each checked against what the launcher can install.
#ifndef TORVANE_TOOLS_RELEASE_LISTING_H
#define TORVANE_TOOLS_RELEASE_LISTING_H

#include <cstdint>
#include <string>
#include <vector>

#include "support/file_size_limit.h"

// The launcher refuses a manifest line of a larger file.
constexpr uint64_t PUBLISH_LARGEST_FILE = static_cast<uint64_t>(QARN_LARGEST_FILE_SIZE);

struct release_file {
  std::string name;  // relative, "/" between directories
  uint64_t size = 0;
};

// A file the launcher could not represent or would refuse, and why.
struct release_problem {
  std::string name;
  std::string reason;
};

struct release_listing {
  std::vector<release_file> files;         // sorted by name, byte-wise
  std::vector<release_problem> problems;   // files that make the release unpublishable
  std::string error;                       // a directory that could not be read, or empty
};

// list_release walks |directory| and returns its files, leaving out the
// names in |skipped| (relative names, such as the manifest itself). Links
// to files count as files; links to directories are not followed. A link,
// of either kind, that leads outside |directory| is a problem. Files whose
// names are one file on Windows are problems, every one of them.
release_listing list_release(const std::string &directory, const std::vector<std::string> &skipped);

// release_name_problem returns why the launcher could not install a file
// named |name| of |size| bytes, or an empty text when it can.
std::string release_name_problem(const std::string &name, uint64_t size);

#endif
