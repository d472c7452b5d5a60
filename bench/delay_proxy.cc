// delay_proxy: a TCP forwarding proxy on loopback that makes a local server
// look far away, for bench/latency_bench.sh and its own test; never part of
// the launcher. Each accepted connection gets a connection of its own to
// the upstream port on 127.0.0.1, and each direction behaves like a link
// with a fixed one-way delay and, when asked, a bandwidth:
//
//   - bytes read from one side at time t leave for the other side at
//     t + DELAY; with a bandwidth, once the link has also carried the bytes
//     before them at that rate;
//   - the client's first bytes leave no earlier than one round trip
//     (2 x DELAY) after the connection was accepted, as if the TCP
//     handshake had crossed the link first;
//   - an end of stream follows the bytes before it with the same delay; a
//     reset or an error on either side closes both;
//   - at most BUFFER bytes wait per direction: beyond that the proxy stops
//     reading that side, as a full TCP window would stop the sender.
//
// Usage: delay_proxy LISTEN_PORT UPSTREAM_PORT [--delay-ms N] [--rate-kib N]
//                    [--buffer-kib N]
//   --delay-ms    one-way delay in milliseconds (default 25)
//   --rate-kib    bandwidth of each direction of each connection, KiB/s
//                 (default 0: no limit)
//   --buffer-kib  bytes waiting per direction before reading pauses
//                 (default 8192)
// LISTEN_PORT 0 picks a free port. Prints "delay_proxy: listening on PORT"
// once it accepts connections, then runs until it is killed.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <system_error>
#include <thread>

namespace {

constexpr int64_t NS_PER_MS = 1000000;
constexpr int64_t NS_PER_S = 1000000000;
constexpr int64_t BYTES_PER_KIB = 1024;
constexpr size_t READ_LEN = 64 * 1024;
constexpr int LISTEN_BACKLOG = 1024;
constexpr int64_t NO_EVENT = INT64_MAX;

struct settings {
  int listen_port = -1;
  int upstream_port = -1;
  int64_t delay_ns = 25 * NS_PER_MS;
  int64_t rate_bytes_per_s = 0;  // 0: no limit
  size_t buffer_len = 8192 * BYTES_PER_KIB;
};

int64_t now_ns() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * NS_PER_S + now.tv_nsec;
}

// Bytes read from one side, waiting for the time they may leave.
struct piece {
  int64_t release_ns;
  std::string bytes;
  size_t sent;
};

// One direction of a connection: a link from |from| to |to|.
struct one_way_link {
  one_way_link(int from_fd, int to_fd) : from(from_fd), to(to_fd) {}

  int from;
  int to;
  int64_t earliest_ns = 0;  // nothing enters the link before this
  int64_t free_ns = 0;      // when the link has carried every byte read so far
  std::deque<piece> pieces;
  size_t queued = 0;          // bytes read and not yet sent on
  bool source_ended = false;  // |from| reached its end of stream
  int64_t end_release_ns = 0;
  bool end_passed = false;  // |to| has been shut down for writing
  bool blocked = false;     // |to| took no more bytes at the last try
};

// read_into reads what |l.from| has and schedules it. Returns false when
// the connection must be torn down.
bool read_into(one_way_link &l, const settings &s) {
  char buffer[READ_LEN];
  ssize_t n = recv(l.from, buffer, sizeof(buffer), 0);
  if (n < 0) {
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
  }
  int64_t start = std::max(now_ns(), std::max(l.free_ns, l.earliest_ns));
  if (n == 0) {
    l.source_ended = true;
    l.end_release_ns = start + s.delay_ns;
    return true;
  }
  int64_t carried = s.rate_bytes_per_s > 0 ? static_cast<int64_t>(n) * NS_PER_S / s.rate_bytes_per_s : 0;
  l.free_ns = start + carried;
  l.pieces.push_back({l.free_ns + s.delay_ns, std::string(buffer, static_cast<size_t>(n)), 0});
  l.queued += static_cast<size_t>(n);
  return true;
}

// send_due sends every piece whose time has come, and the end of stream
// after them. Returns false when the connection must be torn down.
bool send_due(one_way_link &l, int64_t now) {
  l.blocked = false;
  while (!l.pieces.empty() && l.pieces.front().release_ns <= now) {
    piece &p = l.pieces.front();
    ssize_t n = send(l.to, p.bytes.data() + p.sent, p.bytes.size() - p.sent, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        l.blocked = true;
        return true;
      }
      return false;
    }
    p.sent += static_cast<size_t>(n);
    l.queued -= static_cast<size_t>(n);
    if (p.sent == p.bytes.size()) {
      l.pieces.pop_front();
    }
  }
  if (l.pieces.empty() && l.source_ended && !l.end_passed && l.end_release_ns <= now) {
    shutdown(l.to, SHUT_WR);
    l.end_passed = true;
  }
  return true;
}

// next_release_ns is when |l| next has something to send, NO_EVENT when
// nothing waits (or it waits for the other side to take bytes).
int64_t next_release_ns(const one_way_link &l) {
  if (l.blocked) {
    return NO_EVENT;
  }
  if (!l.pieces.empty()) {
    return l.pieces.front().release_ns;
  }
  if (l.source_ended && !l.end_passed) {
    return l.end_release_ns;
  }
  return NO_EVENT;
}

bool wants_input(const one_way_link &l, const settings &s) { return !l.source_ended && l.queued < s.buffer_len; }

