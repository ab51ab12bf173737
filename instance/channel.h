#pragma once
// The channel's socket layer: where a name's socket lives, deciding first or later instance, and
// the frame that carries a later start's bytes.
//
// Frame, later start to first instance:
//   "HVO1" | kind (uint32 LE) | length (uint32 LE) | length bytes
// Answer, first instance to later start, once the receiving window handled the data:
//   one byte: 'D' delivered, 'N' no window to deliver to.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "instance/onlyone.h"

namespace hv::onlyone {

using Clock = std::chrono::steady_clock;

inline constexpr char kFrameMagic[4] = {'H', 'V', 'O', '1'};
inline constexpr size_t kFrameHeaderSize = 12;
inline constexpr char kAnswerDelivered = 'D';
inline constexpr char kAnswerNoWindow = 'N';

// A file descriptor that closes itself.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& o) noexcept : fd_(o.release()) {}
  Fd& operator=(Fd&& o) noexcept;
  ~Fd();
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() {
    int f = fd_;
    fd_ = -1;
    return f;
  }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// The socket and lock file of a name: "<folder>onlyone-<uid>-<name>.sock" and ".lock", where the
// name keeps [A-Za-z0-9._-] and writes any other byte as "%XX"; a name whose encoding passes 64
// characters keeps its first 40 and adds "~" and a 64-bit FNV-1a digest of the whole name in hex.
struct ChannelPaths {
  std::string socket;
  std::string lock;
};
std::string encodeName(std::string_view name);
// Paths in the given folder (a file-system path ending in "/"); NameTooLong when the socket path
// does not fit sockaddr_un.
std::variant<ChannelPaths, Error> channelPaths(const std::string& folder, std::string_view name);
// The user's private runtime folder as a file-system path ending in "/" (platform/fs.h
// tempDirectory); nullopt when it cannot be used.
std::optional<std::string> privateFolder();

// The outcome of deciding first or later instance.
struct Decision {
  Fd listener;       // set for the first instance: bound and listening
  dev_t device = 0;  // the socket file the first instance created
  ino_t inode = 0;
  bool first = false;
};
// Takes the name's lock (waiting at most lockWait), then binds the socket: a bind that succeeds
// makes the first instance; a socket file that accepts connections means another instance; one
// that refuses them is left from an instance that died and is replaced.
std::variant<Decision, Error> decide(const ChannelPaths& paths, std::chrono::milliseconds lockWait);

struct FrameHeader {
  uint32_t kind;
  uint32_t length;
};
// Reads a frame header from exactly kFrameHeaderSize bytes; nullopt for a wrong magic or a length
// above kMaxDataLength.
std::optional<FrameHeader> parseFrameHeader(const uint8_t* bytes);
std::vector<uint8_t> frameHeader(uint32_t kind, uint32_t length);

enum class IoResult { Done, Closed, TimedOut, Failed };
// Reads exactly size bytes. Gives up when the deadline passes, or when no byte arrives for `idle`.
IoResult readFull(int fd, uint8_t* out, size_t size, Clock::time_point deadline,
                  std::chrono::milliseconds idle = std::chrono::milliseconds::max());
// Writes all bytes (without SIGPIPE), waiting at most until the deadline.
IoResult writeFull(int fd, const uint8_t* data, size_t size, Clock::time_point deadline);

struct Frame {
  FrameHeader header;
  std::vector<uint8_t> bytes;
};
// Reads one whole frame; each part must arrive within `idle` of the previous one. nullopt for a
// connection that closed early, stalled or sent something that is not a frame.
std::optional<Frame> readFrame(int fd, std::chrono::milliseconds idle);

// Connects to the socket, waiting while its queue is full until the deadline. Closed when nobody
// listens there (refused or no such file), Failed for other errors.
std::variant<Fd, IoResult> connectTo(const std::string& socketPath, Clock::time_point deadline);
// The user id of the process at the other end of a connected socket, or -1.
long peerUid(int fd);

}  // namespace hv::onlyone
