// Netkit's cost over the bare system calls on loopback:
//   RoundTrip: connect, send 64 bytes, receive the 64-byte echo, close.
//   Upload / Download: one 1 MiB transfer on an open connection (send + 1-byte ack, or a 1-byte
//   request + recv_size of the whole MiB).
// The "Bare" variants do the same work as Netkit does it (non-blocking socket, poll before each
// transfer); "Blocking" is plain blocking calls, for reference. "Paired" runs both in turn.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <thread>
#include <vector>

#include "transport/netkit.h"

namespace {

constexpr size_t kMessage = 64;
constexpr size_t kBulk = 1 << 20;

bool readAll(int fd, char* p, size_t n) {
  while (n) {
    ssize_t r = ::recv(fd, p, n, 0);
    if (r <= 0) return false;
    p += r;
    n -= size_t(r);
  }
  return true;
}
bool writeAll(int fd, const char* p, size_t n) {
  while (n) {
    ssize_t r = ::send(fd, p, n, MSG_NOSIGNAL);
    if (r <= 0) return false;
    p += r;
    n -= size_t(r);
  }
  return true;
}

// Loopback server: mode 'e' echoes 64-byte messages, 'u' acks each received MiB with one byte,
// 'd' answers each 1-byte request with a MiB.
class Server {
 public:
  explicit Server(char mode) : mode_(mode) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    ::listen(fd_, 128);
    socklen_t len = sizeof sa;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len);
    port_ = ntohs(sa.sin_port);
    thread_ = std::thread([this] { run(); });
  }
  ~Server() {
    stop_ = true;
    thread_.join();
    ::close(fd_);
  }
  int port() const { return port_; }

 private:
  void run() {
    std::vector<char> buf(kBulk);
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      int c = ::accept(fd_, nullptr, nullptr);
      if (c < 0) continue;
      int on = 1;
      setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      for (;;) {
        if (mode_ == 'e') {
          if (!readAll(c, buf.data(), kMessage) || !writeAll(c, buf.data(), kMessage)) break;
        } else if (mode_ == 'u') {
          if (!readAll(c, buf.data(), kBulk) || !writeAll(c, "k", 1)) break;
        } else {
          if (!readAll(c, buf.data(), 1) || !writeAll(c, buf.data(), kBulk)) break;
        }
      }
      ::close(c);
    }
  }
  char mode_;
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

sockaddr_in target(int port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(uint16_t(port));
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return sa;
}

bool waitFd(int fd, short events) {
  pollfd p{fd, events, 0};
  return ::poll(&p, 1, 5000) == 1;
}

// The bare non-blocking loop: what Netkit does, without the class.
int bareConnect(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, IPPROTO_TCP);
  sockaddr_in sa = target(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 && errno != EINPROGRESS) {
    ::close(fd);
    return -1;
  }
  int err = 0;
  socklen_t len = sizeof err;
  if (!waitFd(fd, POLLOUT) || getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err) {
    ::close(fd);
    return -1;
  }
  return fd;
}
bool bareSend(int fd, const char* p, size_t n) {
  while (n) {
    if (!waitFd(fd, POLLOUT)) return false;
    ssize_t r = ::send(fd, p, n, MSG_NOSIGNAL);
    if (r < 0 && errno != EAGAIN) return false;
    if (r > 0) {
      p += r;
      n -= size_t(r);
    }
  }
  return true;
}
bool bareRecv(int fd, char* p, size_t n) {
  while (n) {
    if (!waitFd(fd, POLLIN)) return false;
    ssize_t r = ::recv(fd, p, n, 0);
    if (r == 0 || (r < 0 && errno != EAGAIN)) return false;
    if (r > 0) {
      p += r;
      n -= size_t(r);
    }
  }
  return true;
}

void RoundTripNetkit(benchmark::State& state) {
  Server server('e');
  char msg[kMessage] = {}, back[kMessage];
  for (auto _ : state) {
    CNetkit s;
    if (s.connect("127.0.0.1", server.port(), 5000) != 0 ||
        s.send(msg, int(kMessage), 5000) != int(kMessage) ||
        s.recv_size(back, int(kMessage), 5000) != int(kMessage)) {
      state.SkipWithError("round trip failed");
      break;
    }
  }
}

void RoundTripBare(benchmark::State& state) {
  Server server('e');
  char msg[kMessage] = {}, back[kMessage];
  for (auto _ : state) {
    int fd = bareConnect(server.port());
    bool ok = fd >= 0 && bareSend(fd, msg, kMessage) && bareRecv(fd, back, kMessage);
    if (fd >= 0) ::close(fd);
    if (!ok) {
      state.SkipWithError("round trip failed");
      break;
    }
  }
}

void RoundTripBlocking(benchmark::State& state) {
  Server server('e');
  char msg[kMessage] = {}, back[kMessage];
  for (auto _ : state) {
    int fd = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in sa = target(server.port());
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
              writeAll(fd, msg, kMessage) && readAll(fd, back, kMessage);
    ::close(fd);
    if (!ok) {
      state.SkipWithError("round trip failed");
      break;
    }
  }
}

void UploadNetkit(benchmark::State& state) {
  Server server('u');
  std::vector<char> data(kBulk, 'x');
  CNetkit s;
  if (s.connect("127.0.0.1", server.port(), 5000) != 0) state.SkipWithError("connect failed");
  char ack;
  for (auto _ : state) {
    if (s.send(data.data(), int(kBulk), 5000) != int(kBulk) || s.recv_size(&ack, 1, 5000) != 1) {
      state.SkipWithError("upload failed");
      break;
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBulk));
}

