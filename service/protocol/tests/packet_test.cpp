// Message packets laid out by hand and decoded.
#include "service/protocol/packet.h"

#include <gtest/gtest.h>

namespace {

using namespace hv::svc;
using Bytes = std::vector<uint8_t>;

Bytes headerPart(const hv::MessageHeader& h) {
  return Bytes(h.bytes().begin(), h.bytes().begin() + headerPartSize(h.recipients()));
}
void be32(Bytes& b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(uint8_t(v >> s));
}

hv::MessageHeader smsHeader() {
  hv::MessageHeader h(1);
  h.setServiceCode("SMS");
  h.setContentClass("TEXTG");
  h.setRecipient(0, "13900000000");
  h.setSender("13800138000");
  h.setModel("standard");
  h.setContentKind("sms_text");
  h.setContentType("TXT");
  return h;
}

TEST(PacketDecode, TextMessageWithTwoTexts) {
  Bytes p = headerPart(smsHeader());
  ASSERT_EQ(p.size(), 152u);
  be32(p, 1 + 3 + 2);  // T: count byte, then 1+2 and 1+1
  p.insert(p.end(), {2, 2, 'h', 'i', 1, '!'});
  auto d = decodeMessagePacket(p);
  ASSERT_EQ(d.error, PacketError::None) << describe(d.error);
  EXPECT_EQ(d.packet->texts, (std::vector<std::string>{"hi", "!"}));
  EXPECT_EQ(d.packet->recipients, (std::vector<std::string>{"13900000000"}));
  EXPECT_EQ(d.packet->sender, "13800138000");
  EXPECT_EQ(d.packet->contentKind, "sms_text");
}

TEST(PacketDecode, TextSectionSizeMustMatch) {
  Bytes p = headerPart(smsHeader());
  be32(p, 5);
  p.insert(p.end(), {2, 2, 'h', 'i', 1});  // the second text is cut
  EXPECT_EQ(decodeMessagePacket(p).error, PacketError::TextSectionMismatch);
}

TEST(PacketDecode, TextLimits) {
  Bytes p = headerPart(smsHeader());
  be32(p, 1 + 162);
  p.push_back(1);
  p.push_back(161);
  p.insert(p.end(), 161, 'x');
  EXPECT_EQ(decodeMessagePacket(p).error, PacketError::TextTooLong);

  Bytes q = headerPart(smsHeader());
  be32(q, 1 + 16 * 2);
  q.push_back(16);
  for (int i = 0; i < 16; ++i) q.insert(q.end(), {1, 'a'});
  EXPECT_EQ(decodeMessagePacket(q).error, PacketError::TooManyTexts);
}

TEST(PacketDecode, PackedMessageFileContentIsSplitIntoShortMessages) {
  hv::MessageHeader h(2);
  h.setServiceCode("WAP");
  h.setContentClass("IMAGE");
  h.setRecipient(0, "1");
  h.setRecipient(1, "2");
  Bytes content = {2, 0, 0, 0, 3, 0, 0, 0, 0xAA, 0xBB, 0xCC, 0, 1, 0, 0, 0, 0x55, 0};
  Bytes p = headerPart(h);
  EXPECT_EQ(p.size(), 172u);
  be32(p, uint32_t(content.size()));
  p.insert(p.end(), content.begin(), content.end());
  auto d = decodeMessagePacket(p);
  ASSERT_EQ(d.error, PacketError::None);
  EXPECT_EQ(d.packet->content, content);
  ASSERT_EQ(d.packet->shortMessages.size(), 2u);
  EXPECT_EQ(d.packet->shortMessages[0], (Bytes{0xAA, 0xBB, 0xCC}));
  EXPECT_EQ(d.packet->shortMessages[1], (Bytes{0x55}));
}

TEST(PacketDecode, AttachmentDescriptorAndFile) {
  hv::MessageHeader h(1, 1);
  h.setServiceCode("WAP");
  Bytes p = headerPart(h);
  be32(p, 2);
  p.insert(p.end(), {'o', 'k'});
  Bytes descriptor(44, 0x11);
  p.insert(p.end(), descriptor.begin(), descriptor.end());
  be32(p, 3);
  p.insert(p.end(), {1, 2, 3});
  auto d = decodeMessagePacket(p);
  ASSERT_EQ(d.error, PacketError::None) << describe(d.error);
  EXPECT_EQ(d.packet->attachmentType, 1);
  EXPECT_EQ(d.packet->descriptor, descriptor);
  EXPECT_EQ(d.packet->attachment, (Bytes{1, 2, 3}));
  EXPECT_TRUE(d.packet->shortMessages.empty());

  p.push_back(0);
  EXPECT_EQ(decodeMessagePacket(p).error, PacketError::TrailingBytes);
  p.resize(p.size() - 3);
  EXPECT_EQ(decodeMessagePacket(p).error, PacketError::ShortAttachment);
}

TEST(PacketDecode, MalformedHeaders) {
  EXPECT_EQ(decodeMessagePacket(Bytes(10, 0)).error, PacketError::ShortHeader);
  Bytes p(152, 0);
  p[18] = 1;
  p[151] = 3;
  EXPECT_EQ(decodeMessagePacket(p).error, PacketError::BadAttachmentType);
  p[151] = 0;
  EXPECT_EQ(decodeMessagePacket(p).error, PacketError::ShortContent);
  Bytes cut(p.begin(), p.begin() + 151);
  EXPECT_EQ(decodeMessagePacket(cut).error, PacketError::ShortHeader);
}

TEST(PacketErrors, EveryErrorHasItsText) {
  for (auto e :
       {PacketError::None, PacketError::ShortHeader, PacketError::BadAttachmentType,
        PacketError::ShortContent, PacketError::TooManyTexts, PacketError::TextTooLong,
        PacketError::TextSectionMismatch, PacketError::ShortAttachment, PacketError::TrailingBytes})
    EXPECT_STRNE(describe(e), "unknown error");
}

}  // namespace
