#include "tests/updater_nginx/updater_nginx_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

// The server belongs to the process that started it: a test child made by
// fork that ends with exit() must not stop it or remove its files.
struct server_owner {
  std::unique_ptr<nginx_server> server;
  pid_t owner = 0;
  ~server_owner() {
    if (getpid() != owner) {
      server.release();
    }
  }
};

}  // namespace

nginx_server &update_server() {
  static server_owner holder;
  if (holder.server == nullptr) {
    holder.server = std::make_unique<nginx_server>();
    holder.owner = getpid();
    std::string why;
    if (!holder.server->start(&why, UPDATE_PORT)) {
      ADD_FAILURE() << "nginx on port 80: " << why;
    }
  }
  return *holder.server;
}

int publish_release(const std::string &root, const file_tree &files, const std::string &options) {
  fs::path directory = fs::path(update_server().docroot()) / root.substr(1);
  std::error_code ignored;
  fs::remove_all(directory, ignored);
  fs::create_directories(directory);
  for (const auto &file : files) {
    fs::path path = directory / file.first;
    fs::create_directories(path.parent_path());
    write_file(path.string(), file.second);
  }
  std::string command = std::string(PUBLISH_PATH) + " " + options + " '" + directory.string() + "' >/dev/null";
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void serve_manifest_text(const std::string &root, const std::string &text) {
  update_server().put_file(root.substr(1) + "/" + MANIFEST_NAME, zlib_compress(text));
}

file_tree files_under(const fs::path &directory, const std::vector<std::string> &skipped) {
  file_tree tree;
  for (const auto &entry : fs::recursive_directory_iterator(directory)) {
    if (!entry.is_regular_file()) {
      continue;
    }
    std::string name = entry.path().lexically_relative(directory).generic_string();
    bool skip = false;
    for (const std::string &s : skipped) {
      skip = skip || name == s;
    }
    if (!skip) {
      tree[name] = read_file(entry.path().string());
    }
  }
  return tree;
}

namespace {

int logged_requests(const std::string &path) {
  std::istringstream log(update_server().access_log());
  std::string line;
  const std::string request = "\"GET " + path + " HTTP/1.1\"";
  int count = 0;
  while (std::getline(log, line)) {
    if (line.find(request) != std::string::npos) {
      count++;
    }
  }
  return count;
}

}  // namespace

int requests_for(const std::string &path, int expected) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  for (;;) {
    int count = logged_requests(path);
    if (expected < 0 || count >= expected || std::chrono::steady_clock::now() > deadline) {
      return count;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

installation::installation() { dir_.write_file("update_manifest.lst", MANIFEST_HEADER); }

std::string temporary_files(const installation &install) {
  std::string names;
  for (const auto &entry : fs::directory_iterator(install.file("tmp"))) {
    names += entry.path().filename().string() + " ";
  }
  return names;
}

file_tree installation::game_files() const {
  return files_under(dir_.path(),
                     {"update_manifest.lst", "tmp/update.tmp", "update_exclude.lst", "update_manifest.lst.release"});
}

namespace {

void record_message(void *data, const char *text) {
  static_cast<std::vector<std::string> *>(data)->push_back(text);
}

void record_and_print_message(void *data, const char *text) {
  record_message(data, text);
  std::fprintf(stderr, "%s\n", text);
}

void record_and_echo_message(void *data, const char *text) {
  record_message(data, text);
  std::printf("%s\n", text);
  std::fflush(stdout);
}

}  // namespace

update_outcome run_update(const installation &install, const std::string &root, const update_settings &settings) {
  update_outcome out;
  ovu_updater updater;
  updater.verbose = settings.verbose ? 1 : 0;
  updater.message_callback = settings.print_messages  ? record_and_print_message
                             : settings.echo_messages ? record_and_echo_message
                                                      : record_message;
  updater.parallel_downloads = settings.parallel_downloads;
  updater.callback_data = &out.messages;
  updater.release_key = settings.release_key;
  std::string destination = settings.destination.empty() ? install.path() : settings.destination;
  updater.set_destination_path(destination.c_str());
  updater.set_temporary_file(install.file("tmp/update.tmp").c_str());
  if (!updater.load_manifest(install.manifest_path().c_str())) {
    ADD_FAILURE() << "the local manifest does not load";
    return out;
  }
  if (!settings.exclude.empty()) {
    std::string exclude = install.dir().write_file("update_exclude.lst", settings.exclude);
    updater.load_exclude_manifest(exclude.c_str());
  }
  out.result = updater.run(UPDATE_HOST, root.c_str(), MANIFEST_NAME);
  out.stats = updater.stats;
  return out;
}

void updater_nginx_test::SetUp() {
  diagnostic_capture_test::SetUp();
  ASSERT_EQ(update_server().port(), UPDATE_PORT) << "nginx is not serving 127.0.0.1:80";
}

bool has_message(const update_outcome &out, const std::string &message) {
  for (const std::string &m : out.messages) {
    if (m == message) {
      return true;
    }
  }
  return false;
}

std::string messages_of(const update_outcome &out) {
  std::string all;
  for (const std::string &m : out.messages) {
    all += m + "\n";
  }
  return all;
}
