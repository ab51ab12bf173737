#include "service/protocol/packet.h"

#include "service/protocol/protocol.h"

namespace hv::svc {

const char* describe(PacketError e) {
  switch (e) {
    case PacketError::None:
      return "no error";
    case PacketError::ShortHeader:
      return "packet shorter than its header";
    case PacketError::BadAttachmentType:
      return "attachment type is not 0, 1 or 2";
    case PacketError::ShortContent:
      return "content runs past the end of the packet";
    case PacketError::TooManyTexts:
      return "more than 15 texts";
    case PacketError::TextTooLong:
      return "a text is longer than 160 bytes";
    case PacketError::TextSectionMismatch:
      return "text section size does not match its texts";
    case PacketError::ShortAttachment:
      return "attachment runs past the end of the packet";
    case PacketError::TrailingBytes:
      return "bytes left after the packet";
  }
  return "unknown error";
}

namespace {

PacketDecode fail(PacketError e) {
  return {e, std::nullopt};
}

std::optional<std::vector<std::string>> decodeTextSection(std::span<const uint8_t> section) {
  WireReader r(section);
  auto count = r.u8();
  if (!count) return std::nullopt;
  std::vector<std::string> texts;
  for (unsigned i = 0; i < *count; ++i) {
    auto length = r.u8();
    if (!length) return std::nullopt;
    auto body = r.bytes(*length);
    if (!body) return std::nullopt;
    texts.emplace_back(body->begin(), body->end());
  }
  if (r.remaining() != 0) return std::nullopt;
  return texts;
}

}  // namespace

std::optional<std::vector<std::vector<uint8_t>>> decodePackedMessages(
    std::span<const uint8_t> block) {
  FileReader r(block);
  auto count = r.u32();
  if (!count || *count == 0 || *count > block.size() / 5) return std::nullopt;
  std::vector<std::vector<uint8_t>> messages;
  for (uint32_t i = 0; i < *count; ++i) {
    auto length = r.u32();
    if (!length || *length >= r.remaining()) return std::nullopt;
    auto body = r.bytes(*length);
    auto terminator = r.u8();
    if (!body || !terminator || *terminator != 0) return std::nullopt;
    messages.emplace_back(body->begin(), body->end());
  }
  if (r.remaining() != 0) return std::nullopt;
  return messages;
}

PacketDecode decodeMessagePacket(std::span<const uint8_t> packet) {
  if (packet.size() <= header::kRecipientCount) return fail(PacketError::ShortHeader);
  size_t n = packet[header::kRecipientCount];
  size_t headerPart = headerPartSize(n);
  if (packet.size() < headerPart) return fail(PacketError::ShortHeader);
  int attachmentType = packet[header::attachType(n)];
  size_t fullSize = header::size(n, attachmentType);
  if (fullSize == 0) return fail(PacketError::BadAttachmentType);

  std::vector<uint8_t> widened(fullSize, 0);
  std::copy(packet.begin(), packet.begin() + headerPart, widened.begin());
  auto h = MessageHeader::parse(widened);
  if (!h) return fail(PacketError::ShortHeader);

  DecodedPacket out;
  out.serviceCode = h->serviceCode();
  out.contentClass = h->contentClass();
  out.sender = h->sender();
  out.model = h->model();
  out.contentKind = h->contentKind();
  out.contentType = h->contentType();
  out.attachmentType = attachmentType;
  for (size_t i = 0; i < n; ++i) out.recipients.push_back(h->recipient(i));
  out.header = std::move(widened);

  WireReader r(packet.subspan(headerPart));
  auto size = r.u32();
  if (!size) return fail(PacketError::ShortContent);
  auto body = r.bytes(*size);
  if (!body) return fail(PacketError::ShortContent);
  if (out.serviceCode == "SMS") {
    auto texts = decodeTextSection(*body);
    if (!texts) return fail(PacketError::TextSectionMismatch);
    if (texts->size() > kMaxTexts) return fail(PacketError::TooManyTexts);
    for (const auto& t : *texts)
      if (t.size() > kMaxTextLength) return fail(PacketError::TextTooLong);
    out.texts = std::move(*texts);
  } else {
    out.content.assign(body->begin(), body->end());
    if (auto messages = decodePackedMessages(out.content)) out.shortMessages = std::move(*messages);
  }

  if (attachmentType != 0) {
    auto descriptor = r.bytes(kDescriptorWidth);
    if (!descriptor) return fail(PacketError::ShortAttachment);
    out.descriptor.assign(descriptor->begin(), descriptor->end());
    std::copy(descriptor->begin(), descriptor->end(), out.header.begin() + header::descriptor(n));
  }
  if (attachmentType == 1) {
    auto fileSize = r.u32();
    if (!fileSize) return fail(PacketError::ShortAttachment);
    auto file = r.bytes(*fileSize);
    if (!file) return fail(PacketError::ShortAttachment);
    out.attachment.assign(file->begin(), file->end());
  }
  if (r.remaining() != 0) return fail(PacketError::TrailingBytes);
  return {PacketError::None, std::move(out)};
}

}  // namespace hv::svc
