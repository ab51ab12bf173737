// The sizes each family accepts, one pixel off on each side, 1 x 1 and the largest: the result,
// the number of messages and the lengths of the first and last one.
#include <gtest/gtest.h>

#include "encoder/tests/library.h"

namespace logopack_test {
namespace {

struct SizeCase {
  const char* format;
  int width;
  int height;
  int result;
  size_t messages = 0;
  size_t firstLength = 0;
  size_t lastLength = 0;
};

std::ostream& operator<<(std::ostream& os, const SizeCase& c) {
  return os << c.format << " " << c.width << "x" << c.height;
}

class Size : public testing::TestWithParam<SizeCase> {};

TEST_P(Size, GivesTheExpectedMessages) {
  const SizeCase& c = GetParam();
  TempFolder folder;
  // Black and white in turn, so that no bitmap is trivially zero.
  auto pixels = plainPixels(c.width > 0 ? c.width : 1, c.height > 0 ? c.height : 1, 0xFF);
  for (size_t i = 0; i < pixels.size(); i += 6) pixels[i] = 0;
  const Outcome out = run(folder.path(), c.format, c.width, c.height, pixels);
  ASSERT_EQ(out.result, c.result);
  ASSERT_TRUE(out.fileExists);
  if (c.result != 0) {
    EXPECT_TRUE(out.file.empty());
    return;
  }
  auto messages = readPacked(out.file);
  ASSERT_TRUE(messages);
  ASSERT_EQ(messages->size(), c.messages);
  EXPECT_EQ(messages->front().size(), c.firstLength);
  EXPECT_EQ(messages->back().size(), c.lastLength);
  for (auto& m : *messages) EXPECT_LE(m.size(), 140u);
}

const SizeCase kNokia[] = {
    {"nokia_op_logo", 72, 14, 0, 1, 140, 140},
    {"nokia_op_logo", 71, 14, -2},
    {"nokia_op_logo", 73, 14, -2},
    {"nokia_op_logo", 72, 13, -2},
    {"nokia_op_logo", 72, 15, -2},
    {"nokia_op_logo", 1, 1, -2},
    {"nokia_cli_icon", 72, 14, 0, 1, 137, 137},
    {"nokia_cli_icon", 72, 28, -2},
    {"nokia_picture", 72, 28, 0, 3, 140, 16},
    {"nokia_picture", 72, 27, -2},
    {"nokia_picture", 72, 29, -2},
    {"nokia_picture", 71, 28, -2},
    {"nokia_screensaver", 72, 28, 0, 3, 140, 16},
    {"nokia_screensaver", 73, 28, -2},
    {"nokia_screensaver", 72, 14, -2},
};
INSTANTIATE_TEST_SUITE_P(Nokia, Size, testing::ValuesIn(kNokia));

// BMP size 62 + stride * height; packets of 110 bytes, at most 255 of them (28050 bytes).
const SizeCase kSiemens[] = {
    {"siemens_standard_operator", 1, 1, 0, 1, 140, 140},
    {"siemens_standard_operator", 101, 64, 0, 10, 140, 140},
    {"siemens_3118_operator", 32, 12, 0, 1, 140, 140},     // 110 bytes: the last single packet
    {"siemens_3118_operator", 32, 13, 0, 2, 140, 140},     // 114 bytes
    {"siemens_3118_screensaver", 33, 12, 0, 2, 140, 140},  // stride 8: 158 bytes
    {"siemens_screensaver", 416, 538, 0, 255, 140, 140},   // 62 + 52 * 538 = 28038
    {"siemens_screensaver", 416, 539, -2},                 // 28090
    {"siemens_cli", 223904, 1, 0, 255, 140, 140},          // 62 + 27988 = 28050
    {"siemens_cli", 223905, 1, -2},                        // 62 + 27992
    {"siemens_cli", 0, 1, -2},
    {"siemens_cli", 1, 0, -2},
    {"siemens_cli", 0, 0, -2},
};
INSTANTIATE_TEST_SUITE_P(Siemens, Size, testing::ValuesIn(kSiemens));

// S = 2 + w * ceil(h / 8) after a 7-byte header; beyond 133 a 12-byte header and 128 per message.
const SizeCase kAlcatel[] = {
    {"alcatel_big_operator", 1, 1, 0, 1, 10, 10},
    {"alcatel_big_operator", 131, 8, 0, 1, 140, 140},
    {"alcatel_big_operator", 132, 8, 0, 2, 140, 18},
    {"alcatel_small_operator", 72, 14, 0, 2, 140, 30},
    {"alcatel_small_operator", 255, 255, 0, 64, 140, 110},  // S = 8162
    {"alcatel_switch", 256, 1, -2},
    {"alcatel_switch", 1, 256, -2},
    {"alcatel_switch", 0, 8, -2},
    {"alcatel_switch", 8, 0, -2},
};
INSTANTIATE_TEST_SUITE_P(Alcatel, Size, testing::ValuesIn(kAlcatel));

// One message of w/8 * h + 6 bytes; the picture at most 134 bytes.
const SizeCase kEms[] = {
    {"ems_40_25_picture", 40, 25, 0, 1, 131, 131},
    {"ems_40_25_picture", 36, 25, -2},
    {"ems_40_25_picture", 39, 25, -2},
    {"ems_40_25_picture", 41, 25, -2},
    {"ems_72_14_picture", 72, 14, 0, 1, 132, 132},
    {"ems_72_14_picture", 72, 15, -2},
    {"ems_big_picture", 8, 1, 0, 1, 7, 7},
    {"ems_big_picture", 1, 1, -2},
    {"ems_big_picture", 8, 134, 0, 1, 140, 140},
    {"ems_big_picture", 8, 135, -2},
    {"ems_big_picture", 248, 4, 0, 1, 130, 130},
    {"ems_big_picture", 248, 5, -2},
    {"ems_big_picture", 256, 1, -2},
    {"ems_big_picture", 0, 0, -2},
    {"ems_big_picture", 8, 0, -2},
};
INSTANTIATE_TEST_SUITE_P(Ems, Size, testing::ValuesIn(kEms));

const SizeCase kMotorola[] = {
    {"motorola_388_big", 96, 64, 0, 6, 139, 139},
    {"motorola_388_big", 95, 64, -2},
    {"motorola_388_big", 97, 64, -2},
    {"motorola_388_big", 96, 63, -2},
    {"motorola_388_big", 96, 65, -2},
    {"motorola_388_big", 1, 1, -2},
};
INSTANTIATE_TEST_SUITE_P(Motorola, Size, testing::ValuesIn(kMotorola));

}  // namespace
}  // namespace logopack_test
