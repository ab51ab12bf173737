#include "platform/gbk.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

namespace {

// "中文" in GBK is D6 D0 CE C4.
const std::string kZhongWenGbk = "\xD6\xD0\xCE\xC4";

TEST(Gbk, RoundTripsChineseAndAscii) {
  EXPECT_EQ(hv::utf8ToGbk("中文"), kZhongWenGbk);
  EXPECT_EQ(hv::gbkToUtf8(kZhongWenGbk), "中文");
  EXPECT_EQ(hv::gbkToUtf8("abc 123"), "abc 123");
  EXPECT_EQ(hv::gbkToUtf8(""), "");
}

TEST(Gbk, RejectsInvalidGbk) {
  EXPECT_FALSE(hv::gbkToUtf8("\xD6"));  // lead byte at the end
  EXPECT_FALSE(
      hv::gbkToUtf8("a\xD6\x20"
                    "b"));                  // trail byte below 0x40
  EXPECT_FALSE(hv::gbkToUtf8("\xD6\x7F"));  // 0x7F is never a trail byte
  EXPECT_FALSE(hv::gbkToUtf8("\x80"));      // not a lead byte in code page 936
  EXPECT_FALSE(hv::gbkToUtf8("\xFF"));
}

TEST(Gbk, RejectsInvalidUtf8AndCharactersWithoutGbkForm) {
  EXPECT_FALSE(hv::utf8ToGbk("\xC3"));      // truncated sequence
  EXPECT_FALSE(hv::utf8ToGbk("\xE4\xB8"));  // truncated three-byte sequence
  EXPECT_FALSE(hv::utf8ToGbk("😀"));         // outside GBK
}

TEST(Gbk, LiteralHelperConvertsAndRefusesWhatGbkCannotHold) {
  EXPECT_EQ(hv::T("登录"), "\xB5\xC7\xC2\xBC");
  EXPECT_THROW(hv::T("😀"), std::invalid_argument);
}

TEST(Gbk, EscapedFormShowsInvalidBytes) {
  EXPECT_EQ(hv::gbkToUtf8Escaped("a" + kZhongWenGbk + "\xFF"), "a中文\\xFF");
  EXPECT_EQ(hv::gbkToUtf8Escaped("\xD6"), "\\xD6");
}

TEST(Gbk, CutsOnlyOnCharacterBoundaries) {
  std::string s = "a" + kZhongWenGbk;  // a + two double-byte characters, 5 bytes
  EXPECT_EQ(hv::gbkCut(s, 5), s);
  EXPECT_EQ(hv::gbkCut(s, 4), "a\xD6\xD0");
  EXPECT_EQ(hv::gbkCut(s, 2), "a");  // the second byte would split a character
  EXPECT_EQ(hv::gbkCut(s, 0), "");
}

TEST(Gbk, CopyToBufferNeverOverflowsAndTerminates) {
  char buf[4];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(hv::copyToBuffer(buf, sizeof buf, "ab" + kZhongWenGbk), 2u);
  EXPECT_STREQ(buf, "ab");  // "ab" + half a character would not fit with the terminator
  EXPECT_EQ(hv::copyToBuffer(buf, 1, "abc"), 0u);
  EXPECT_EQ(buf[0], 0);
  EXPECT_EQ(hv::copyToBuffer(nullptr, 10, "abc"), 0u);
}

}  // namespace

namespace {
// Conversions still work from a static destructor, after the thread's converters are gone
// (a table or test fixture cleaning up its folder at exit).
struct ConvertsAtExit {
  ~ConvertsAtExit() {
    if (hv::gbkToUtf8("\xD6\xD0") != "中" || hv::utf8ToGbk("中") != "\xD6\xD0") std::abort();
  }
} convertsAtExit;

TEST(Gbk, ConvertsOnANewThreadAndAtExit) {
  std::optional<std::string> r;
  std::thread([&] { r = hv::gbkToUtf8("\xD6\xD0"); }).join();
  EXPECT_EQ(r, "中");
}
}  // namespace
