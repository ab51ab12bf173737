// Counting and splitting against values worked out by hand from the rules in
// modules/text/core/splitting.h. "中" is one GBK character (D6 D0); "丂" (81 40) is a GBK
// character whose lead byte does not make a text wide.
#include "modules/text/core/splitting.h"

#include <gtest/gtest.h>

#include "platform/gbk.h"

namespace hv::textport {
namespace {

const std::string kZh = "\xD6\xD0";      // 中
const std::string kLowGbk = "\x81\x40";  // 丂

std::string times(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}
std::string a(int n) {
  return std::string(size_t(n), 'a');
}
std::string zh(int n) {
  return times(kZh, n);
}

Options plain() {
  return Options{false, false, ""};
}
Options numbered() {
  return Options{true, false, ""};
}
Options signedWith(const std::string& signature, bool numbering) {
  return Options{numbering, true, signature};
}

std::string withoutCr(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c != '\r') out += c;
  }
  return out;
}

// The text carried by the messages: each without its prefix, signature and LF.
std::string carried(const Split& s, const Options& o) {
  std::string out;
  for (int u = 1; u <= s.count(); ++u) {
    size_t head = 0;
    if (o.numbering && s.count() > 1) head += numberingPrefix(u, s.count()).size();
    if (o.signing) head += o.signature.size();
    if (o.numbering || o.signing) ++head;
    out += s.messages[size_t(u - 1)].substr(head);
  }
  return out;
}

TEST(Units, CountByModeWithCrFreeAndTwoByteCharactersTwo) {
  EXPECT_EQ(units("abc", Mode::Narrow), 3);
  EXPECT_EQ(units("abc", Mode::Wide), 6);
  EXPECT_EQ(units("a\r\nb", Mode::Narrow), 3);
  EXPECT_EQ(units("a\r\nb", Mode::Wide), 6);
  EXPECT_EQ(units(kZh, Mode::Wide), 2);
  EXPECT_EQ(units(kZh + "a", Mode::Wide), 4);
  // A character led by 0x81-0x9F counts as its two bytes.
  EXPECT_EQ(units(kLowGbk, Mode::Narrow), 2);
  EXPECT_EQ(units(kLowGbk, Mode::Wide), 4);
  EXPECT_EQ(units("", Mode::Wide), 0);
}

TEST(Mode, WideFromBytesOfA0AndAboveOrAWideSignature) {
  EXPECT_FALSE(isWide("plain ascii\r\n"));
  EXPECT_FALSE(isWide(kLowGbk));
  EXPECT_FALSE(isWide("\x9F\x7E"));
  EXPECT_TRUE(isWide("\xA0"));
  EXPECT_TRUE(isWide("abc" + kZh));
  EXPECT_EQ(modeOf("hello", plain()), Mode::Narrow);
  EXPECT_EQ(modeOf("hello", signedWith(T("签名"), false)), Mode::Wide);
  // A wide signature that is not used changes nothing.
  Options off = signedWith(T("签名"), false);
  off.signing = false;
  EXPECT_EQ(modeOf("hello", off), Mode::Narrow);
  EXPECT_EQ(modeOf("hello", signedWith("Tom", true)), Mode::Narrow);
}

TEST(Capacity, LessTheSignatureAndOneLineFeed) {
  EXPECT_EQ(capacity(Mode::Narrow, plain()), 160);
  EXPECT_EQ(capacity(Mode::Narrow, numbered()), 159);
  EXPECT_EQ(capacity(Mode::Narrow, signedWith("abc", true)), 156);
  EXPECT_EQ(capacity(Mode::Narrow, signedWith("abc", false)), 156);
  EXPECT_EQ(capacity(Mode::Wide, plain()), 140);
  EXPECT_EQ(capacity(Mode::Wide, numbered()), 138);
  EXPECT_EQ(capacity(Mode::Wide, signedWith(T("签名"), true)), 134);
  // An ASCII signature in wide mode costs 2 units a character.
  EXPECT_EQ(capacity(Mode::Wide, signedWith("Tom", false)), 140 - 6 - 2);
}

