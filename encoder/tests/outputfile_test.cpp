// Naming of the packed message file from the path buffer and a counter.
#include "encoder/outputfile.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>

namespace hv::logopack {
namespace {

namespace fsys = std::filesystem;

TEST(OutputName, LowerCaseHexCounterBoundedBy260Characters) {
  EXPECT_EQ(outputPath("/tmp", 0xABCDEF), "/tmp/QTXabcdef.tmp");
  EXPECT_EQ(outputPath("", 0), "/QTX0.tmp");
  // "/QTXffffffff.tmp" is 16 characters: 243 + 16 = 259 fits with the terminator, 244 does not.
  EXPECT_TRUE(outputPath(std::string(243, 'd'), 0xFFFFFFFF));
  EXPECT_FALSE(outputPath(std::string(244, 'd'), 0xFFFFFFFF));
}

TEST(OutputName, FolderFromBufferDropsOneTrailingSlash) {
  EXPECT_EQ(folderFromBuffer("/tmp/x/"), "/tmp/x");
  EXPECT_EQ(folderFromBuffer("/tmp/x//"), "/tmp/x/");
  EXPECT_EQ(folderFromBuffer("/tmp/x"), "/tmp/x");
  EXPECT_FALSE(folderFromBuffer(nullptr));
  std::string full(260, 'a');
  EXPECT_FALSE(folderFromBuffer(full.data()));
  full[259] = '\0';
  EXPECT_EQ(folderFromBuffer(full.data())->size(), 259u);
}

class OutputFileTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/logopack-out-XXXXXX";
    ASSERT_TRUE(mkdtemp(pattern));
    folder_ = pattern;
    std::memset(buffer_, 0, sizeof buffer_);
    std::memcpy(buffer_, folder_.c_str(), folder_.size());
  }
  void TearDown() override { fsys::remove_all(folder_); }
  std::string folder_;
  char buffer_[kPathBufferSize];
};

TEST_F(OutputFileTest, TakesTheNextCounterWhenTheNameExists) {
  std::ofstream(folder_ + "/QTXff.tmp") << "taken";
  std::ofstream(folder_ + "/QTX100.tmp") << "taken";
  auto file = OutputFile::create(buffer_, 0xFF);
  ASSERT_TRUE(file);
  EXPECT_EQ(file->path(), folder_ + "/QTX101.tmp");
  EXPECT_STREQ(buffer_, file->path().c_str());
  struct stat st;
  ASSERT_EQ(stat(file->path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(fsys::file_size(folder_ + "/QTXff.tmp"), 5u);
}

TEST_F(OutputFileTest, LinkOfTheNameIsNeitherFollowedNorReplaced) {
  fsys::create_symlink(folder_ + "/target", folder_ + "/QTX1.tmp");
  auto file = OutputFile::create(buffer_, 1);
  ASSERT_TRUE(file);
  EXPECT_EQ(file->path(), folder_ + "/QTX2.tmp");
  EXPECT_FALSE(fsys::exists(folder_ + "/target"));
  EXPECT_TRUE(fsys::is_symlink(folder_ + "/QTX1.tmp"));
}

TEST_F(OutputFileTest, CounterWrapsAroundInsteadOfStopping) {
  std::ofstream(folder_ + "/QTXffffffff.tmp") << "taken";
  auto file = OutputFile::create(buffer_, 0xFFFFFFFF);
  ASSERT_TRUE(file);
  EXPECT_EQ(file->path(), folder_ + "/QTX0.tmp");
}

TEST_F(OutputFileTest, WritesTheWholeBatch) {
  auto file = OutputFile::create(buffer_, 1);
  ASSERT_TRUE(file);
  const std::vector<uint8_t> bytes(5000, 0x5A);
  EXPECT_TRUE(file->write(bytes));
  EXPECT_EQ(fsys::file_size(file->path()), 5000u);
}

}  // namespace
}  // namespace hv::logopack