void UploadBare(benchmark::State& state) {
  Server server('u');
  std::vector<char> data(kBulk, 'x');
  int fd = bareConnect(server.port());
  char ack;
  for (auto _ : state) {
    if (!bareSend(fd, data.data(), kBulk) || !bareRecv(fd, &ack, 1)) {
      state.SkipWithError("upload failed");
      break;
    }
  }
  ::close(fd);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBulk));
}

void DownloadNetkit(benchmark::State& state) {
  Server server('d');
  std::vector<char> data(kBulk);
  CNetkit s;
  if (s.connect("127.0.0.1", server.port(), 5000) != 0) state.SkipWithError("connect failed");
  for (auto _ : state) {
    if (s.send("r", 1, 5000) != 1 || s.recv_size(data.data(), int(kBulk), 5000) != int(kBulk)) {
      state.SkipWithError("download failed");
      break;
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBulk));
}

void DownloadBare(benchmark::State& state) {
  Server server('d');
  std::vector<char> data(kBulk);
  int fd = bareConnect(server.port());
  for (auto _ : state) {
    if (!bareSend(fd, "r", 1) || !bareRecv(fd, data.data(), kBulk)) {
      state.SkipWithError("download failed");
      break;
    }
  }
  ::close(fd);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBulk));
}

// The machine these run on is shared, so load drifts between separate benchmarks. The paired
// variants run the Netkit step and the bare step back to back in every iteration (alternating
// which goes first) and report each one's mean wall time and mean CPU time of the calling thread
// (which waiting for a busy machine does not inflate), and Netkit's overhead on both in percent.
double threadCpuUs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) * 1e6 + double(ts.tv_nsec) / 1e3;
}

template <typename NetkitStep, typename BareStep>
void paired(benchmark::State& state, NetkitStep netkitStep, BareStep bareStep) {
  using Clock = std::chrono::steady_clock;
  double wall[2] = {}, cpu[2] = {};  // [0] Netkit, [1] bare
  bool netkitFirst = true;
  for (auto _ : state) {
    for (int round = 0; round < 2; ++round) {
      const int which = (round == 0) == netkitFirst ? 0 : 1;
      const auto start = Clock::now();
      const double cpuStart = threadCpuUs();
      if (!(which == 0 ? netkitStep() : bareStep())) {
        state.SkipWithError("transfer failed");
        return;
      }
      cpu[which] += threadCpuUs() - cpuStart;
      wall[which] += std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    }
    netkitFirst = !netkitFirst;
  }
  const double n = double(state.iterations());
  state.counters["netkit_us"] = wall[0] / n;
  state.counters["bare_us"] = wall[1] / n;
  state.counters["overhead_pct"] = (wall[0] / wall[1] - 1) * 100;
  state.counters["netkit_cpu_us"] = cpu[0] / n;
  state.counters["bare_cpu_us"] = cpu[1] / n;
  state.counters["cpu_overhead_pct"] = (cpu[0] / cpu[1] - 1) * 100;
}

void PairedRoundTrip(benchmark::State& state) {
  Server server('e');
  char msg[kMessage] = {}, back[kMessage];
  paired(
      state,
      [&] {
        CNetkit s;
        return s.connect("127.0.0.1", server.port(), 5000) == 0 &&
               s.send(msg, int(kMessage), 5000) == int(kMessage) &&
               s.recv_size(back, int(kMessage), 5000) == int(kMessage);
      },
      [&] {
        int fd = bareConnect(server.port());
        bool ok = fd >= 0 && bareSend(fd, msg, kMessage) && bareRecv(fd, back, kMessage);
        if (fd >= 0) ::close(fd);
        return ok;
      });
}

void PairedUpload(benchmark::State& state) {
  Server netkitServer('u'), bareServer('u');
  std::vector<char> data(kBulk, 'x');
  CNetkit s;
  int fd = bareConnect(bareServer.port());
  if (s.connect("127.0.0.1", netkitServer.port(), 5000) != 0 || fd < 0) {
    state.SkipWithError("connect failed");
    return;
  }
  char ack;
  paired(
      state,
      [&] {
        return s.send(data.data(), int(kBulk), 5000) == int(kBulk) &&
               s.recv_size(&ack, 1, 5000) == 1;
      },
      [&] { return bareSend(fd, data.data(), kBulk) && bareRecv(fd, &ack, 1); });
  ::close(fd);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(2 * kBulk));
}

void PairedDownload(benchmark::State& state) {
  Server netkitServer('d'), bareServer('d');
  std::vector<char> data(kBulk);
  CNetkit s;
  int fd = bareConnect(bareServer.port());
  if (s.connect("127.0.0.1", netkitServer.port(), 5000) != 0 || fd < 0) {
    state.SkipWithError("connect failed");
    return;
  }
  paired(
      state,
      [&] {
        return s.send("r", 1, 5000) == 1 &&
               s.recv_size(data.data(), int(kBulk), 5000) == int(kBulk);
      },
      [&] { return bareSend(fd, "r", 1) && bareRecv(fd, data.data(), kBulk); });
  ::close(fd);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(2 * kBulk));
}

BENCHMARK(RoundTripNetkit)->UseRealTime();
BENCHMARK(RoundTripBare)->UseRealTime();
BENCHMARK(RoundTripBlocking)->UseRealTime();
BENCHMARK(UploadNetkit)->UseRealTime();
BENCHMARK(UploadBare)->UseRealTime();
BENCHMARK(DownloadNetkit)->UseRealTime();
BENCHMARK(DownloadBare)->UseRealTime();
BENCHMARK(PairedRoundTrip)->UseRealTime();
BENCHMARK(PairedUpload)->UseRealTime();
BENCHMARK(PairedDownload)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
