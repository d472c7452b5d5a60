#include "tests/http/nginx_fixture.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "platform/socket.h"
#include "tests/net/loopback_peer.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>
extern char **environ;
#endif

#ifndef _WIN32
namespace {

constexpr int kStartAttempts = 5;      // fresh ports tried when nginx cannot bind
constexpr int kReadyTimeoutMs = 10000;  // nginx must answer within this
constexpr int kProbeTimeoutMs = 200;
constexpr int kProbePauseMs = 20;

bool port_answers(int port) {
  platform_socket_startup();
  platform_socket_handle probe = platform_socket_open();
  if (probe == PLATFORM_INVALID_SOCKET) {
    return false;
  }
  platform_sockaddr_in address = loopback_address();
  address.port = platform_htons(static_cast<uint16_t>(port));
  platform_socket_set_nonblocking(probe, 1);
  platform_socket_connect(probe, &address, PLATFORM_SOCKADDR_IN_LENGTH);
  int signalled = 0;
  int n = platform_socket_wait(probe, PLATFORM_SOCKET_WRITABLE | PLATFORM_SOCKET_EXCEPTION, kProbeTimeoutMs,
                               &signalled);
  platform_socket_close(probe);
  return n > 0 && signalled == PLATFORM_SOCKET_WRITABLE;
}

std::string read_text(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string configuration(const std::string &dir, int port, bool as_root) {
  std::ostringstream conf;
  conf << "daemon off;\n"
       << "master_process on;\n"
       << "worker_processes 1;\n"
       << (as_root ? "user root;\n" : "")
       << "pid " << dir << "/nginx.pid;\n"
       << "error_log " << dir << "/error.log warn;\n"
       << "events { worker_connections 64; }\n"
       << "http {\n"
       << "  access_log " << dir << "/access.log;\n"
       << "  client_body_temp_path " << dir << "/client_body;\n"
       << "  proxy_temp_path " << dir << "/proxy;\n"
       << "  fastcgi_temp_path " << dir << "/fastcgi;\n"
       << "  uwsgi_temp_path " << dir << "/uwsgi;\n"
       << "  scgi_temp_path " << dir << "/scgi;\n"
       << "  default_type application/octet-stream;\n"
       << "  sendfile on;\n"
       << "  server {\n"
       << "    listen 127.0.0.1:" << port << ";\n"
       << "    root " << dir << "/docroot;\n"
       // Server-side includes drop the length, so nginx frames the body
       // in chunks.
       << "    location /chunked/ { ssi on; ssi_types *; }\n"
       // Trickles: every body under /slow/, and the signature files under
       // /slow-signature/, at 10 bytes a second.
       << "    location /slow/ { limit_rate 10; }\n"
       << "    location /slow-signature/ { location ~ \\.sig$ { limit_rate 10; } }\n"
       // Under /stalled/, the answers for files named "stalled..." trickle at
       // 100 bytes a second, header section included.
       << "    location /stalled/ { location ~ /stalled[^/]*$ { limit_rate 100; } }\n"
       // Bodies under /throttled/ come fast for 256 KiB, then at 512 KiB a
       // second: a test can change a file while nginx is sending it.
       << "    location /throttled/ { limit_rate_after 256k; limit_rate 512k; }\n"
       << "  }\n"
       << "}\n";
  return conf.str();
}

}  // namespace
#endif

std::string random_bytes(size_t count, uint32_t seed, bool text) {
  static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::mt19937 random(seed);
  std::string bytes(count, '\0');
  for (size_t i = 0; i < count; i++) {
    uint32_t value = random();
    bytes[i] = text ? kAlphabet[value % (sizeof(kAlphabet) - 1)] : static_cast<char>(value & 0xff);
  }
  return bytes;
}

std::string nginx_server::put_file(const std::string &relative, const std::string &bytes) const {
  std::filesystem::path path = std::filesystem::path(directory_) / "docroot" / relative;
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return path.string();
}

#ifdef _WIN32

std::string nginx_server::access_log() const { return ""; }

bool nginx_server::installed() { return false; }

bool nginx_server::start(std::string *why, int) {
  *why = "nginx runs only on the POSIX build";
  return false;
}

void nginx_server::stop() {}

nginx_server::~nginx_server() {}

bool nginx_server::start_on(int, std::string *) { return false; }

#else

bool nginx_server::installed() { return access(kNginxProgram, X_OK) == 0; }

std::string nginx_server::access_log() const { return read_text(directory_ + "/access.log"); }

nginx_server::~nginx_server() {
  stop();
  if (!directory_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
  }
}

bool nginx_server::start(std::string *why, int port) {
  if (!installed()) {
    *why = std::string(kNginxProgram) + " is not installed";
    return false;
  }
  if (directory_.empty()) {
    std::string pattern = (std::filesystem::temp_directory_path() / "torvane_nginx_XXXXXX").string();
    if (mkdtemp(&pattern[0]) == nullptr) {
      *why = "cannot make a temporary directory";
      return false;
    }
    directory_ = pattern;
    std::filesystem::create_directories(directory_ + "/docroot");
  }
  if (port != 0) {
    return start_on(port, why);
  }
  for (int attempt = 0; attempt < kStartAttempts; attempt++) {
    if (start_on(unused_loopback_port(), why)) {
      return true;
    }
  }
  return false;
}

bool nginx_server::start_on(int port, std::string *why) {
  const std::string conf_path = directory_ + "/nginx.conf";
  {
    std::ofstream conf(conf_path, std::ios::trunc);
    conf << configuration(directory_, port, geteuid() == 0);
  }
  const std::string prefix = directory_ + "/";
  const std::string log_path = directory_ + "/nginx.out";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  char *argv[] = {const_cast<char *>(kNginxProgram), const_cast<char *>("-p"), const_cast<char *>(prefix.c_str()),
                  const_cast<char *>("-c"), const_cast<char *>(conf_path.c_str()), nullptr};
  pid_t pid = 0;
  int spawned = posix_spawn(&pid, kNginxProgram, &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    *why = "cannot start nginx";
    return false;
  }
  process_ = pid;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReadyTimeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      process_ = 0;
      *why = "nginx ended at start-up: " + read_text(log_path) + read_text(directory_ + "/error.log");
      return false;
    }
    if (port_answers(port)) {
      port_ = port;
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kProbePauseMs));
  }
  stop();
  *why = "nginx did not answer on port " + std::to_string(port);
  return false;
}

void nginx_server::stop() {
  if (process_ == 0) {
    return;
  }
  pid_t pid = static_cast<pid_t>(process_);
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  process_ = 0;
  port_ = 0;
}

#endif
