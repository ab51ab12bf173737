#include "platform/profile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "platform/fs.h"
#include "platform/tests/test_dir.h"

namespace {

TEST(Profile, ReadsWithWindowsRules) {
  TestDir dir;
  std::string f = dir / "a.ini";
  ASSERT_TRUE(hv::fs::writeFileAtomic(f,
                                      "; comment\r\n[Main]\r\nName =  value with blanks  \r\n"
                                      "Quoted=\"  kept  \"\r\nnum= -42abc\r\nempty=\r\n"
                                      "[Other]\r\nName=other\r\n"));
  EXPECT_EQ(hv::profile::getString(f, "main", "NAME", "d"), "value with blanks");
  EXPECT_EQ(hv::profile::getString(f, "Main", "Quoted", "d"), "  kept  ");
  EXPECT_EQ(hv::profile::getString(f, "Main", "empty", "d"), "");
  EXPECT_EQ(hv::profile::getString(f, "Main", "missing", "default"), "default");
  EXPECT_EQ(hv::profile::getString(f, "Nowhere", "Name", "default"), "default");
  EXPECT_EQ(hv::profile::getString(f, "Other", "Name", ""), "other");
  EXPECT_EQ(hv::profile::getInt(f, "Main", "num", 7), -42);
  EXPECT_EQ(hv::profile::getInt(f, "Main", "Name", 7), 0);  // no digits
  EXPECT_EQ(hv::profile::getInt(f, "Main", "missing", 7), 7);
}

TEST(Profile, MissingFileGivesDefaults) {
  TestDir dir;
  EXPECT_EQ(hv::profile::getString(dir / "none.ini", "S", "K", "dflt"), "dflt");
  EXPECT_EQ(hv::profile::getInt(dir / "none.ini", "S", "K", 5), 5);
}

TEST(Profile, WriteReplacesInPlaceAndKeepsEveryOtherLine) {
  TestDir dir;
  std::string f = dir / "b.ini";
  ASSERT_TRUE(hv::fs::writeFileAtomic(f, "; keep me\n[S]\nA=1\n; note\nB=2\n\n[T]\nC=3\n"));
  ASSERT_TRUE(hv::profile::writeString(f, "s", "b", "20"));
  ASSERT_TRUE(hv::profile::writeString(f, "S", "New", "x"));
  ASSERT_TRUE(hv::profile::writeString(f, "U", "D", "4"));
  EXPECT_EQ(
      hv::fs::readFile(f),
      "; keep me\r\n[S]\r\nA=1\r\n; note\r\nB=20\r\nNew=x\r\n\r\n[T]\r\nC=3\r\n[U]\r\nD=4\r\n");
}

TEST(Profile, WriteCreatesFileAndRemovesKeysAndSections) {
  TestDir dir;
  std::string f = dir / "c.ini";
  ASSERT_TRUE(hv::WritePrivateProfileString("S", "K", "v", f.c_str()));
  ASSERT_TRUE(hv::WritePrivateProfileString("S", "L", "w", f.c_str()));
  ASSERT_TRUE(hv::WritePrivateProfileString("S", "K", nullptr, f.c_str()));
  EXPECT_EQ(hv::fs::readFile(f), "[S]\r\nL=w\r\n");
  ASSERT_TRUE(hv::WritePrivateProfileString("S", nullptr, nullptr, f.c_str()));
  EXPECT_EQ(hv::fs::readFile(f), "");
}

TEST(Profile, WriteToAnUnwritablePlaceFailsAndChangesNothing) {
  TestDir dir;
  EXPECT_FALSE(hv::profile::writeString(dir / "missing/d.ini", "S", "K", "v"));
  EXPECT_FALSE(hv::fs::exists(dir / "missing"));
}

TEST(Profile, BufferResultsAreCutOnCharacterBoundaries) {
  TestDir dir;
  std::string f = dir / "e.ini";
  // "ab" followed by two double-byte characters.
  ASSERT_TRUE(hv::profile::writeString(f, "S", "K", "ab\xD6\xD0\xCE\xC4"));
  char buf[6];
  EXPECT_EQ(hv::GetPrivateProfileString("S", "K", "", buf, sizeof buf, f.c_str()), 4u);
  EXPECT_STREQ(buf, "ab\xD6\xD0");
  char small[4];
  EXPECT_EQ(hv::GetPrivateProfileString("S", "K", "", small, sizeof small, f.c_str()), 2u);
  EXPECT_STREQ(small, "ab");
  EXPECT_EQ(hv::GetPrivateProfileString("S", "none", "  dflt  ", buf, sizeof buf, f.c_str()), 4u);
  EXPECT_STREQ(buf, "dflt");
}

TEST(Profile, NullKeyListsKeysAndNullSectionListsSections) {
  TestDir dir;
  std::string f = dir / "g.ini";
  ASSERT_TRUE(hv::fs::writeFileAtomic(f, "[One]\nk1=1\nk2=2\n[Two]\n"));
  char buf[32];
  uint32_t n = hv::GetPrivateProfileString("one", nullptr, "", buf, sizeof buf, f.c_str());
  EXPECT_EQ(std::string(buf, n + 1), std::string("k1\0k2\0\0", 7));
  n = hv::GetPrivateProfileString(nullptr, nullptr, "", buf, sizeof buf, f.c_str());
  EXPECT_EQ(std::string(buf, n + 1), std::string("One\0Two\0\0", 9));
}

TEST(Profile, ConcurrentWritersInOneProcessLoseNothing) {
  TestDir dir;
  std::string f = dir / "h.ini";
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 20; ++i)
        hv::profile::writeString(f, "S", "k" + std::to_string(t) + "_" + std::to_string(i), "v");
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(hv::Profile::load(f).keys("S").size(), 80u);
}

}  // namespace
