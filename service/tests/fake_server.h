#pragma once
// A scripted peer for the client's tests: listens on 127.0.0.1 (port 0, read back) and runs a
// handler for each accepted connection, one after another, on its own thread.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

namespace hv::svc::testing {

using Bytes = std::vector<uint8_t>;

// Reads exactly n bytes within 5 s; fewer when the peer closed or the time ran out.
inline Bytes readBytes(int fd, size_t n) {
  Bytes out(n);
  size_t got = 0;
  while (got < n) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 5000) <= 0) break;
    ssize_t r = ::recv(fd, out.data() + got, n - got, 0);
    if (r <= 0) break;
    got += size_t(r);
  }
  out.resize(got);
  return out;
}
// Waits until the client closes the connection (at most 30 s): a server that answers no more.
inline void waitForClose(int fd) {
  uint8_t b[256];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 30000) <= 0 || ::recv(fd, b, sizeof b, 0) <= 0) return;
  }
}
inline void writeBytes(int fd, const Bytes& b) {
  (void)!::send(fd, b.data(), b.size(), MSG_NOSIGNAL);
}
inline uint32_t be32(const Bytes& b, size_t off) {
  return uint32_t(b[off]) << 24 | uint32_t(b[off + 1]) << 16 | uint32_t(b[off + 2]) << 8 |
         b[off + 3];
}
inline void appendBe32(Bytes& b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(uint8_t(v >> s));
}
// Reads one request: the length word and the rest it announces (at most `limit` bytes).
inline Bytes readRequest(int fd, size_t limit = 1 << 20) {
  Bytes head = readBytes(fd, 4);
  if (head.size() < 4) return head;
  size_t length = be32(head, 0);
  if (length < 4 || length > limit) return head;
  Bytes rest = readBytes(fd, length - 4);
  head.insert(head.end(), rest.begin(), rest.end());
  return head;
}

// A port on 127.0.0.1 that refuses connections for as long as the object lives: bound but not
// listening, so no other program can be given it meanwhile.
class ClosedPort {
 public:
  ClosedPort() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  ~ClosedPort() { ::close(fd_); }
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

class FakeServer {
 public:
  using Handler = std::function<void(int fd)>;
  explicit FakeServer(Handler handler) : handler_(std::move(handler)) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd_, 16);
    socklen_t len = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { loop(); });
  }
  ~FakeServer() {
    stop_ = true;
    thread_.join();
    ::close(fd_);
  }
  int port() const { return port_; }
  int connections() const { return connections_.load(); }

 private:
  void loop() {
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      int c = ::accept(fd_, nullptr, nullptr);
      if (c < 0) continue;
      ++connections_;
      handler_(c);
      ::close(c);
    }
  }
  Handler handler_;
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::thread thread_;
};

}  // namespace hv::svc::testing
