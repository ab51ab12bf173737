#include "include/handvane/records.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(MessageHeader, SizesFollowRecipientsAndAttachmentType) {
  EXPECT_EQ(hv::header::size(1, 0), 152u);
  EXPECT_EQ(hv::header::size(3, 0), 192u);
  EXPECT_EQ(hv::header::size(1, 2), 196u);
  EXPECT_EQ(hv::header::size(1, 1), 452u);
  EXPECT_EQ(hv::header::size(1, 3), 0u);
}

TEST(MessageHeader, FieldsLieAtTheirOffsets) {
  hv::MessageHeader h(2);
  h.setLaunchTag("TAG");
  h.setServiceCode("SMS");
  h.setContentClass("TEXTG");
  h.setRecipient(0, "13800138000");
  h.setRecipient(1, "13900139000");
  h.setSender("13700137000");
  h.setModel("standard");
  h.setContentKind("sms_text");
  h.setContentType("TXT");
  ASSERT_EQ(h.size(), 172u);
  const uint8_t* b = h.data();
  EXPECT_EQ(std::memcmp(b + 0, "TAG\0\0\0\0\0\0\0", 10), 0);
  EXPECT_EQ(std::memcmp(b + 10, "SMS", 3), 0);
  EXPECT_EQ(std::memcmp(b + 13, "TEXTG", 5), 0);
  EXPECT_EQ(b[18], 2);
  EXPECT_EQ(std::memcmp(b + 19, "13800138000", 12), 0);  // with its NUL
  EXPECT_EQ(std::memcmp(b + 39, "13900139000", 12), 0);
  EXPECT_EQ(std::memcmp(b + 59, "13700137000", 12), 0);
  EXPECT_EQ(std::memcmp(b + 79, "standard", 9), 0);
  EXPECT_EQ(std::memcmp(b + 119, "sms_text", 9), 0);
  EXPECT_EQ(std::memcmp(b + 159, "00000000", 8), 0);
  EXPECT_EQ(std::memcmp(b + 167, "TXT", 4), 0);
  EXPECT_EQ(b[171], 0);  // attachment type

  auto parsed = hv::MessageHeader::parse(h.bytes());
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->recipient(1), "13900139000");
  EXPECT_EQ(parsed->contentKind(), "sms_text");
  EXPECT_EQ(parsed->sender(), "13700137000");
}

TEST(MessageHeader, OverlongTextFillsItsFieldAndNoMore) {
  hv::MessageHeader h(1);
  h.setServiceCode("SMSX");
  h.setContentClass("IMAGE");
  EXPECT_EQ(h.serviceCode(), "SMS");
  EXPECT_EQ(h.contentClass(), "IMAGE");
  EXPECT_EQ(h.data()[18], 1);  // the recipient count after the content class is untouched
}

TEST(MessageHeader, NumbersAndNamesKeepATerminatorAndWholeCharacters) {
  hv::MessageHeader h(1);
  h.setRecipient(0, std::string(25, '9'));
  h.setSender("12345678901234567890");
  // The model name's 39 bytes would end inside the twentieth two-byte character: 19 are kept.
  std::string wide;
  for (int i = 0; i < 25; ++i) wide += "\xC5\xB5";
  h.setModel(wide);
  h.setContentKind(std::string(40, 'k'));
  EXPECT_EQ(h.recipient(0), std::string(19, '9'));
  EXPECT_EQ(h.data()[19 + 19], 0);
  EXPECT_EQ(h.sender(), "1234567890123456789");
  EXPECT_EQ(h.model(), wide.substr(0, 38));
  EXPECT_EQ(h.contentKind(), std::string(39, 'k'));
  // The short code fields are read by width and may be filled whole.
  h.setContentClass("TEXTG");
  EXPECT_EQ(h.contentClass(), "TEXTG");
  // A cut never splits a character of the launch tag either.
  h.setLaunchTag("abcdefghi\xC5\xB5");
  EXPECT_EQ(h.launchTag(), "abcdefghi");
}

TEST(MessageHeader, ParseRefusesShortBlocksAndUnknownAttachmentTypes) {
  hv::MessageHeader h(1, 1);
  auto bytes = h.bytes();
  EXPECT_TRUE(hv::MessageHeader::parse(bytes));
  bytes.pop_back();
  EXPECT_FALSE(hv::MessageHeader::parse(bytes));
  std::vector<uint8_t> bad(hv::MessageHeader(1).bytes());
  bad[hv::header::attachType(1)] = 7;
  EXPECT_FALSE(hv::MessageHeader::parse(bad));
  EXPECT_FALSE(hv::MessageHeader::parse({}));
}

TEST(TextBatch, LayoutIsLittleEndianWithTerminators) {
  auto b = hv::encodeTextBatch({"ab", ""});
  std::vector<uint8_t> expected = {2, 0, 0, 0, 2, 0, 0, 0, 'a', 'b', 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(b, expected);
  auto back = hv::decodeTextBatch(b);
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, (std::vector<std::string>{"ab", ""}));
}

TEST(TextBatch, DecodeRefusesMalformedBlocks) {
  auto b = hv::encodeTextBatch({"hello"});
  auto missingNul = b;
  missingNul.back() = 'x';
  EXPECT_FALSE(hv::decodeTextBatch(missingNul));
  auto trailing = b;
  trailing.push_back(0);
  EXPECT_FALSE(hv::decodeTextBatch(trailing));
  auto hugeCount = b;
  hugeCount[3] = 0x7F;
  EXPECT_FALSE(hv::decodeTextBatch(hugeCount));
  auto hugeLength = b;
  hugeLength[7] = 0x10;
  EXPECT_FALSE(hv::decodeTextBatch(hugeLength));
}

TEST(RecordFields, CopyCutsOnCharacterBoundaryAndZeroFills) {
  hv::FriendRecord r;
  std::memset(&r, 0x55, sizeof r);
  // 12-byte field: 11 bytes of text at most; "1" + five double-byte characters is 11 bytes,
  // "12" + five is 12 and must lose its last character.
  std::string five = "\xD6\xD0\xD6\xD0\xD6\xD0\xD6\xD0\xD6\xD0";
  hv::copyField(r.mobilenum, "12" + five);
  EXPECT_EQ(hv::fieldText(r.mobilenum), "12" + five.substr(0, 8));
  EXPECT_EQ(r.mobilenum[10], 0);
  EXPECT_EQ(r.mobilenum[11], 0);
  EXPECT_EQ(r.mobiletype[0], 0x55);  // the next field is untouched
  hv::copyField(r.sex, "m");
  EXPECT_EQ(std::string(r.sex, 10), std::string("m\0\0\0\0\0\0\0\0\0", 10));
}

}  // namespace
