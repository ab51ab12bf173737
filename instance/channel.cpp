#include "instance/channel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "include/handvane/byteorder.h"
#include "platform/fs.h"

namespace hv::onlyone {

using namespace std::chrono_literals;

Fd& Fd::operator=(Fd&& o) noexcept {
  if (this != &o) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = o.release();
  }
  return *this;
}

Fd::~Fd() {
  if (fd_ >= 0) ::close(fd_);
}

namespace {

bool plainNameByte(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '_' || c == '-';
}

uint64_t fnv1a64(std::string_view s) {
  uint64_t h = 14695981039346656037ull;
  for (unsigned char c : s) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

sockaddr_un addressOf(const std::string& path) {
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::memcpy(a.sun_path, path.data(), path.size());  // channelPaths checked that it fits
  return a;
}

// Milliseconds left until the deadline for poll (at least 0, at most about a day).
int msUntil(Clock::time_point deadline) {
  if (deadline == Clock::time_point::max()) return -1;
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  if (left <= 0ms) return 0;
  return int(std::min<int64_t>(left.count(), 86'400'000));
}

// Waits for the event; false when the deadline passed first.
bool waitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    int n = ::poll(&p, 1, msUntil(deadline));
    if (n > 0) return true;
    if (n == 0) return false;
    if (errno != EINTR) return true;  // let the following call report the error
  }
}

std::variant<Fd, Error> takeLock(const std::string& path, std::chrono::milliseconds wait) {
  Fd lock(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!lock) return Error::SystemError;
  const auto until = Clock::now() + wait;
  while (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) return Error::SystemError;
    if (Clock::now() >= until) return Error::Busy;
    std::this_thread::sleep_for(5ms);
  }
  return lock;
}

enum class Probe { Alive, Refused, Missing, Failed };

// One connection attempt that never waits: a full queue still means someone listens.
Probe probe(const std::string& path) {
  Fd s(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!s) return Probe::Failed;
  const sockaddr_un a = addressOf(path);
  if (::connect(s.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) return Probe::Alive;
  switch (errno) {
    case EAGAIN:
      return Probe::Alive;
    case ECONNREFUSED:
      return Probe::Refused;
    case ENOENT:
      return Probe::Missing;
    default:
      return Probe::Failed;
  }
}

}  // namespace

