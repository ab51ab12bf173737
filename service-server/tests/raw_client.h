#pragma once
// A blocking loopback client that sends hand-built bytes, optionally from another loopback
// source address (127.0.0.2, ...) so that tests can play several peers.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

namespace hv::service::probe {

using Bytes = std::vector<uint8_t>;

class RawClient {
 public:
  explicit RawClient(int port, const char* source = nullptr, int receiveTimeoutMs = 5000) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (source) {
      sockaddr_in s{};
      s.sin_family = AF_INET;
      inet_pton(AF_INET, source, &s.sin_addr);
      ::bind(fd_, reinterpret_cast<sockaddr*>(&s), sizeof s);
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval tv{receiveTimeoutMs / 1000, (receiveTimeoutMs % 1000) * 1000};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  ~RawClient() {
    if (fd_ >= 0) ::close(fd_);
  }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;
  bool connected() const { return connected_; }
  bool send(const Bytes& b) {
    return ::send(fd_, b.data(), b.size(), MSG_NOSIGNAL) == ssize_t(b.size());
  }
  // Exactly n bytes, or what arrived before the peer closed or the receive time-out.
  Bytes recv(size_t n) {
    Bytes out(n);
    size_t got = 0;
    while (got < n) {
      ssize_t r = ::recv(fd_, out.data() + got, n - got, 0);
      if (r <= 0) break;
      got += size_t(r);
    }
    out.resize(got);
    return out;
  }
  // True when the peer closed (reads end of stream) within the receive time-out.
  bool closedByPeer() {
    uint8_t b;
    return ::recv(fd_, &b, 1, 0) == 0;
  }
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
  bool connected_ = false;
};

}  // namespace hv::service::probe
