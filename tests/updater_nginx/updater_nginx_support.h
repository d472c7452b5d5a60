// Shared set-up of the updater's end-to-end tests: one nginx on
// 127.0.0.1:80 for the whole test program, releases published into its
// document root with the real torvane-publish, and fresh installations.
#ifndef TORVANE_TESTS_UPDATER_NGINX_UPDATER_NGINX_SUPPORT_H
#define TORVANE_TESTS_UPDATER_NGINX_UPDATER_NGINX_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/common/diagnostic_capture.h"
#include "tests/common/file_contents.h"
#include "tests/common/local_manifest.h"
#include "tests/common/scratch_directory.h"
#include "tests/common/zlib_stream.h"
#include "tests/http/nginx_fixture.h"
#include "updater/updater.h"

constexpr int UPDATE_PORT = 80;
constexpr char UPDATE_HOST[] = "127.0.0.1";
constexpr char MANIFEST_NAME[] = "manifest.lst.z";

constexpr const char *MANIFEST_HEADER = LOCAL_MANIFEST_HEADER;

// name -> bytes of a release or an installation.
using file_tree = std::map<std::string, std::string>;

// The nginx of the test program, started on port 80 on first use.
nginx_server &update_server();

// publish_release writes |files| into the document root under |root| (a
// path like "/rel"), replacing what was there, and runs torvane-publish on
// it with |options|. Returns torvane-publish's exit code.
int publish_release(const std::string &root, const file_tree &files, const std::string &options = "");

// serve_manifest_text puts a hand-made manifest |text|, compressed with
// zlib, at |root| + "/" + MANIFEST_NAME.
void serve_manifest_text(const std::string &root, const std::string &text);

// files_under returns every regular file below |directory| with its bytes,
// leaving out |skipped| names.
file_tree files_under(const std::filesystem::path &directory, const std::vector<std::string> &skipped = {});

// requests_for counts the GET requests for |path| in nginx's access log.
// nginx logs a request after the client may already have gone: with
// |expected| set, it waits a little for the count to reach it.
int requests_for(const std::string &path, int expected = -1);

// A fresh installation: an empty directory with the header-only manifest.
class installation {
 public:
  installation();
  std::string path() const { return dir_.path().string(); }
  std::string file(const std::string &name) const { return dir_.file(name); }
  std::string manifest_path() const { return dir_.file("update_manifest.lst"); }
  file_tree game_files() const;
  const scratch_directory &dir() const { return dir_; }

 private:
  scratch_directory dir_;
};

// Names of the files left in the installation's tmp directory, each
// followed by a blank.
std::string temporary_files(const installation &install);

// What one update did.
struct update_outcome {
  int result = -1;
  std::vector<std::string> messages;
  ovu_update_stats stats{};
};

struct update_settings {
  bool verbose = false;
  std::string exclude;  // contents of an exclude file; none when empty
  std::string destination;  // default: the installation
  // The release key the updater checks releases with; none when null.
  const unsigned char *release_key = nullptr;
  // Each message also goes to standard error as it comes: a death test's
  // recorded messages die with it.
  bool print_messages = false;
  // Each message also goes to standard output as it comes, in line with the
  // diagnostics, so that a capture of standard output holds both in order.
  bool echo_messages = false;
  // Downloads in flight (the updater's parallel_downloads).
  int parallel_downloads = OVU_DEFAULT_PARALLEL_DOWNLOADS;
};

// has_message tells whether the update sent exactly |message|.
bool has_message(const update_outcome &out, const std::string &message);
// messages_of is every message of the update, one per line, for a
// failure's explanation.
std::string messages_of(const update_outcome &out);

// run_update runs one ovu_updater against the server's |root| into
// |install|, configured as the launcher configures it.
update_outcome run_update(const installation &install, const std::string &root,
                          const update_settings &settings = update_settings());

// Fails the running test when nginx cannot be had.
class updater_nginx_test : public diagnostic_capture_test {
 protected:
  void SetUp() override;
};

#endif