std::string encodeName(std::string_view name) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : name) {
    if (plainNameByte(c)) {
      out += char(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  if (out.size() <= 64) return out;
  char digest[17];
  std::snprintf(digest, sizeof digest, "%016llx", static_cast<unsigned long long>(fnv1a64(name)));
  return out.substr(0, 40) + "~" + digest;
}

std::variant<ChannelPaths, Error> channelPaths(const std::string& folder, std::string_view name) {
  const std::string base =
      folder + "onlyone-" + std::to_string(::getuid()) + "-" + encodeName(name);
  ChannelPaths p{base + ".sock", base + ".lock"};
  if (p.socket.size() >= sizeof(sockaddr_un::sun_path)) return Error::NameTooLong;
  return p;
}

std::optional<std::string> privateFolder() {
  const std::string dir = fs::tempDirectory();
  if (dir.empty()) return std::nullopt;
  return fs::osPath(dir);
}

std::variant<Decision, Error> decide(const ChannelPaths& paths,
                                     std::chrono::milliseconds lockWait) {
  auto lock = takeLock(paths.lock, lockWait);
  if (auto* e = std::get_if<Error>(&lock)) return *e;
  // Held until this returns: no other start binds, probes or removes the socket meanwhile.
  for (int attempt = 0; attempt < 4; ++attempt) {
    Fd s(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!s) return Error::SystemError;
    const sockaddr_un a = addressOf(paths.socket);
    if (::bind(s.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) {
      struct stat st;
      if (::listen(s.get(), 64) != 0 || ::stat(paths.socket.c_str(), &st) != 0) {
        ::unlink(paths.socket.c_str());
        return Error::SystemError;
      }
      Decision d;
      d.listener = std::move(s);
      d.device = st.st_dev;
      d.inode = st.st_ino;
      d.first = true;
      return d;
    }
    if (errno != EADDRINUSE) return Error::SystemError;
    switch (probe(paths.socket)) {
      case Probe::Alive:
        return Decision{};
      case Probe::Missing:
        continue;
      case Probe::Failed:
        return Error::SystemError;
      case Probe::Refused:
        break;
    }
    // Left by an instance that died. Only a socket of ours is removed.
    struct stat st;
    if (::lstat(paths.socket.c_str(), &st) != 0) continue;
    if (!S_ISSOCK(st.st_mode) || st.st_uid != ::getuid()) return Error::SystemError;
    if (::unlink(paths.socket.c_str()) != 0 && errno != ENOENT) return Error::SystemError;
  }
  return Error::SystemError;
}

std::optional<FrameHeader> parseFrameHeader(const uint8_t* bytes) {
  if (std::memcmp(bytes, kFrameMagic, sizeof kFrameMagic) != 0) return std::nullopt;
  FrameHeader h{loadLe32(bytes + 4), loadLe32(bytes + 8)};
  if (h.length > uint32_t(kMaxDataLength)) return std::nullopt;
  return h;
}

std::vector<uint8_t> frameHeader(uint32_t kind, uint32_t length) {
  std::vector<uint8_t> out(kFrameHeaderSize);
  std::memcpy(out.data(), kFrameMagic, sizeof kFrameMagic);
  storeLe32(out.data() + 4, kind);
  storeLe32(out.data() + 8, length);
  return out;
}

IoResult readFull(int fd, uint8_t* out, size_t size, Clock::time_point deadline,
                  std::chrono::milliseconds idle) {
  const bool idleLimit = idle != std::chrono::milliseconds::max();
  size_t got = 0;
  auto lastProgress = Clock::now();
  while (got < size) {
    const auto until = idleLimit ? std::min(deadline, lastProgress + idle) : deadline;
    if (!waitFor(fd, POLLIN, until)) return IoResult::TimedOut;
    const ssize_t n = ::recv(fd, out + got, size - got, MSG_DONTWAIT);
    if (n > 0) {
      got += size_t(n);
      lastProgress = Clock::now();
    } else if (n == 0) {
      return IoResult::Closed;
    } else if (errno == ECONNRESET) {
      return IoResult::Closed;
    } else if (errno != EAGAIN && errno != EINTR) {
      return IoResult::Failed;
    }
  }
  return IoResult::Done;
}

IoResult writeFull(int fd, const uint8_t* data, size_t size, Clock::time_point deadline) {
  size_t sent = 0;
  while (sent < size) {
    if (!waitFor(fd, POLLOUT, deadline)) return IoResult::TimedOut;
    const ssize_t n = ::send(fd, data + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) {
      sent += size_t(n);
    } else if (errno == EPIPE || errno == ECONNRESET) {
      return IoResult::Closed;
    } else if (errno != EAGAIN && errno != EINTR) {
      return IoResult::Failed;
    }
  }
  return IoResult::Done;
}

std::optional<Frame> readFrame(int fd, std::chrono::milliseconds idle) {
  uint8_t head[kFrameHeaderSize];
  if (readFull(fd, head, sizeof head, Clock::time_point::max(), idle) != IoResult::Done)
    return std::nullopt;
  auto h = parseFrameHeader(head);
  if (!h) return std::nullopt;
  // The buffer grows with what arrives, so that a length alone does not claim the memory.
  constexpr size_t kChunk = 1 << 20;
  Frame f{*h, {}};
  while (f.bytes.size() < h->length) {
    const size_t at = f.bytes.size();
    const size_t n = std::min(kChunk, h->length - at);
    f.bytes.resize(at + n);
    if (readFull(fd, f.bytes.data() + at, n, Clock::time_point::max(), idle) != IoResult::Done)
      return std::nullopt;
  }
  return f;
}

std::variant<Fd, IoResult> connectTo(const std::string& socketPath, Clock::time_point deadline) {
  const sockaddr_un a = addressOf(socketPath);
  for (;;) {
    Fd s(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!s) return IoResult::Failed;
    if (::connect(s.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) return s;
    switch (errno) {
      case ECONNREFUSED:
      case ENOENT:
        return IoResult::Closed;
      case EAGAIN:
      case EINTR:
        // The first instance's queue is full (it is not accepting): wait and try again.
        if (Clock::now() >= deadline) return IoResult::TimedOut;
        std::this_thread::sleep_for(10ms);
        continue;
      default:
        return IoResult::Failed;
    }
  }
}

long peerUid(int fd) {
  ucred cred{};
  socklen_t len = sizeof cred;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return -1;
  return long(cred.uid);
}

}  // namespace hv::onlyone
