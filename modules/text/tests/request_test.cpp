// The request header and the content block of text sends, byte for byte against layouts written
// out by hand.
#include "modules/text/core/request.h"

#include <gtest/gtest.h>

#include "modules/text/core/splitting.h"

namespace hv::textport {
namespace {

// text, then zeros up to width.
std::string field(const std::string& text, size_t width) {
  std::string f = text;
  f.resize(width, '\0');
  return f;
}

std::string bytes(const MessageHeader& h) {
  return std::string(h.bytes().begin(), h.bytes().end());
}

TEST(Header, OneRecipientNarrowTextIs152Bytes) {
  const MessageHeader h = buildHeader({"tag", {"13900139000"}, "13800138000", 159, false});
  const std::string expected = field("tag", 10) + "SMS" + "TEXTA" + std::string(1, '\x01') +
                               field("13900139000", 20) + field("13800138000", 20) +
                               field("standard", 40) + field("sms_text", 40) + "00000000" +
                               std::string("TXT\0", 4) + std::string(1, '\0');
  ASSERT_EQ(expected.size(), 152u);
  EXPECT_EQ(bytes(h), expected);
}

TEST(Header, TwoRecipientsFlashWideTextIsTextgFireflag) {
  const MessageHeader h =
      buildHeader({"", {"13900139000", "13700137000"}, "13800138000", 138, true});
  const std::string expected =
      field("", 10) + "SMS" + "TEXTG" + std::string(1, '\x02') + field("13900139000", 20) +
      field("13700137000", 20) + field("13800138000", 20) + field("standard", 40) +
      field("sms_fireflag", 40) + "00000000" + std::string("TXT\0", 4) + std::string(1, '\0');
  ASSERT_EQ(expected.size(), 132u + 40u);
  EXPECT_EQ(bytes(h), expected);
}

TEST(Header, SignedNarrowTextWithNineteenLetterSignatureGoesAsTextg) {
  // 160 - 19 - 1 = 140 units: not more than 140, so "TEXTG" although the text is narrow.
  const Options o{false, true, std::string(19, 's')};
  const Split s = split("hello", o);
  EXPECT_EQ(s.mode, Mode::Narrow);
  EXPECT_EQ(s.capacity, 140);
  EXPECT_EQ(buildHeader({"", {"13900139000"}, "13800138000", s.capacity, false}).contentClass(),
            "TEXTG");
  // Eighteen letters leave 141: "TEXTA".
  const Split t = split("hello", Options{false, true, std::string(18, 's')});
  EXPECT_EQ(buildHeader({"", {"13900139000"}, "13800138000", t.capacity, false}).contentClass(),
            "TEXTA");
}

TEST(Header, LongTagAndNumbersAreCut) {
  const MessageHeader h =
      buildHeader({"0123456789ABC", {std::string(25, '9')}, "13800138000", 160, false});
  const std::string b = bytes(h);
  EXPECT_EQ(b.substr(0, 10), "0123456789");  // ten bytes, no terminator
  EXPECT_EQ(b.substr(19, 20), std::string(19, '9') + std::string(1, '\0'));
}

TEST(Content, CountThenLengthBytesAndNulPerMessage) {
  const auto c = buildContent({"(1/2)\nab", "x"});
  const std::string expected = std::string("\x02\0\0\0", 4) + std::string("\x08\0\0\0", 4) +
                               "(1/2)\nab" + std::string(1, '\0') + std::string("\x01\0\0\0", 4) +
                               "x" + std::string(1, '\0');
  EXPECT_EQ(std::string(c.begin(), c.end()), expected);
}

TEST(Content, NumberedSignedSendOfTwoMessages) {
  // 300 letters, numbered and signed "Tom": capacity 156, two messages (310 units with the
  // prefixes); after "(u/2)" 151 letters fit, so 151 and 149.
  const Options o{true, true, "Tom"};
  const Split s = split(std::string(300, 'a'), o);
  ASSERT_EQ(s.count(), 2);
  const auto c = buildContent(s.messages);
  const std::string m1 = "(1/2)Tom\n" + std::string(151, 'a');
  const std::string m2 = "(2/2)Tom\n" + std::string(149, 'a');
  std::string expected = std::string("\x02\0\0\0", 4);
  for (const std::string& m : {m1, m2}) {
    expected += std::string(1, char(m.size())) + std::string(3, '\0') + m + std::string(1, '\0');
  }
  EXPECT_EQ(std::string(c.begin(), c.end()), expected);
}

}  // namespace
}  // namespace hv::textport
