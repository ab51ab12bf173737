// Fuzz target: SOCKS replies. The first byte picks the parser: 0 SOCKS4 reply, 1 SOCKS5 reply,
// 2 SOCKS5 UDP relay header.
#include <cstddef>
#include <cstdint>

#include "transport/wire.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  std::span<const uint8_t> reply(data + 1, size - 1);
  netkit::SocksBound bound;
  switch (data[0] % 3) {
    case 0:
      netkit::parseSocks4Reply(reply, &bound);
      break;
    case 1:
      netkit::socks5ReplyLength(reply);
      netkit::parseSocks5Reply(reply, &bound);
      break;
    default:
      netkit::parseSocks5UdpHeader(reply, &bound);
      break;
  }
  return 0;
}
