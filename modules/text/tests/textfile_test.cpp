// Reading and writing text files: line ends, the cut at a character boundary, and files that are
// not text.
#include "modules/text/textfile.h"

#include <gtest/gtest.h>

#include <set>

#include "platform/fs.h"
#include "platform/gbk.h"

namespace hv::textport {
namespace {

class TextFileTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = *fs::createTempDirectory({}, "textfile"); }
  void TearDown() override { fs::removeAll(dir_); }
  std::string write(const std::string& contents) {
    const std::string path = dir_ + "/t" + std::to_string(n_++) + ".txt";
    EXPECT_TRUE(fs::writeFileAtomic(path, contents));
    return path;
  }
  std::string dir_;
  int n_ = 0;
};

TEST_F(TextFileTest, LineEndsBecomeCrLf) {
  const TextFile f = readTextFile(write("a\nb\r\nc\rd\r\r\ne"), 100);
  EXPECT_FALSE(f.error);
  EXPECT_EQ(f.text, "a\r\nb\r\nc\r\nd\r\n\r\ne");
  EXPECT_FALSE(f.truncated);
  EXPECT_EQ(withCrLf("\n\n"), "\r\n\r\n");
}

TEST_F(TextFileTest, CutKeepsWholeCharacters) {
  const std::string zh = T("中文");  // four bytes
  // Three bytes of "中文": the lone lead byte of the second character goes.
  TextFile f = readTextFile(write(zh + "x"), 3);
  EXPECT_TRUE(f.truncated);
  EXPECT_EQ(f.text, T("中"));
  f = readTextFile(write(zh + "x"), 4);
  EXPECT_TRUE(f.truncated);
  EXPECT_EQ(f.text, zh);
  f = readTextFile(write(zh), 4);
  EXPECT_FALSE(f.truncated);
  EXPECT_EQ(f.text, zh);
  // Past the 255-byte reading blocks.
  f = readTextFile(write(std::string(3000, 'q')), 2053);
  EXPECT_EQ(f.text, std::string(2053, 'q'));
}

TEST_F(TextFileTest, NulBytesBadGbkMissingFilesAndFoldersAreRefused) {
  EXPECT_EQ(readTextFile(write(std::string("a\0b", 3)), 100).error, TextFileError::NotText);
  EXPECT_EQ(readTextFile(write("\xD6"), 100).error, TextFileError::NotGbk);  // lead byte at the end
  EXPECT_EQ(readTextFile(write("\xFF\x41"), 100).error, TextFileError::NotGbk);
  EXPECT_EQ(readTextFile(dir_ + "/none.txt", 100).error, TextFileError::CannotOpen);
  EXPECT_EQ(readTextFile(dir_, 100).error, TextFileError::CannotOpen);
  EXPECT_FALSE(readTextFile(write(""), 100).error);
}

TEST_F(TextFileTest, WriteReplacesTheFileAndAFailedWriteLeavesNothingHalfDone) {
  const std::string path = write("old contents");
  EXPECT_FALSE(writeTextFile(path, "new\r\n"));
  EXPECT_EQ(fs::readFile(path).value_or(""), "new\r\n");
  EXPECT_EQ(writeTextFile(dir_ + "/no/such/dir.txt", "x"), TextFileError::CannotWrite);
  EXPECT_FALSE(fs::exists(dir_ + "/no"));
}

TEST(TextFileErrors, EveryErrorHasItsOwnMessageNamingTheFile) {
  std::set<std::string> seen;
  for (auto e : {TextFileError::CannotOpen, TextFileError::NotText, TextFileError::NotGbk,
                 TextFileError::CannotWrite}) {
    const std::string m = describe(e, "/x/y.txt");
    EXPECT_NE(m.find("/x/y.txt"), std::string::npos);
    EXPECT_TRUE(gbkToUtf8(m));
    seen.insert(m);
  }
  EXPECT_EQ(seen.size(), 4u);
}

}  // namespace
}  // namespace hv::textport