TEST(Count, NarrowAt160And161WithoutNumberingAnd159And160With) {
  EXPECT_EQ(messageCount(a(160), plain()), 1);
  EXPECT_EQ(messageCount(a(161), plain()), 2);
  EXPECT_EQ(messageCount(a(159), numbered()), 1);
  EXPECT_EQ(messageCount(a(160), numbered()), 2);
  EXPECT_EQ(messageCount("", numbered()), 0);
  EXPECT_EQ(messageCount("\r\r", plain()), 0);
}

TEST(Count, WideAt70And71WithoutNumberingAnd69And70WithAsciiIncluded) {
  EXPECT_EQ(messageCount(zh(70), plain()), 1);
  EXPECT_EQ(messageCount(zh(71), plain()), 2);
  EXPECT_EQ(messageCount(zh(69), numbered()), 1);
  EXPECT_EQ(messageCount(zh(70), numbered()), 2);
  // One Chinese character makes every letter cost two units: 2 + 69 * 2 = 140.
  EXPECT_EQ(messageCount(kZh + a(69), plain()), 1);
  EXPECT_EQ(messageCount(kZh + a(70), plain()), 2);
  // A text of GBK characters led by 0x81-0x9F stays narrow: 80 of them are 160 units.
  EXPECT_EQ(messageCount(times(kLowGbk, 80), plain()), 1);
  EXPECT_EQ(messageCount(times(kLowGbk, 81), plain()), 2);
}

TEST(Count, GrowsWhenThePrefixesDoNotFit) {
  // 318 units fill two messages of 159 exactly; with "(1/2)" and "(2/2)" (10 units) they need
  // three, and three prefixes (15 units) still fit in three: 333 <= 477.
  EXPECT_EQ(messageCount(a(318), plain()), 2);
  EXPECT_EQ(messageCount(a(318), numbered()), 3);
  // 9 x 159 = 1431 units: nine prefixes (45) push it to ten, whose prefixes (9 x 6 + 7 = 61)
  // fit: 1492 <= 1590.
  EXPECT_EQ(messageCount(a(1431), numbered()), 10);
  EXPECT_EQ(prefixUnits(10, Mode::Narrow), 61);
  EXPECT_EQ(prefixUnits(10, Mode::Wide), 122);
  EXPECT_EQ(prefixUnits(3, Mode::Narrow), 15);
}

TEST(Split, NumberedNarrowMessagesBeginWithPrefixAndLineFeed) {
  auto s = split(a(159), numbered());
  EXPECT_EQ(s.messages, std::vector<std::string>{"\n" + a(159)});
  s = split(a(160), numbered());
  EXPECT_EQ(s.messages, (std::vector<std::string>{"(1/2)\n" + a(154), "(2/2)\n" + a(6)}));
  s = split(a(161), plain());
  EXPECT_EQ(s.messages, (std::vector<std::string>{a(160), "a"}));
  s = split(a(318), numbered());
  EXPECT_EQ(s.messages,
            (std::vector<std::string>{"(1/3)\n" + a(154), "(2/3)\n" + a(154), "(3/3)\n" + a(10)}));
  EXPECT_EQ(s.mode, Mode::Narrow);
  EXPECT_EQ(s.capacity, 159);
}

TEST(Split, WideMessagesHoldSixtyFourCharactersAfterAPrefix) {
  const auto s = split(zh(70), numbered());
  EXPECT_EQ(s.mode, Mode::Wide);
  EXPECT_EQ(s.capacity, 138);
  EXPECT_EQ(s.messages, (std::vector<std::string>{"(1/2)\n" + zh(64), "(2/2)\n" + zh(6)}));
}

TEST(Split, SignedMessagesCarryTheSignatureAfterThePrefix) {
  // Narrow, signed "Tom": capacity 156; two messages; 151 and 49 letters after "(u/2)".
  auto s = split(a(200), signedWith("Tom", true));
  EXPECT_EQ(s.messages, (std::vector<std::string>{"(1/2)Tom\n" + a(151), "(2/2)Tom\n" + a(49)}));
  EXPECT_EQ(s.messages[0].size(), 160u);
  // A narrow text signed with a Chinese signature is split in wide mode: capacity 134, the
  // prefix takes 10, so 62 and then 38 characters of the hundred.
  s = split(zh(100), signedWith(T("签名"), true));
  EXPECT_EQ(s.messages, (std::vector<std::string>{"(1/2)" + T("签名") + "\n" + zh(62),
                                                  "(2/2)" + T("签名") + "\n" + zh(38)}));
  s = split("hello", signedWith(T("签名"), false));
  EXPECT_EQ(s.mode, Mode::Wide);
  EXPECT_EQ(s.capacity, 134);
  EXPECT_EQ(s.messages, std::vector<std::string>{T("签名") + "\nhello"});
}

