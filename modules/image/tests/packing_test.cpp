// Packing: picture files read back by ImageMagick, the Logopack file decoded by a small reader of
// the Nokia row bitmap written here, misbehaving packing libraries, and the 152-byte header laid
// out by hand.
#include "modules/image/packing.h"

#include <gtest/gtest.h>

#include <cctype>

#include "modules/image/tests/test_pictures.h"
#include "platform/fs.h"
#include "platform/gbk.h"
#include "platform/tests/test_dir.h"

namespace hv::pictport {
namespace {

// Whether the path's file name is "QTX", lower-case hexadecimal digits, "." and the extension.
bool packedName(const std::string& path, const std::string& ext) {
  const std::string name = path.substr(path.rfind('/') + 1);
  const size_t dot = name.rfind('.');
  if (name.rfind("QTX", 0) != 0 || dot == std::string::npos || dot <= 3) return false;
  for (size_t i = 3; i < dot; ++i) {
    if (!std::isdigit(uint8_t(name[i])) && (name[i] < 'a' || name[i] > 'f')) return false;
  }
  return name.substr(dot + 1) == ext;
}

std::string suiteLibrary(const char* name) {
  return std::string(HV_SUITE_DIR) + "/" + name;
}
std::string testLibrary(const char* name) {
  return std::string(HV_TEST_LIB_DIR) + "/" + name;
}

// A checkerboard of 3 x 3 squares with a solid bar in the first row: not symmetric, so a
// flipped or shifted decode shows.
Picture logoPicture() {
  return testing::picture(72, 14, [](int x, int y) {
    if (y == 0) return x < 20 ? kBlack : kWhite;
    return ((x / 3) + (y / 3)) % 2 ? kBlack : kWhite;
  });
}

uint32_t le32(const std::string& s, size_t at) {
  return uint8_t(s[at]) | uint32_t(uint8_t(s[at + 1])) << 8 | uint32_t(uint8_t(s[at + 2])) << 16 |
         uint32_t(uint8_t(s[at + 3])) << 24;
}

// The Nokia operator logo of a packed message file, read as Smart Messaging lays it out: one
// message of a port header (06 05 04 15 82 00 00), the network code (64 F0 00), the OTA bitmap
// header (00, width, height, 01) and the rows, most significant bit first, a set bit being ink.
std::vector<std::vector<bool>> readOperatorLogo(const std::string& file) {
  EXPECT_EQ(le32(file, 0), 1u);
  const uint32_t len = le32(file, 4);
  EXPECT_EQ(len, 140u);
  const std::string m = file.substr(8, len);
  EXPECT_EQ(m.substr(0, 7), std::string("\x06\x05\x04\x15\x82\x00\x00", 7));
  EXPECT_EQ(m.substr(7, 3), std::string("\x64\xF0\x00", 3));
  EXPECT_EQ(m.substr(10, 4), std::string("\x00\x48\x0E\x01", 4));
  EXPECT_EQ(file.size(), 8 + len + 1);
  std::vector<std::vector<bool>> rows(14, std::vector<bool>(72));
  for (int i = 0; i < 72 * 14; ++i) {
    const uint8_t byte = uint8_t(m[14 + i / 8]);
    rows[i / 72][i % 72] = (byte >> (7 - i % 8)) & 1;
  }
  return rows;
}

TEST(Pack, OperatorLogoThroughLogopackDecodesToTheSendPicture) {
  TestDir dir;
  PictureType t = testing::opLogo();
  t.modulePath = suiteLibrary("libLogopack.so");
  const Picture send = logoPicture();
  const PackResult r = pack(send, t, SourceKind::Colour, dir.path());
  ASSERT_TRUE(r.ok()) << gbkToUtf8Escaped(r.message);
  EXPECT_TRUE(packedName(r.path, "tmp")) << r.path;
  EXPECT_EQ(packedExtension(r.path), "tmp");
  const auto rows = readOperatorLogo(*fs::readFile(r.path));
  for (int y = 0; y < 14; ++y) {
    for (int x = 0; x < 72; ++x) {
      EXPECT_EQ(rows[y][x], send.pixel(x, y) == kBlack) << x << "," << y;
    }
  }
}

TEST(Pack, OneBitSourceOnAJpgGifTypeIsAGif) {
  TestDir dir;
  const Picture send = logoPicture().resampled(176, 208, Resample::Fast);
  const PackResult r = pack(send, testing::colour567(), SourceKind::Bilevel, dir.path());
  ASSERT_TRUE(r.ok()) << gbkToUtf8Escaped(r.message);
  EXPECT_TRUE(packedName(r.path, "GIF")) << r.path;
  EXPECT_EQ(packedExtension(r.path), "GIF");
  Magick::Image back;
  back.read(r.path);
  EXPECT_EQ(back.magick(), "GIF");
  ASSERT_EQ(back.columns(), 176u);
  ASSERT_EQ(back.rows(), 208u);
  Picture got(back, 8);
  EXPECT_EQ(got.rgb(), send.rgb());  // GIF is lossless for two colours
}

TEST(Pack, ColourPictureIsABaselineJpeg) {
  TestDir dir;
  const Picture send = testing::picture(176, 208, [](int x, int y) {
    return Rgb{uint8_t(x), uint8_t(y), 128};
  });
  const PackResult r = pack(send, testing::colour567(), SourceKind::Colour, dir.path());
  ASSERT_TRUE(r.ok()) << gbkToUtf8Escaped(r.message);
  EXPECT_EQ(packedExtension(r.path), "JPG");
  const std::string bytes = *fs::readFile(r.path);
  // Baseline DCT (SOF0) and no progressive frame (SOF2).
  EXPECT_NE(bytes.find("\xFF\xC0"), std::string::npos);
  EXPECT_EQ(bytes.find("\xFF\xC2"), std::string::npos);
  Magick::Image back;
  back.read(r.path);
  EXPECT_EQ(back.magick(), "JPEG");
  EXPECT_EQ(back.interlaceType(), Magick::NoInterlace);
  Picture got(back, 24);
  const Rgb c = got.pixel(100, 50);
  EXPECT_NEAR(c.r, 100, 6);
  EXPECT_NEAR(c.g, 50, 6);
  EXPECT_NEAR(c.b, 128, 6);
}

TEST(Pack, OemTypeIsSavedAsJpegNamedOem) {
  TestDir dir;
  const PictureType oem = testing::type("panasonic_colorpicture", 132, 176, 100, 100, 16,
                                        "INTERNAL_MODULE", "WAP", "OEM");
  const PackResult r = pack(testing::picture(132, 176, [](int, int) { return kWhite; }), oem,
                            SourceKind::Colour, dir.path());
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(packedExtension(r.path), "OEM");
  EXPECT_EQ(fs::readFile(r.path)->substr(0, 3), "\xFF\xD8\xFF");
}

TEST(Pack, NamesCountOnFromTheTickPastTakenNames) {
  TestDir dir;
  auto a = createPackedName(dir.path(), "GIF");
  auto b = createPackedName(dir.path(), "GIF");
  ASSERT_TRUE(a && b);
  EXPECT_NE(*a, *b);
  EXPECT_EQ(fs::fileSize(*a), 0u);
  EXPECT_FALSE(createPackedName(dir / "missing", "GIF"));
}

int filesIn(const std::string& dir) {
  return int(fs::list(dir).size());
}

TEST(Pack, LibraryFailuresAreToldAndLeaveNothingBehind) {
  TestDir dir;
  const std::string temp = dir / "temp";
  ASSERT_TRUE(fs::makeDirectories(temp));
  auto packAs = [&](const char* key, const std::string& lib) {
    PictureType t = testing::type(key, 72, 14, 200, 200, 1, "libfake.so", "SMS", "BMP");
    t.modulePath = lib;
    return pack(logoPicture(), t, SourceKind::Colour, temp);
  };
  const std::string fake = testLibrary("libhv_fakepack.so");

  PackResult r = packAs("wrong_size", fake);
  EXPECT_EQ(r.error, PackError::Refused);
  EXPECT_EQ(r.code, -2);
  EXPECT_EQ(gbkToUtf8Escaped(r.message), "打包操作失败:图片高度和宽度不符,图片类型：wrong_size");
  EXPECT_EQ(filesIn(temp), 0);

  r = packAs("garbage", fake);
  EXPECT_EQ(gbkToUtf8Escaped(r.message), "打包操作失败:未知错误,图片类型：garbage");
  r = packAs("unknown", fake);
  EXPECT_EQ(gbkToUtf8Escaped(r.message), "打包操作失败:不支持的图片类型,图片类型：unknown");

  r = packAs("nofile", fake);
  EXPECT_EQ(r.error, PackError::NoFile);
  EXPECT_EQ(gbkToUtf8Escaped(r.message), "打包操作失败:文件操作失败,图片类型：nofile");

  // A path outside the folder it was given is reported and never touched.
  ASSERT_TRUE(fs::writeFileAtomic(dir / "keep.tmp", "mine"));
  r = packAs("elsewhere", fake);
  EXPECT_EQ(r.error, PackError::NoFile);
  EXPECT_EQ(fs::readFile(dir / "keep.tmp"), "mine");
  EXPECT_EQ(filesIn(temp), 0);

  r = packAs("nokia_op_logo", dir / "absent.so");
  EXPECT_EQ(r.error, PackError::LibraryMissing);
  EXPECT_EQ(gbkToUtf8Escaped(r.message), "找不到图片打包处理模块:" + dir / "absent.so");

  const std::string none = testLibrary("libhv_nopack.so");
  r = packAs("nokia_op_logo", none);
  EXPECT_EQ(r.error, PackError::FunctionMissing);
  EXPECT_EQ(gbkToUtf8Escaped(r.message), "在模块" + none + "中找不到相应函数DoProcess");
}

TEST(Pack, EveryDoProcessCodeHasItsText) {
  EXPECT_EQ(gbkToUtf8Escaped(processCodeText(-3)), "文件操作失败");
  EXPECT_EQ(gbkToUtf8Escaped(processCodeText(-2)), "图片高度和宽度不符");
  EXPECT_EQ(gbkToUtf8Escaped(processCodeText(-1)), "不支持的图片类型");
  EXPECT_EQ(gbkToUtf8Escaped(processCodeText(-4)), "未知错误");
  EXPECT_EQ(gbkToUtf8Escaped(processCodeText(1)), "未知错误");
}

TEST(RequestHeader, LaysOutTheFieldsOfOneRecipient) {
  const RequestFields f{"0123456789AB", "13900139000", "13800138000", "Nokia3310", "tmp"};
  const hv::MessageHeader h = requestHeader(testing::opLogo(), f);
  ASSERT_EQ(h.size(), 152u);
  const std::string b(reinterpret_cast<const char*>(h.data()), h.size());
  auto field = [&](size_t at, size_t width) { return b.substr(at, width); };
  auto padded = [](std::string s, size_t width) { return s + std::string(width - s.size(), '\0'); };
  EXPECT_EQ(field(0, 10), "0123456789");
  EXPECT_EQ(field(10, 3), "SMS");
  EXPECT_EQ(field(13, 5), "IMAGE");
  EXPECT_EQ(b[18], 1);
  EXPECT_EQ(field(19, 20), padded("13900139000", 20));
  EXPECT_EQ(field(39, 20), padded("13800138000", 20));
  EXPECT_EQ(field(59, 40), padded("Nokia3310", 40));
  EXPECT_EQ(field(99, 40), padded("nokia_op_logo", 40));
  EXPECT_EQ(field(139, 8), "00000000");
  EXPECT_EQ(field(147, 4), padded("tmp", 4));
  EXPECT_EQ(b[151], 0);
  const hv::MessageHeader g =
      requestHeader(testing::colour567(), {"", "13900139000", "13800138000", "Nokia7650", "GIF"});
  EXPECT_EQ(g.serviceCode(), "WAP");
  EXPECT_EQ(g.contentType(), "GIF");
  EXPECT_EQ(packedExtension("/tmp/x/QTX1"), "tmp");
  EXPECT_EQ(packedExtension("/tmp/x.y/QTX1.OEM"), "OEM");
}

}  // namespace
}  // namespace hv::pictport
