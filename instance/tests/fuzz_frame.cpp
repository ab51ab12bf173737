// The first instance's reading of a frame from a later start: any bytes, then the end of the
// connection.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

#include "instance/channel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) return 0;
  // Keep inputs within one socket buffer so that writing never waits for the reader.
  const size_t n = size < 65536 ? size : 65536;
  if (n > 0 && ::write(sv[1], data, n) != ssize_t(n)) {
    ::close(sv[0]);
    ::close(sv[1]);
    return 0;
  }
  ::shutdown(sv[1], SHUT_WR);
  auto frame = hv::onlyone::readFrame(sv[0], std::chrono::milliseconds(50));
  if (frame && frame->bytes.size() != frame->header.length) __builtin_trap();
  ::close(sv[0]);
  ::close(sv[1]);
  return 0;
}
