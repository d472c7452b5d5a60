#include "tools/release_listing.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "updater/file_name_safety.h"

namespace fs = std::filesystem;

namespace {

bool is_skipped(const std::string &name, const std::vector<std::string> &skipped) {
  return std::find(skipped.begin(), skipped.end(), name) != skipped.end();
}

// The manifest's lines end at a line feed; the local manifest's also at a
// carriage return and a NUL; the name's leading blanks are read as the
// separator before it.
std::string line_syntax_problem(const std::string &name) {
  if (name.find('\n') != std::string::npos) {
    return "its name holds a line feed";
  }
  if (name.find('\r') != std::string::npos) {
    return "its name holds a carriage return";
  }
  if (name.find('\0') != std::string::npos) {
    return "its name holds a NUL character";
  }
  if (!name.empty() && (name[0] == ' ' || name[0] == '\t')) {
    return "its name starts with a blank";
  }
  return "";
}

// Files the launcher keeps in the player's installation beside the game: a
// release that shipped one would overwrite the installation's own record,
// or make a second lock file that a running launcher does not hold.
const char *const INSTALLATION_NAMES[] = {
    "update_manifest.lst", "update_manifest.lst.tmp", "update_manifest.lst.release",
    "update_manifest.lst.release.tmp", "update_exclude.lst", "torvane_updater_lock.tmp", "tmp/update.tmp",
};

bool is_installation_name(const std::string &name) {
  for (const char *reserved : INSTALLATION_NAMES) {
    if (name == reserved) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::string release_name_problem(const std::string &name, uint64_t size) {
  std::string problem = line_syntax_problem(name);
  if (!problem.empty()) {
    return problem;
  }
  // Windows reserves device names; the launcher runs there, so a release
  // never uses them.
  ovu_name_problem unsafe = ovu_check_file_name(name.c_str(), 1);
  if (unsafe != OVU_NAME_SAFE) {
    return std::string("unsafe name (") + ovu_name_problem_text(unsafe) + ")";
  }
  if (is_installation_name(name)) {
    return "the launcher keeps a file of that name in every installation";
  }
  if (size > PUBLISH_LARGEST_FILE) {
    return "larger than " + std::to_string(PUBLISH_LARGEST_FILE) + " bytes";
  }
  return "";
}

release_listing list_release(const std::string &directory, const std::vector<std::string> &skipped) {
  release_listing listing;
  std::error_code error;
  const fs::path root(directory);
  fs::recursive_directory_iterator it(root, error);
  for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    std::error_code status_error;
    if (!it->is_regular_file(status_error)) {
      continue;
    }
    std::string name = it->path().lexically_relative(root).generic_string();
    if (is_skipped(name, skipped)) {
      continue;
    }
    release_file file;
    file.name = name;
    file.size = it->file_size(status_error);
    if (status_error) {
      listing.problems.push_back({name, "its size cannot be read: " + status_error.message()});
      continue;
    }
    std::string problem = release_name_problem(file.name, file.size);
    if (!problem.empty()) {
      listing.problems.push_back({name, problem});
      continue;
    }
    listing.files.push_back(file);
  }
  if (error) {
    listing.error = "cannot read " + directory + ": " + error.message();
  }
  std::sort(listing.files.begin(), listing.files.end(),
            [](const release_file &a, const release_file &b) { return a.name < b.name; });
  std::sort(listing.problems.begin(), listing.problems.end(),
            [](const release_problem &a, const release_problem &b) { return a.name < b.name; });
  return listing;
}