TEST(Split, CrLfBreaksCostOneUnitAndTheMessagesCarryLfOnly) {
  auto s = split("ab\r\ncd", plain());
  EXPECT_EQ(s.messages, std::vector<std::string>{"ab\ncd"});
  // The LF is the 160th unit: it ends the first message.
  s = split(a(159) + "\r\nb", plain());
  EXPECT_EQ(s.messages, (std::vector<std::string>{a(159) + "\n", "b"}));
  // The CR is the 161st byte: the LF starts the second message, the CR goes nowhere.
  s = split(a(160) + "\r\nb", plain());
  EXPECT_EQ(s.messages, (std::vector<std::string>{a(160), "\nb"}));
  // The boundary between CR and LF.
  s = split(a(159) + "\r\r\nb", plain());
  EXPECT_EQ(s.messages, (std::vector<std::string>{a(159) + "\n", "b"}));
  const std::string text = times("line\r\n", 60);  // 300 units
  s = split(text, numbered());
  EXPECT_EQ(s.count(), 2);
  EXPECT_EQ(carried(s, numbered()), withoutCr(text));
}

TEST(Split, TwoByteCharacterAtEveryBoundaryPositionIsNeitherSplitNorLost) {
  for (const Options& o : {plain(), numbered(), signedWith("Tom", true)}) {
    for (int p = 0; p <= 320; ++p) {
      const std::string text = a(p) + kZh + std::string(300, 'b');
      const Split s = split(text, o);
      ASSERT_EQ(carried(s, o), text) << p;
      for (const std::string& m : s.messages) {
        ASSERT_TRUE(gbkToUtf8(m)) << "split character at " << p;
        ASSERT_LE(units(m, s.mode), 140) << p;
      }
    }
  }
}

TEST(Split, LowLeadCharactersAreKeptWholeEvenAgainstAnOddLimit) {
  // Narrow, numbered: 154 units after "(1/2)"; a two-unit character that would end at unit 155
  // goes to the next message, and a third message is taken should the last one still not fit.
  for (int p = 140; p <= 320; ++p) {
    const std::string text = a(p) + times(kLowGbk, 4) + a(3);
    const Split s = split(text, numbered());
    ASSERT_EQ(carried(s, numbered()), text) << p;
    for (const std::string& m : s.messages) {
      ASSERT_TRUE(gbkToUtf8(m)) << p;
      ASSERT_LE(m.size(), 160u) << p;
    }
  }
  // After 153 letters the character would end at unit 155 of the first message's 154: it opens
  // the second message.
  Split s = split(a(153) + kLowGbk + a(10), numbered());
  EXPECT_EQ(s.messages,
            (std::vector<std::string>{"(1/2)\n" + a(153), "(2/2)\n" + kLowGbk + a(10)}));
  // 308 units fill two messages exactly by the counting rule, but the unit left free before the
  // character leaves one letter over: a third message takes it.
  const std::string full = a(153) + kLowGbk + a(153);
  EXPECT_EQ(messageCount(full, numbered()), 2);
  s = split(full, numbered());
  EXPECT_EQ(s.messages, (std::vector<std::string>{"(1/3)\n" + a(153), "(2/3)\n" + kLowGbk + a(152),
                                                  "(3/3)\n" + a(1)}));
}

TEST(Limit, TenMessagesLessTenPrefixesWhetherNumberedOrNot) {
  EXPECT_EQ(textLimit(Mode::Narrow, plain()), 1539);
  EXPECT_EQ(textLimit(Mode::Wide, plain()), 1278);
  EXPECT_EQ(textLimit(Mode::Narrow, numbered()), 1590 - 61);
  EXPECT_FALSE(cutToLimit(a(1539), plain()));
  EXPECT_EQ(cutToLimit(a(1540), plain()).value_or(""), a(1539));
  EXPECT_FALSE(cutToLimit(zh(639), plain()));
  EXPECT_EQ(cutToLimit(zh(640), plain()).value_or(""), zh(639));
  // The cut drops every CR: 769 "a\n" and one "a" are 1539 units.
  EXPECT_EQ(cutToLimit(times("a\r\n", 800), plain()).value_or(""), times("a\n", 769) + "a");
  // Cut text still fits ten messages with their prefixes.
  const std::string cut = *cutToLimit(a(5000), numbered());
  EXPECT_EQ(split(cut, numbered()).count(), 10);
  EXPECT_EQ(messageCount(a(1539), plain()), 10);
}

