#include "tools/release_listing.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "updater/case_collisions.h"
#include "updater/file_manifest.h"
#include "updater/file_name_safety.h"
#include "updater/release_declarations.h"

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

// The launcher records a file under the SHA-256 token that the manifest
// gives it, so its line in the local manifest must be read back whole.
bool fits_local_manifest(const std::string &name, uint64_t size) {
  return ovu_local_manifest_line_length(static_cast<size_t>(OVU_SHA256_TOKEN_LEN), static_cast<int64_t>(size),
                                        name.size()) <= OVU_LOCAL_MANIFEST_LINE_MAX;
}

// Files whose names are one file on Windows, where the players are: each
// is a problem, named with the first other spelling of its file.
void move_case_collisions(release_listing &listing) {
  std::vector<const char *> names;
  for (const release_file &file : listing.files) {
    names.push_back(file.name.c_str());
  }
  qarn_growable_array collisions;
  collisions.init(sizeof(ovu_case_collision));
  if (!ovu_find_case_collisions(names.data(), static_cast<int32_t>(names.size()), collisions)) {
    collisions.release();
    listing.error = "out of memory while comparing the names";
    return;
  }
  std::vector<std::string> other_spelling(listing.files.size());
  for (int32_t i = 0; i < collisions.count; i++) {
    const ovu_case_collision *collision = static_cast<const ovu_case_collision *>(collisions.at(i));
    other_spelling[collision->index] = listing.files[collision->earlier].name;
    if (other_spelling[collision->earlier].empty()) {
      other_spelling[collision->earlier] = listing.files[collision->index].name;
    }
  }
  collisions.release();
  std::vector<release_file> kept;
  for (size_t i = 0; i < listing.files.size(); i++) {
    if (other_spelling[i].empty()) {
      kept.push_back(listing.files[i]);
    } else {
      listing.problems.push_back({listing.files[i].name, "the same file on Windows as '" + other_spelling[i] + "'"});
    }
  }
  listing.files.swap(kept);
}

// Whether |path| is |directory| or lies under it; both are real paths, with
// every link resolved.
bool lies_within(const fs::path &path, const fs::path &directory) {
  auto component = path.begin();
  for (const fs::path &part : directory) {
    if (component == path.end() || *component != part) {
      return false;
    }
    ++component;
  }
  return true;
}

// A link is published as what it leads to: one that leads outside the
// release would publish a file that is no part of it, such as the signing
// key kept beside the release directory. Where it leads is judged on real
// paths (as realpath gives them), also for a link whose target is missing.
std::string link_problem(const fs::path &link, const fs::path &real_root) {
  std::error_code error;
  fs::path target = fs::read_symlink(link, error);
  if (!error) {
    target = fs::weakly_canonical(link.parent_path() / target, error);
  }
  if (error) {
    return "it is a link that cannot be followed: " + error.message();
  }
  if (!lies_within(target, real_root)) {
    return "it is a link that leads outside the release directory";
  }
  return "";
}

}  // namespace

std::string release_name_problem(const std::string &name, uint64_t size) {
  std::string problem = line_syntax_problem(name);
  if (!problem.empty()) {
    return problem;
  }
  // The players' launchers run on Windows: a release follows its rules
  // wherever it is published.
  ovu_name_problem unsafe = ovu_check_file_name(name.c_str(), OVU_NAME_RULES_WINDOWS);
  if (unsafe == OVU_NAME_LAUNCHER_FILE) {
    return "the launcher keeps a file or folder of that name in every installation";
  }
  if (unsafe != OVU_NAME_SAFE) {
    return std::string("unsafe name (") + ovu_name_problem_text(unsafe) + ")";
  }
  // The size first: the line length counts the digits of a size that a
  // manifest can hold.
  if (size > PUBLISH_LARGEST_FILE) {
    return "larger than " + std::to_string(PUBLISH_LARGEST_FILE) + " bytes";
  }
  if (!fits_local_manifest(name, size)) {
    return "its line in the local manifest would be longer than " + std::to_string(OVU_LOCAL_MANIFEST_LINE_MAX) +
           " characters";
  }
  return "";
}

release_listing list_release(const std::string &directory, const std::vector<std::string> &skipped) {
  release_listing listing;
  std::error_code error;
  // The directory's name is UTF-8, as every name of the system is; a plain
  // fs::path would not read it as UTF-8 on Windows.
  const fs::path root = fs::u8path(directory);
  const fs::path real_root = fs::canonical(root, error);
  fs::recursive_directory_iterator it;
  if (!error) {
    it = fs::recursive_directory_iterator(root, error);
  }
  for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    std::string name = it->path().lexically_relative(root).generic_string();
    if (is_skipped(name, skipped)) {
      continue;
    }
    std::error_code status_error;
    if (it->is_symlink(status_error)) {
      std::string problem = link_problem(it->path(), real_root);
      if (!problem.empty()) {
        listing.problems.push_back({name, problem});
        continue;
      }
    }
    if (!it->is_regular_file(status_error)) {
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
  move_case_collisions(listing);
  std::sort(listing.problems.begin(), listing.problems.end(),
            [](const release_problem &a, const release_problem &b) { return a.name < b.name; });
  return listing;
}
