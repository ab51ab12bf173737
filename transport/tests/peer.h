#pragma once
// Loopback peers for the Netkit tests, written directly on the system calls so that they do not
// share code with what they test: a listening socket on 127.0.0.1 port 0, a scripted server that
// runs one function per accepted connection on its own thread, outside daemons started and
// stopped by process id, and small blocking helpers.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/kernel.h"

namespace peer {

inline sockaddr_in loopback(uint16_t port, const char* address = "127.0.0.1") {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  inet_pton(AF_INET, address, &sa.sin_addr);
  return sa;
}

inline uint16_t boundPort(int fd) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  return ntohs(sa.sin_port);
}

// A TCP (or UDP) socket bound to address:port (0 = any free port).
inline int bound(int type, uint16_t port = 0, const char* address = "127.0.0.1") {
  int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in sa = loopback(port, address);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    ::close(fd);
    return -1;
  }
  if (type == SOCK_STREAM) ::listen(fd, 16);
  return fd;
}

// A port for a daemon that wants its number on the command line, kept from everybody else for
// a minute: it is left in TIME_WAIT (this side closes first), which the kernel passes over when
// it picks a free port for a bind to port 0, while a daemon that sets SO_REUSEADDR (microsocks,
// Dante, tinyproxy) can still bind it. Closing a probe socket instead would leave the port to the
// next program on the machine that asks for any free one.
inline uint16_t freePort() {
  int listener = bound(SOCK_STREAM);
  uint16_t port = boundPort(listener);
  int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa = loopback(port);
  if (::connect(client, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) {
    int accepted = ::accept(listener, nullptr, nullptr);
    if (accepted >= 0) ::close(accepted);
  }
  ::close(client);
  ::close(listener);
  return port;
}

// Polls pred until it holds or timeoutMs pass; whether it held. For waiting on what another
// thread or process does, instead of sleeping for a time that a loaded machine may overrun.
template <class Pred>
bool waitUntil(Pred pred, int timeoutMs = 10000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!pred()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// A TCP port nothing listens on: bound but never listened, so connects are refused.
class ClosedPort {
 public:
  ClosedPort() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa = loopback(0);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    port_ = boundPort(fd_);
  }
  ~ClosedPort() { ::close(fd_); }
  uint16_t port() const { return port_; }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

inline bool sendAll(int fd, const void* data, size_t length) {
  const char* p = static_cast<const char*>(data);
  while (length) {
    ssize_t n = ::send(fd, p, length, MSG_NOSIGNAL);
    if (n <= 0) return false;
    p += n;
    length -= size_t(n);
  }
  return true;
}
inline bool sendAll(int fd, const std::string& s) {
  return sendAll(fd, s.data(), s.size());
}

// Reads exactly n bytes (or fewer when the peer closes or 5 s pass).
inline std::string recvExact(int fd, size_t n, int timeoutMs = 5000) {
  std::string out;
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (out.size() < n) {
    pollfd p{fd, POLLIN, 0};
    int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(
                       end - std::chrono::steady_clock::now())
                       .count());
    if (left <= 0 || ::poll(&p, 1, left) <= 0) break;
    char buf[4096];
    ssize_t got = ::recv(fd, buf, std::min(sizeof buf, n - out.size()), 0);
    if (got <= 0) break;
    out.append(buf, size_t(got));
  }
  return out;
}

// Reads until the text ends with terminator (or the peer closes / 5 s pass).
inline std::string recvUntil(int fd, const std::string& terminator, int timeoutMs = 5000) {
  std::string out;
  while (out.size() < terminator.size() ||
         out.compare(out.size() - terminator.size(), terminator.size(), terminator) != 0) {
    std::string c = recvExact(fd, 1, timeoutMs);
    if (c.empty()) break;
    out += c;
  }
  return out;
}

// A TCP server on 127.0.0.1 running handler(fd) on a thread for each accepted connection, up to
// maxConnections. The destructor stops accepting and joins every thread.
class ScriptedServer {
 public:
  explicit ScriptedServer(std::function<void(int)> handler, int maxConnections = 16)
      : handler_(std::move(handler)), left_(maxConnections) {
    listener_ = bound(SOCK_STREAM);
    port_ = boundPort(listener_);
    acceptor_ = std::thread([this] { run(); });
  }
  ~ScriptedServer() {
    stop_ = true;
    acceptor_.join();
    for (auto& t : workers_) t.join();
    ::close(listener_);
  }
  uint16_t port() const { return port_; }
  int accepted() const { return accepted_; }

 private:
  void run() {
    while (!stop_ && left_ > 0) {
      pollfd p{listener_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      int fd = ::accept(listener_, nullptr, nullptr);
      if (fd < 0) continue;
      --left_;
      ++accepted_;
      workers_.emplace_back([this, fd] {
        handler_(fd);
        ::close(fd);
      });
    }
  }
  std::function<void(int)> handler_;
  int listener_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> accepted_{0};
  int left_;
  std::thread acceptor_;
  std::vector<std::thread> workers_;
};

// A TCP echo server (the destination behind the proxies).
inline void echo(int fd) {
  char buf[4096];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 10000) <= 0) return;
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0 || !sendAll(fd, buf, size_t(n))) return;
  }
}

// Waits until something accepts TCP connections on address:port.
inline bool waitListening(uint16_t port, const char* address = "127.0.0.1", int timeoutMs = 8000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < end) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa = loopback(port, address);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    ::close(fd);
    if (ok) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

// An outside program run for the duration of a test, stopped by its process id.
class Daemon {
 public:
  Daemon() = default;
  explicit Daemon(const std::vector<std::string>& argv, const std::string& logFile = "") {
    hv::Process::Options options;
    options.outputFile = logFile;
    process_ = hv::Process::start(argv, options);
  }
  Daemon(Daemon&&) = default;
  Daemon& operator=(Daemon&&) = default;
  ~Daemon() { stop(); }
  bool started() const { return process_.has_value(); }
  bool running() { return process_ && !process_->wait(std::chrono::milliseconds(0)).has_value(); }
  void stop() {
    if (!process_) return;
    process_->kill(15);
    if (!process_->wait(std::chrono::milliseconds(3000))) {
      process_->kill(9);
      process_->wait(std::chrono::milliseconds(3000));
    }
    process_.reset();
  }

 private:
  std::optional<hv::Process> process_;
};

// A fresh folder under /tmp, removed with its files at the end.
class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/netkit-test-XXXXXX";
    path_ = ::mkdtemp(name) ? name : "/tmp";
  }
  ~TempDir() {
    if (path_ != "/tmp") std::system(("rm -rf '" + path_ + "'").c_str());
  }
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  void write(const std::string& name, const std::string& text) const {
    std::ofstream(file(name)) << text;
  }
  std::string read(const std::string& name) const {
    std::ifstream in(file(name));
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

 private:
  std::string path_;
};

inline bool haveProgram(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace peer