TEST(Limit, CutKeepsToTheLimitWhenDroppedCrsPairBytesAnew) {
  // With the CRs in place the third 0x98 stands alone; without them it pairs with the 0xA0
  // after it, the bytes that follow pair differently and count more, which the cut has to take
  // off again.
  const std::string text = times("\x98\x98\x98\r\xA0", 300);
  const std::string cut = cutToLimit(text, plain()).value_or(text);
  EXPECT_EQ(modeOf(cut, plain()), Mode::Wide);
  EXPECT_LE(units(cut, Mode::Wide), textLimit(Mode::Wide, plain()));
  EXPECT_GT(units(cut, Mode::Wide), textLimit(Mode::Wide, plain()) - 6);
  EXPECT_EQ(cut, times("\x98\x98\x98\xA0", 300).substr(0, cut.size()));
}

TEST(Split, MessagesKeepToTheirCapacityWhenDroppedCrsPairBytesAnew) {
  for (const Options& o : {plain(), numbered()}) {
    const std::string text = times("\x98\x98\x98\r\xA0", 40);
    const Split s = split(text, o);
    ASSERT_GT(s.count(), 1);
    std::string carried;
    for (int u = 1; u <= s.count(); ++u) {
      const std::string& m = s.messages[size_t(u - 1)];
      EXPECT_LE(units(m, Mode::Wide), kWideUnits) << "message " << u;
      carried += o.numbering ? m.substr(m.find('\n') + 1) : m;
    }
    EXPECT_EQ(carried, times("\x98\x98\x98\xA0", 40));
  }
}

TEST(Recipients, ReceiverFirstThenEveryCcToken) {
  EXPECT_EQ(recipients("13900139000", T("张三<13700137000>;13600136000")),
            (std::vector<std::string>{"13900139000", "13700137000", "13600136000"}));
  // A name with a number in angle brackets, a semicolon and a bare number: two numbers.
  EXPECT_EQ(recipients("", T("张三<13700137000>;13600136000")),
            (std::vector<std::string>{"13700137000", "13600136000"}));
  EXPECT_EQ(recipients("13900139000", ""), std::vector<std::string>{"13900139000"});
  EXPECT_TRUE(recipients("", "").empty());
}

TEST(Recipients, SeparatorsLineFeedsAndOddTokens) {
  EXPECT_EQ(recipients("", "1\r\n2\r\n3"), (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(recipients("", "1;\r\n2"), (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(recipients("", ";;1;;\r\n;"), std::vector<std::string>{"1"});
  EXPECT_EQ(recipients("", " 1 ;\n2"), (std::vector<std::string>{" 1 ", "2"}));
  EXPECT_EQ(recipients("", "1\n2"), std::vector<std::string>{"1\n2"});
  EXPECT_EQ(recipients("", "<>13700137000"), std::vector<std::string>{"<>13700137000"});
  EXPECT_EQ(recipients("", "a>b<c>d>"), std::vector<std::string>{"c"});
  EXPECT_EQ(recipients("", "name<13700137000"), std::vector<std::string>{"name<13700137000"});
  // Duplicates are kept.
  EXPECT_EQ(recipients("1", "1;1").size(), 3u);
}

TEST(Recipients, TenAndElevenAndThousandsOfTokens) {
  std::string nine, ten;
  for (int i = 0; i < 9; ++i) nine += "1370013700" + std::to_string(i) + ";";
  ten = nine + "13700137009";
  EXPECT_EQ(recipients("13900139000", nine).size(), 10u);
  EXPECT_EQ(recipients("13900139000", ten).size(), 11u);
  std::string many;
  for (int i = 0; i < 5000; ++i) many += "x<1>;";
  EXPECT_EQ(recipients("", many).size(), 5000u);
}

}  // namespace
}  // namespace hv::textport
