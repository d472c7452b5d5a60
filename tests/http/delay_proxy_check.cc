// The latency benchmark's forwarding proxy (bench/delay_proxy): bytes pass
// intact both ways, each direction is delayed, a new connection pays one
// round trip more, and a bandwidth holds a transfer back. Only lower bounds
// of the times are asserted: a busy machine makes everything slower, never
// faster.
//
// The proxy is started as a process of its own; the client and the
// upstream server are sockets of this test.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using clock_type = std::chrono::steady_clock;
using std::chrono::milliseconds;

// No socket call of the test waits longer than this, so that a broken
// proxy fails the test instead of hanging it.
constexpr int kSocketTimeoutS = 20;
// Clock readings of two processes may differ by a rounding step.
constexpr int64_t kSlackMs = 1;

void set_timeout(int fd) {
  timeval timeout = {kSocketTimeoutS, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout));
}

sockaddr_in loopback(int port) {
  sockaddr_in address;
  std::memset(&address, 0, sizeof(address));
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// The upstream server's listening socket on a port the system picks.
class listener {
 public:
  listener() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof(address);
    if (bind(fd_, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0 && listen(fd_, 8) == 0 &&
        getsockname(fd_, reinterpret_cast<sockaddr *>(&address), &length) == 0) {
      port_ = ntohs(address.sin_port);
    }
    set_timeout(fd_);
  }
  ~listener() { close(fd_); }
  int port() const { return port_; }
  int accept_one() {
    int fd = accept(fd_, nullptr, nullptr);
    if (fd >= 0) set_timeout(fd);
    return fd;
  }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// The proxy process, from its start until the test ends.
class proxy_process {
 public:
  proxy_process(int upstream_port, const std::vector<std::string> &options) {
    int out[2];
    if (pipe(out) != 0) return;
    std::vector<std::string> words = {TORVANE_DELAY_PROXY, "0", std::to_string(upstream_port)};
    words.insert(words.end(), options.begin(), options.end());
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      close(out[1]);
      std::vector<char *> argv;
      for (std::string &w : words) argv.push_back(&w[0]);
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    // "delay_proxy: listening on PORT"
    char line[128] = {};
    FILE *from_proxy = fdopen(out[0], "r");
    if (from_proxy != nullptr && std::fgets(line, sizeof(line), from_proxy) != nullptr) {
      std::sscanf(line, "delay_proxy: listening on %d", &port_);
    }
    if (from_proxy != nullptr) std::fclose(from_proxy);
  }
  ~proxy_process() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  int port() const { return port_; }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

int connect_to(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  set_timeout(fd);
  sockaddr_in address = loopback(port);
  if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool send_all(int fd, const std::string &bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

std::string receive_exactly(int fd, size_t count) {
  std::string out(count, '\0');
  size_t got = 0;
  while (got < count) {
    ssize_t n = recv(fd, &out[got], count - got, 0);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  out.resize(got);
  return out;
}

std::string receive_until_end(int fd) {
  std::string out;
  char buffer[65536];
  for (;;) {
    ssize_t n = recv(fd, buffer, sizeof(buffer), 0);
    if (n <= 0) break;
    out.append(buffer, static_cast<size_t>(n));
  }
  return out;
}

std::string pattern(size_t length, unsigned seed) {
  std::string bytes(length, '\0');
  for (size_t i = 0; i < length; i++) {
    bytes[i] = static_cast<char>((i * seed + i / 257) & 0xff);
  }
  return bytes;
}

// since returns the milliseconds since |start|.
int64_t since(clock_type::time_point start) {
  return std::chrono::duration_cast<milliseconds>(clock_type::now() - start).count();
}

TEST(delay_proxy_test, bytes_pass_intact_both_ways_and_ends_follow) {
  listener upstream;
  ASSERT_NE(upstream.port(), 0);
  proxy_process proxy(upstream.port(), {"--delay-ms", "5", "--buffer-kib", "256"});
  ASSERT_NE(proxy.port(), 0);
  const std::string request = pattern(3 * 1024 * 1024 + 17, 131);
  const std::string answer = pattern(5 * 1024 * 1024 + 3, 71);
  int client = connect_to(proxy.port());
  ASSERT_GE(client, 0);
  std::string client_received;
  std::thread client_side([&] {
    EXPECT_TRUE(send_all(client, request));
    shutdown(client, SHUT_WR);
    client_received = receive_until_end(client);
  });
  int server = upstream.accept_one();
  ASSERT_GE(server, 0);
  // The server sees the client's end of stream after its bytes, and answers
  // only then, so both directions are checked to their ends.
  std::string server_received = receive_until_end(server);
  EXPECT_TRUE(send_all(server, answer));
  close(server);
  client_side.join();
  close(client);
  EXPECT_TRUE(server_received == request) << server_received.size() << " of " << request.size() << " bytes";
  EXPECT_TRUE(client_received == answer) << client_received.size() << " of " << answer.size() << " bytes";
}

TEST(delay_proxy_test, each_direction_is_delayed_and_a_new_connection_pays_a_round_trip) {
  constexpr int64_t kDelayMs = 100;
  listener upstream;
  ASSERT_NE(upstream.port(), 0);
  proxy_process proxy(upstream.port(), {"--delay-ms", std::to_string(kDelayMs)});
  ASSERT_NE(proxy.port(), 0);

  auto connected = clock_type::now();
  int client = connect_to(proxy.port());
  ASSERT_GE(client, 0);
  ASSERT_TRUE(send_all(client, "ping"));
  int server = upstream.accept_one();
  ASSERT_GE(server, 0);
  EXPECT_EQ(receive_exactly(server, 4), "ping");
  // The handshake's round trip, then the way there.
  EXPECT_GE(since(connected), 3 * kDelayMs - kSlackMs);

  auto answered = clock_type::now();
  ASSERT_TRUE(send_all(server, "pong"));
  EXPECT_EQ(receive_exactly(client, 4), "pong");
  EXPECT_GE(since(answered), kDelayMs - kSlackMs);

  // On a connection already open, one way costs the delay only.
  auto asked = clock_type::now();
  ASSERT_TRUE(send_all(client, "again"));
  EXPECT_EQ(receive_exactly(server, 5), "again");
  EXPECT_GE(since(asked), kDelayMs - kSlackMs);
  close(server);
  close(client);
}

TEST(delay_proxy_test, a_bandwidth_holds_a_transfer_back) {
  constexpr int kRateKib = 1024;
  constexpr size_t kBytes = 512 * 1024;  // half a second at that rate
  listener upstream;
  ASSERT_NE(upstream.port(), 0);
  proxy_process proxy(upstream.port(), {"--delay-ms", "1", "--rate-kib", std::to_string(kRateKib)});
  ASSERT_NE(proxy.port(), 0);
  int client = connect_to(proxy.port());
  ASSERT_GE(client, 0);
  int server = upstream.accept_one();
  ASSERT_GE(server, 0);
  const std::string answer = pattern(kBytes, 29);
  auto started = clock_type::now();
  std::thread server_side([&] { EXPECT_TRUE(send_all(server, answer)); });
  EXPECT_TRUE(receive_exactly(client, kBytes) == answer);
  EXPECT_GE(since(started), static_cast<int64_t>(1000 * kBytes / (kRateKib * 1024)) - kSlackMs);
  server_side.join();
  close(server);
  close(client);
}

}  // namespace
