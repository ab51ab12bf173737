#pragma once
// The message packet that follows the ticket in an upload:
//   header      the first 132 + 20N bytes of the request header (through the attachment type)
//   content     "SMS": T (4), then M' (1) and per text L (1) and L bytes, T = 1 + sum(L + 1);
//               any other service code: S (4), then S bytes
//   attachment  types 1 and 2: the 44-byte descriptor; type 1: F (4), then F file bytes
// Words are big-endian.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "include/handvane/records.h"

namespace hv::svc {

// Bytes of the header part for N recipients (through the attachment type byte).
constexpr size_t headerPartSize(size_t recipients) {
  return header::attachType(recipients) + 1;
}

enum class PacketError {
  None,
  ShortHeader,
  BadAttachmentType,
  ShortContent,
  TooManyTexts,
  TextTooLong,
  TextSectionMismatch,
  ShortAttachment,
  TrailingBytes,
};
const char* describe(PacketError e);

struct DecodedPacket {
  // The header widened to its full size for the attachment type (descriptor and path zero).
  std::vector<uint8_t> header;
  std::string serviceCode, contentClass, sender, model, contentKind, contentType;
  std::vector<std::string> recipients;
  int attachmentType = 0;
  std::vector<std::string> texts;  // "SMS" only
  std::vector<uint8_t> content;    // other service codes
  // The short messages of a content block that is a packed message file (count, then per
  // message a length, the bytes and a 0; little-endian), else empty.
  std::vector<std::vector<uint8_t>> shortMessages;
  std::vector<uint8_t> descriptor;  // attachment types 1 and 2
  std::vector<uint8_t> attachment;  // attachment type 1
};

struct PacketDecode {
  PacketError error = PacketError::None;
  std::optional<DecodedPacket> packet;
};
PacketDecode decodeMessagePacket(std::span<const uint8_t> packet);

// The messages of a packed message file; nullopt unless the block is exactly one.
std::optional<std::vector<std::vector<uint8_t>>> decodePackedMessages(
    std::span<const uint8_t> block);

}  // namespace hv::svc
