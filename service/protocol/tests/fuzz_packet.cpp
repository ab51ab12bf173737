// Every parser of what a peer sends: message packets, packed message files, region replies,
// ticket and credential blobs.
#include <cstddef>
#include <cstdint>
#include <span>

#include "cipher/session_cipher.h"
#include "service/protocol/packet.h"
#include "service/protocol/protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> in(data, size);
  auto decoded = hv::svc::decodeMessagePacket(in);
  if (decoded.packet) {
    if (decoded.packet->texts.size() > hv::svc::kMaxTexts) __builtin_trap();
    for (const auto& t : decoded.packet->texts)
      if (t.size() > hv::svc::kMaxTextLength) __builtin_trap();
  } else if (decoded.error == hv::svc::PacketError::None) {
    __builtin_trap();
  }
  hv::svc::decodePackedMessages(in);
  hv::svc::parseRegionInfo(in);
  static const hv::SessionCipher cipher("fuzz");
  hv::svc::openTicketBlob(in, "fuzz");
  hv::svc::openCredentialBlob(in, cipher);
  if (size >= 4) hv::svc::parseReplyHead(in.subspan(4));
  return 0;
}
