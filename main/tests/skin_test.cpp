// Skin files and the skin list: every rule of the reader, damaged and hostile skins, and
// "skincfg.dat" as it is rewritten.
#include "main/skin.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "main/tests/launcher_fixture.h"
#include "platform/profile.h"

namespace hv::launcher {
namespace {

using testing::HomeFixture;

TEST(SkinValues, RectanglesReadUpToFourIntegers) {
  EXPECT_EQ(parseRect("1,2,3,4"), (Rect{1, 2, 3, 4}));
  EXPECT_EQ(parseRect("1,2"), (Rect{1, 2, 0, 0}));
  EXPECT_EQ(parseRect("1,2,"), (Rect{1, 2, 0, 0}));
  EXPECT_EQ(parseRect(""), (Rect{}));
  EXPECT_EQ(parseRect("-5,+6, 7,8"), (Rect{-5, 6, 7, 8}));
  EXPECT_EQ(parseRect("1,2,3,4,5"), (Rect{1, 2, 3, 4}));
  // A number must be followed by a comma or the end: reading stops at anything else.
  EXPECT_EQ(parseRect("1;2,3,4"), (Rect{1, 0, 0, 0}));
  EXPECT_EQ(parseRect("a,b,c,d"), (Rect{}));
  EXPECT_EQ(parseRect("10,x,30,40"), (Rect{10, 0, 0, 0}));
  EXPECT_TRUE(parseRect("0,0,0,0").allZero());
}

TEST(SkinValues, HugeCoordinatesAreKeptWithinWindowRange) {
  EXPECT_EQ(parseRect("99999999999999999999999,-99999999999999,5,6"), (Rect{32767, -32767, 5, 6}));
}

TEST(SkinValues, ColoursReadAsThreeIntegersKeepingTheLowByte) {
  EXPECT_EQ(parseRgb("255,0,255"), (Rgb{255, 0, 255}));
  EXPECT_EQ(parseRgb(""), (Rgb{0, 0, 0}));
  EXPECT_EQ(parseRgb("12"), (Rgb{12, 0, 0}));
  EXPECT_EQ(parseRgb("300,1,2"), (Rgb{44, 1, 2}));  // 300 = 0x12C
  EXPECT_EQ(parseRgb("-1,0,0"), (Rgb{255, 0, 0}));
  EXPECT_EQ(parseRgb("1 ,2,3"), (Rgb{1, 0, 0}));   // "%d,%d,%d" stops at the blank
  EXPECT_EQ(parseRgb("1, 2, 3"), (Rgb{1, 2, 3}));  // %d skips blanks before a number
}

TEST(SkinValues, FocusCountReadsAsWindowsProfileInteger) {
  EXPECT_EQ(parseProfileInt("12"), 12);
  EXPECT_EQ(parseProfileInt("  7abc"), 7);
  EXPECT_EQ(parseProfileInt("abc"), 0);
  EXPECT_EQ(parseProfileInt("-3"), -3);
}

class SkinFileTest : public HomeFixture {};

TEST_F(SkinFileTest, SectionWithoutNameIsSkippedAndEntriesAreRenumbered) {
  const auto path = writeSkin("a.skin", R"([ALL]
focuscount=3
[0]
type=图片型
name=首页
rect0=1,2,3,4
[1]
type=图片型
rect0=1,2,3,4
[2]
type=提示型
name=帮助
rect0=1,1,1,1
rect1=5,6,7,8
)");
  const SkinFile s = readSkin(path);
  ASSERT_EQ(s.entries.size(), 2u);
  EXPECT_EQ(s.entries[0].name, T("首页"));
  EXPECT_EQ(s.entries[1].name, T("帮助"));
  EXPECT_TRUE(s.entries[1].hotArea());
  EXPECT_EQ(s.entries[1].buttonRect(), (Rect{5, 6, 7, 8}));
  EXPECT_EQ(s.entries[0].buttonRect(), (Rect{1, 2, 3, 4}));
  EXPECT_EQ(s.folder, skins_);
}

TEST_F(SkinFileTest, ValidityNeedsTypeNameRect0AndForTextButtonsRect1) {
  const auto path = writeSkin("v.skin", R"([ALL]
focuscount=6
[0]
type=文字型
name=A
rect0=1,2,3,4
rect1=0,0,0,0
[1]
type=文字型
name=B
rect0=1,2,3,4
rect1=0,0,0,9
[2]
type=图片型
name=C
rect0=0,0,0,0
[3]
name=D
rect0=1,2,3,4
[4]
type=提示型
name=E
rect1=1,2,3,4
[5]
type=任何文字
name=F
rect0=0,0,0,1
)");
  const SkinFile s = readSkin(path);
  ASSERT_EQ(s.entries.size(), 2u);
  EXPECT_EQ(s.entries[0].name, "B");
  EXPECT_EQ(s.entries[1].name, "F");
  EXPECT_FALSE(s.entries[1].hotArea());
}

TEST_F(SkinFileTest, CommandsFollowDllFirstThenName) {
  const auto path = writeSkin("c.skin", R"([ALL]
focuscount=5
[0]
type=x
name=退出
rect0=1,1,1,1
dll=a.so
[1]
type=x
name=好友列表
rect0=1,1,1,1
[2]
type=x
name=最小化
rect0=1,1,1,1
[3]
type=x
name=退出
rect0=1,1,1,1
[4]
type=x
name=别的
rect0=1,1,1,1
)");
  const SkinFile s = readSkin(path);
  ASSERT_EQ(s.entries.size(), 5u);
  EXPECT_EQ(s.entries[0].command(), EntryCommand::Plugin);
  EXPECT_EQ(s.entries[1].command(), EntryCommand::Friends);
  EXPECT_EQ(s.entries[2].command(), EntryCommand::Minimize);
  EXPECT_EQ(s.entries[3].command(), EntryCommand::Exit);
  EXPECT_EQ(s.entries[4].command(), EntryCommand::Link);
}

TEST_F(SkinFileTest, DamagedSkinsGiveFewerEntriesNeverMore) {
  EXPECT_TRUE(readSkin(skins_ + "missing.skin").entries.empty());
  // focuscount far beyond the sections, or hostile; read in 32 bits as Windows does, so
  // 4294967295 and 3000000000 are negative and give no entries.
  const std::pair<const char*, size_t> counts[] = {
      {"4294967295", 0}, {"3000000000", 0}, {"2147483647", 2}, {"-5", 0},
      {"junk", 0},       {"", 0},           {"1", 1}};
  for (const auto& [count, expected] : counts) {
    const auto path = writeSkin("d.skin", std::string("[ALL]\nfocuscount=") + count +
                                              "\n[0]\ntype=x\nname=y\nrect0=1,1,1,1\n"
                                              "[999]\ntype=x\nname=z\nrect0=1,1,1,1\n");
    EXPECT_EQ(readSkin(path).entries.size(), expected) << count;
  }
  // A binary file.
  std::string junk;
  for (int i = 0; i < 5000; ++i) junk += static_cast<char>((i * 131) & 0xFF);
  writeFile(skins_ + "j.skin", junk);
  EXPECT_TRUE(readSkin(skins_ + "j.skin").entries.empty());
}

TEST_F(SkinFileTest, ValuesAreCutTo255Bytes) {
  const std::string longName(400, 'n');
  const auto path = writeSkin("l.skin", "[ALL]\nname=" + longName +
                                            "\nfocuscount=1\n[0]\ntype=x\nname=" + longName +
                                            "\nrect0=1,1,1,1\n");
  const SkinFile s = readSkin(path);
  EXPECT_EQ(s.name.size(), 255u);
  ASSERT_EQ(s.entries.size(), 1u);
  EXPECT_EQ(s.entries[0].name.size(), 255u);
}

TEST_F(SkinFileTest, FilesResolveInsideTheInstallationOnly) {
  ASSERT_TRUE(fs::makeDirectories(skins_ + "Pics"));
  writeFile(skins_ + "Pics/Rest.bmp", "x");
  writeFile(skins_ + "bg.jpg", "x");
  writeFile(home_ + "/DATA/pic.bmp", "x");
  ASSERT_EQ(::symlink("/etc/passwd", (skins_ + "link.bmp").c_str()), 0);
  const auto path = writeSkin("p.skin", R"([ALL]
background=BG.JPG
appicons=/etc/passwd
focuscount=1
[0]
type=x
name=y
rect0=1,1,1,1
pic0=pics\rest.bmp
pic1=../DATA/pic.bmp
icon=../../../../../../../../etc/passwd
dll=link.bmp
)");
  const SkinFile s = readSkin(path);
  EXPECT_EQ(s.background, skins_ + "bg.jpg");  // found without regard to case
  EXPECT_EQ(s.appIcon, "");                    // absolute: refused
  ASSERT_EQ(s.entries.size(), 1u);
  EXPECT_EQ(s.entries[0].pic0Path, skins_ + "Pics/Rest.bmp");
  EXPECT_EQ(s.entries[0].pic1Path, home_ + "/DATA/pic.bmp");  // inside the home
  EXPECT_EQ(s.entries[0].iconPath, "");                       // climbs out
  EXPECT_EQ(s.entries[0].dllPath, "");                        // a link leading out
  EXPECT_EQ(s.entries[0].dll, "link.bmp");  // still a plug-in entry, without effect
}

TEST_F(SkinFileTest, LibraryMissingInHomeIsFoundBesideTheProgram) {
  // The program's folder (build/tests here) holds the test modules; the home does not.
  fs::removeFile(home_ + "/libTestport.so");
  char exe[4096];
  const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  ASSERT_GT(n, 0);
  const std::string programDir = fs::directoryOf(std::string(exe, size_t(n)));
  const auto found = resolveInInstallation(skins_, "../libTestport.so");
  ASSERT_TRUE(found);
  EXPECT_EQ(*found, programDir + "libTestport.so");
}

class SkinCatalogTest : public HomeFixture {};

TEST_F(SkinCatalogTest, FirstSkinIsRememberedByFullPathWhenNoneIs) {
  writeSkin("b.skin", "");
  writeSkin("a.SKIN", "");
  writeFile(skins_ + "notes.txt", "");
  SkinCatalog c(skins_);
  EXPECT_EQ(c.list(), (std::vector<std::string>{skins_ + "a.SKIN", skins_ + "b.skin"}));
  EXPECT_EQ(c.current(), skins_ + "a.SKIN");
  EXPECT_EQ(profile::getString(c.configFile(), "ALL", "skin", ""), skins_ + "a.SKIN");
}

TEST_F(SkinCatalogTest, NoSkinsWritesNothing) {
  SkinCatalog c(skins_);
  EXPECT_EQ(c.current(), "");
  EXPECT_FALSE(c.next());
  EXPECT_FALSE(fs::exists(c.configFile()));
}

TEST_F(SkinCatalogTest, RelativeAndAbsoluteChoices) {
  writeSkin("a.skin", "");
  SkinCatalog c(skins_);
  profile::writeString(c.configFile(), "ALL", "skin", "a.skin");
  EXPECT_EQ(c.current(), skins_ + "a.skin");
  profile::writeString(c.configFile(), "ALL", "skin", "/elsewhere/x.skin");
  EXPECT_EQ(c.current(), "/elsewhere/x.skin");
}

TEST_F(SkinCatalogTest, NextGoesRoundAndRemembersTheBareName) {
  writeSkin("a.skin", "");
  writeSkin("b.skin", "");
  writeSkin("c.skin", "");
  SkinCatalog c(skins_);
  // The remembered value is an absolute path spelt in another case.
  std::string upper = skins_ + "B.SKIN";
  profile::writeString(c.configFile(), "ALL", "skin", upper);
  EXPECT_EQ(c.next(), skins_ + "c.skin");
  EXPECT_EQ(profile::getString(c.configFile(), "ALL", "skin", ""), "c.skin");
  EXPECT_EQ(c.next(), skins_ + "a.skin");
  EXPECT_EQ(profile::getString(c.configFile(), "ALL", "skin", ""), "a.skin");
  EXPECT_EQ(c.next(), skins_ + "b.skin");
}

TEST_F(SkinCatalogTest, UnknownCurrentSkinStartsAtTheFirst) {
  writeSkin("a.skin", "");
  writeSkin("b.skin", "");
  SkinCatalog c(skins_);
  profile::writeString(c.configFile(), "ALL", "skin", "gone.skin");
  EXPECT_EQ(c.next(), skins_ + "a.skin");
}

}  // namespace
}  // namespace hv::launcher
