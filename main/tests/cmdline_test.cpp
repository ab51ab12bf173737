// The command line read as the Part's edge cases describe (expected readings worked by hand).
#include "main/cmdline.h"

#include <gtest/gtest.h>

#include "platform/gbk.h"

namespace hv::launcher {
namespace {

TEST(CommandLine, EmptyLineAsksForNothing) {
  const auto c = parseCommandLine("");
  EXPECT_EQ(c.module, "");
  EXPECT_FALSE(c.hide);
  EXPECT_FALSE(c.typeOption);
  EXPECT_EQ(c.handoffFile, "");
  EXPECT_EQ(parseCommandLine("   \t ").module, "");
}

TEST(CommandLine, HideWithImageTypeStartsImageModuleWithoutFile) {
  const auto c = parseCommandLine("-hide -f image");
  EXPECT_TRUE(c.hide);
  EXPECT_EQ(c.module, T("Lumo图"));
  EXPECT_EQ(c.file, "");
}

TEST(CommandLine, TypeWordsSelectTheirModulesInAnyCase) {
  EXPECT_EQ(parseCommandLine("-f text").module, T("Lumo字"));
  EXPECT_EQ(parseCommandLine("-f TeXt").module, T("Lumo字"));
  EXPECT_EQ(parseCommandLine("-f flash").module, T("Lumo影"));
  EXPECT_EQ(parseCommandLine("-f music").module, T("Lumo音"));
  EXPECT_EQ(parseCommandLine("-f  image  ").module, T("Lumo图"));
  // "-F" counts at any position but the first; then the line is searched for "-f".
  EXPECT_EQ(parseCommandLine("x -F text").module, T("Lumo字"));
  EXPECT_EQ(parseCommandLine("-F text").module, "");
  EXPECT_TRUE(parseCommandLine("-F text").typeOption == false);
}

TEST(CommandLine, TypeWordFollowedByAFileSelectsNothing) {
  const auto c = parseCommandLine("-f text a.txt");
  EXPECT_TRUE(c.typeOption);
  EXPECT_EQ(c.module, "");
  EXPECT_EQ(c.file, "");
}

TEST(CommandLine, QuotedJpegPathStartsImageModule) {
  const auto c = parseCommandLine("\"/home/u/pic.jpg\"");
  EXPECT_EQ(c.module, T("Lumo图"));
  EXPECT_EQ(c.file, "/home/u/pic.jpg");
  EXPECT_EQ(parseCommandLine("  /a/B.PNG ").module, T("Lumo图"));
  EXPECT_EQ(parseCommandLine("/a/b.gif").module, T("Lumo图"));
  EXPECT_EQ(parseCommandLine("/a/b.Bmp").module, T("Lumo图"));
  EXPECT_EQ(parseCommandLine("/a/b.swf").module, T("Lumo影"));
  EXPECT_EQ(parseCommandLine("/a/b.mid").module, T("Lumo音"));
}

TEST(CommandLine, PathWithBlankIsCutThereAndLaunchesNothing) {
  const auto c = parseCommandLine("\"/home/u/my pic.jpg\"");
  EXPECT_EQ(c.file, "/home/u/my");
  EXPECT_EQ(c.module, "");
}

TEST(CommandLine, PathContainingTypeOptionLaunchesNothing) {
  const auto c = parseCommandLine("/home/u/x-files/pic.jpg");
  EXPECT_TRUE(c.typeOption);
  EXPECT_EQ(c.module, "");
  EXPECT_EQ(c.file, "");
}

TEST(CommandLine, TagOptionAfterTextFileIsTheLaunchTag) {
  const auto c = parseCommandLine("/tmp/note.txt -U:ab12 ");
  EXPECT_EQ(c.module, T("Lumo字"));
  EXPECT_EQ(c.file, "/tmp/note.txt");
  EXPECT_EQ(c.tag, "ab12");
  EXPECT_EQ(parseCommandLine("/tmp/note.txt -U:ab12 more").tag, "ab12");
  EXPECT_EQ(parseCommandLine("/tmp/note.txt -U:").tag, "");
}

TEST(CommandLine, LineBeginningWithTagLaunchesNothing) {
  const auto c = parseCommandLine("-U:ab12 /tmp/note.txt");
  EXPECT_EQ(c.module, "");
  EXPECT_EQ(c.tag, "");  // the blank before "-U:" is part of the option
  EXPECT_EQ(c.file, "-U:ab12");
}

TEST(CommandLine, HandoffFileOnlyWhenItIsTheWholeLine) {
  EXPECT_EQ(parseCommandLine("\"/tmp/get.hdv\"").handoffFile, "/tmp/get.hdv");
  EXPECT_EQ(parseCommandLine("/tmp/GET.HDV").handoffFile, "/tmp/GET.HDV");
  const auto c = parseCommandLine("/tmp/get.hdv -U:x");
  EXPECT_EQ(c.handoffFile, "");
  EXPECT_EQ(c.module, "");
}

TEST(CommandLine, UnknownExtensionsAndMissingExtensionsLaunchNothing) {
  EXPECT_EQ(parseCommandLine("/tmp/a.doc").module, "");
  EXPECT_EQ(parseCommandLine("/tmp/a").module, "");
  EXPECT_EQ(parseCommandLine("/tmp/a.").module, "");
  EXPECT_EQ(parseCommandLine("/tmp.d/a").module, "");
  // ";JPG;PNG;" must not match a part of a list entry.
  EXPECT_EQ(parseCommandLine("/tmp/a.JP").module, "");
  EXPECT_EQ(parseCommandLine("/tmp/a.G;").module, "");
}

TEST(CommandLine, GbkPathKeepsItsBytes) {
  // 0xB0 0x61 is one character whose trail byte reads as "a": upper-casing the extension must
  // not touch it.
  const std::string path = "/tmp/\xb0\x61.jpg";
  const auto c = parseCommandLine(path);
  EXPECT_EQ(c.file, path);
  EXPECT_EQ(c.module, T("Lumo图"));
}

TEST(CommandLine, AnyBytesOfAnyLengthAreRead) {
  std::string junk;
  for (int i = 0; i < 300000; ++i) junk += static_cast<char>((i * 7919) & 0xFF);
  const auto c = parseCommandLine(junk);
  EXPECT_LE(c.file.size(), junk.size());
  const auto d = parseCommandLine(std::string(100000, '"'));
  EXPECT_EQ(d.module, "");
}

}  // namespace
}  // namespace hv::launcher
