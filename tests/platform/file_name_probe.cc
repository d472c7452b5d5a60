// Test helper: makes, renames, replaces and removes files through the
// platform's file calls under the names it is given, so that a test can
// read on the Linux side which names Wine's Z: drive received.
//
// Usage: file_name_probe DIRECTORY NAME...
// For each NAME, in DIRECTORY: the directory "NAME.d"; in it the file NAME,
// written as "NAME.new" with the bytes of NAME and then renamed, then
// replaced by "NAME.next" with the bytes of NAME twice; and a file
// "NAME.gone" made and removed again. Prints a line for each step that
// failed; exit code 0 when none did, 1 otherwise, 2 for a wrong call.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/arguments.h"
#include "platform/file_system.h"

namespace {

constexpr int EXIT_ALL_DONE = 0;
constexpr int EXIT_STEP_FAILED = 1;
constexpr int EXIT_USAGE = 2;

bool write_file(const std::string &path, const std::string &content) {
  FILE *file = platform_fopen(path.c_str(), "wb");
  if (file == nullptr) {
    return false;
  }
  bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
  return std::fclose(file) == 0 && written;
}

bool is_regular_file_of_size(const std::string &path, size_t size) {
  platform_file_status status = {};
  return platform_stat(path.c_str(), &status) && status.is_regular_file &&
         status.size == static_cast<int64_t>(size);
}

int failed(const char *step, const std::string &path) {
  std::printf("file_name_probe: %s failed for '%s'\n", step, path.c_str());
  return EXIT_STEP_FAILED;
}

int probe(const std::string &directory, const std::string &name) {
  const std::string folder = directory + "/" + name + ".d";
  const std::string file = folder + "/" + name;
  if (platform_mkdir(folder.c_str(), 0700) != 0) {
    return failed("mkdir", folder);
  }
  if (!write_file(file + ".new", name) || !is_regular_file_of_size(file + ".new", name.size())) {
    return failed("write", file + ".new");
  }
  if (platform_rename((file + ".new").c_str(), file.c_str()) != 0 ||
      !is_regular_file_of_size(file, name.size())) {
    return failed("rename", file);
  }
  if (!write_file(file + ".next", name + name) ||
      platform_replace_file((file + ".next").c_str(), file.c_str()) != 0 ||
      !is_regular_file_of_size(file, 2 * name.size())) {
    return failed("replace", file);
  }
  if (!write_file(file + ".gone", name) || platform_remove((file + ".gone").c_str()) != 0 ||
      is_regular_file_of_size(file + ".gone", name.size())) {
    return failed("remove", file + ".gone");
  }
  return EXIT_ALL_DONE;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    std::printf("usage: file_name_probe DIRECTORY NAME...\n");
    return EXIT_USAGE;
  }
  char **arguments = platform_utf8_arguments(argc, argv);
  int result = EXIT_ALL_DONE;
  for (int i = 2; i < argc; i++) {
    if (probe(arguments[1], arguments[i]) != EXIT_ALL_DONE) {
      result = EXIT_STEP_FAILED;
    }
  }
  return result;
}
