// The packed message file layout and its failures.
#include "ringtone/packfile.h"

#include <gtest/gtest.h>

#include "platform/fs.h"
#include "platform/gbk.h"

namespace hv::tunecast {
namespace {

TEST(PackedFile, CountThenLengthDataAndSeparatorPerMessage) {
  std::string dir = *fs::createTempDirectory("/tmp", "pack");
  std::vector<ByteStream> streams = {{0x06, 0x05}, {}, {0xFF}};
  ASSERT_TRUE(writePackedFile(dir + "a.sht", &streams).ok());
  EXPECT_EQ(*fs::readFile(dir + "a.sht"), std::string("\x03\0\0\0"
                                                      "\x02\0\0\0"
                                                      "\x06\x05\0"
                                                      "\0\0\0\0"
                                                      "\0"
                                                      "\x01\0\0\0"
                                                      "\xFF\0",
                                                      4 + 7 + 5 + 6));
  EXPECT_EQ(writePackedFile(dir + "b.sht", nullptr).text(), T("无字节流"));
  std::vector<ByteStream> none;
  EXPECT_EQ(writePackedFile(dir + "b.sht", &none).text(), T("字节流数量无效"));
  EXPECT_EQ(writePackedFile("", &streams).text(), T("短消息文件名无效"));
  EXPECT_EQ(writePackedFile(dir + "x/y.sht", &streams).text(), T("无法创建短消息文件"));
  EXPECT_FALSE(fs::exists(dir + "b.sht"));
  fs::removeAll(dir);
}

}  // namespace
}  // namespace hv::tunecast
