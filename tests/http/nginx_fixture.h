// A real nginx on 127.0.0.1 for the downloader tests and the benchmark: a
// temporary directory with a minimal configuration, the document root, the
// logs and the temporary paths, and the nginx process itself. The only
// test file that starts processes is nginx_fixture.cc.
#ifndef TORVANE_TESTS_HTTP_NGINX_FIXTURE_H
#define TORVANE_TESTS_HTTP_NGINX_FIXTURE_H

#include <cstdint>
#include <string>

// Where the distribution installs nginx.
constexpr char kNginxProgram[] = "/usr/sbin/nginx";

class nginx_server {
 public:
  nginx_server() = default;
  // Stops nginx and removes the directory.
  ~nginx_server();
  nginx_server(const nginx_server &) = delete;
  nginx_server &operator=(const nginx_server &) = delete;

  // installed tells whether this host can run nginx at all.
  static bool installed();

  // start makes the directory, writes the configuration, starts nginx on
  // |port| of 127.0.0.1 (0: a free port) and waits until the port answers.
  // Under |/chunked/| nginx sends bodies with chunked framing; under
  // |/slow/| every body, and under |/slow-signature/| the ".sig" files,
  // trickle at 10 bytes a second; under |/stalled/| the answers for files
  // whose names begin with "stalled" trickle at 100. Returns true
  // when nginx answers; else false with the reason (and nginx's error log)
  // in |*why|. A stopped server may be started again on the same
  // directory.
  bool start(std::string *why, int port = 0);
  // stop ends nginx and waits for it.
  void stop();

  int port() const { return port_; }
  // put_file writes |bytes| to |relative| under the document root (its
  // directories are created) and returns its full path.
  std::string put_file(const std::string &relative, const std::string &bytes) const;
  const std::string &directory() const { return directory_; }
  // docroot returns the directory that nginx serves as "/".
  std::string docroot() const { return directory_ + "/docroot"; }
  // access_log returns what nginx has logged of the requests so far.
  std::string access_log() const;

 private:
  bool start_on(int port, std::string *why);

  std::string directory_;
  int port_ = 0;
  intptr_t process_ = 0;  // process id of the nginx master, 0 when none
};

// random_bytes returns |count| bytes from a generator seeded with |seed|;
// with |text| set they are letters and digits only.
std::string random_bytes(size_t count, uint32_t seed, bool text);

#endif