void prepare(int fd) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  int one = 1;
  // The proxy passes on what it read at once; it must not hold small
  // pieces back on top of the delay it adds.
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
}

sockaddr_in loopback(int port) {
  sockaddr_in address;
  std::memset(&address, 0, sizeof(address));
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

int connect_upstream(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) {
    return -1;
  }
  sockaddr_in address = loopback(port);
  if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// forward runs one accepted connection to its end.
void forward(int client, settings s) {
  int upstream = connect_upstream(s.upstream_port);
  if (upstream < 0) {
    close(client);
    return;
  }
  prepare(client);
  prepare(upstream);
  one_way_link up(client, upstream);
  up.earliest_ns = now_ns() + 2 * s.delay_ns;
  one_way_link down(upstream, client);
  for (;;) {
    int64_t now = now_ns();
    if (!send_due(up, now) || !send_due(down, now)) {
      break;
    }
    if (up.end_passed && down.end_passed) {
      break;
    }
    pollfd fds[2] = {{client, 0, 0}, {upstream, 0, 0}};
    if (wants_input(up, s)) fds[0].events |= POLLIN;
    if (wants_input(down, s)) fds[1].events |= POLLIN;
    if (up.blocked) fds[1].events |= POLLOUT;
    if (down.blocked) fds[0].events |= POLLOUT;
    // A side with nothing to wait for is left out: a closed peer would
    // report a hang-up at every poll.
    for (pollfd &p : fds) {
      if (p.events == 0) p.fd = -1;
    }
    int64_t wake = std::min(next_release_ns(up), next_release_ns(down));
    timespec timeout;
    timespec *timeout_pointer = nullptr;
    if (wake != NO_EVENT) {
      int64_t wait = std::max<int64_t>(0, wake - now);
      timeout.tv_sec = static_cast<time_t>(wait / NS_PER_S);
      timeout.tv_nsec = static_cast<long>(wait % NS_PER_S);
      timeout_pointer = &timeout;
    }
    if (ppoll(fds, 2, timeout_pointer, nullptr) < 0 && errno != EINTR) {
      break;
    }
    if ((fds[0].revents | fds[1].revents) & (POLLERR | POLLNVAL)) {
      break;
    }
    // A hang-up also reads as the end of stream, but only from a side
    // that is read at all.
    if ((fds[0].events & POLLIN) && (fds[0].revents & (POLLIN | POLLHUP)) && !read_into(up, s)) break;
    if ((fds[1].events & POLLIN) && (fds[1].revents & (POLLIN | POLLHUP)) && !read_into(down, s)) break;
  }
  close(client);
  close(upstream);
}

bool parse_number(const char *text, int64_t low, int64_t high, int64_t *value) {
  char *end = nullptr;
  errno = 0;
  long long parsed = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || parsed < low || parsed > high) {
    return false;
  }
  *value = parsed;
  return true;
}

bool parse_arguments(int argc, char **argv, settings *s) {
  int64_t value = 0;
  if (argc < 3 || (argc - 3) % 2 != 0) {
    return false;
  }
  if (!parse_number(argv[1], 0, 65535, &value)) return false;
  s->listen_port = static_cast<int>(value);
  if (!parse_number(argv[2], 1, 65535, &value)) return false;
  s->upstream_port = static_cast<int>(value);
  for (int i = 3; i < argc; i += 2) {
    const char *option = argv[i];
    if (std::strcmp(option, "--delay-ms") == 0 && parse_number(argv[i + 1], 0, 60000, &value)) {
      s->delay_ns = value * NS_PER_MS;
    } else if (std::strcmp(option, "--rate-kib") == 0 && parse_number(argv[i + 1], 0, INT32_MAX, &value)) {
      s->rate_bytes_per_s = value * BYTES_PER_KIB;
    } else if (std::strcmp(option, "--buffer-kib") == 0 && parse_number(argv[i + 1], 64, 1024 * 1024, &value)) {
      s->buffer_len = static_cast<size_t>(value * BYTES_PER_KIB);
    } else {
      return false;
    }
  }
  return true;
}

int listen_on(int port, int *bound_port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) {
    return -1;
  }
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
  sockaddr_in address = loopback(port);
  socklen_t length = sizeof(address);
  if (bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0 || listen(fd, LISTEN_BACKLOG) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
    close(fd);
    return -1;
  }
  *bound_port = ntohs(address.sin_port);
  return fd;
}

}  // namespace

int main(int argc, char **argv) {
  settings s;
  if (!parse_arguments(argc, argv, &s)) {
    std::fprintf(stderr,
                 "usage: delay_proxy LISTEN_PORT UPSTREAM_PORT [--delay-ms N] [--rate-kib N] [--buffer-kib N]\n");
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  int port = 0;
  int listener = listen_on(s.listen_port, &port);
  if (listener < 0) {
    std::fprintf(stderr, "delay_proxy: cannot listen on 127.0.0.1:%d: %s\n", s.listen_port, std::strerror(errno));
    return 1;
  }
  std::printf("delay_proxy: listening on %d\n", port);
  std::fflush(stdout);
  for (;;) {
    int client = accept(listener, nullptr, nullptr);
    if (client < 0) {
      if (errno != EINTR && errno != ECONNABORTED) {
        std::fprintf(stderr, "delay_proxy: accept failed: %s\n", std::strerror(errno));
        usleep(10000);
      }
      continue;
    }
    try {
      std::thread(forward, client, s).detach();
    } catch (const std::system_error &) {
      close(client);
    }
  }
}
