// Pictures through Magick++: BMP bytes written by hand, PNG read back by Qt's own reader, refused
// content, and palettes.
#include "ui/pictures/pictures.h"

#include <Magick++.h>
#include <gtest/gtest.h>

#include <QImage>
#include <set>

#include "platform/fs.h"
#include "platform/tests/test_dir.h"
#include "ui/UI/tests/test_bmp.h"

namespace {

using hv::ui::testing::twoByTwoBmp;

TEST(LoadImage, ReadsTheHandWrittenBmpIntoAMagickImage) {
  TestDir dir;
  ASSERT_TRUE(hv::fs::writeFileAtomic(dir / "four.bmp", twoByTwoBmp()));
  Magick::Image image;
  ASSERT_EQ(LoadImage(image, dir / "four.bmp"), 1);
  EXPECT_EQ(GetBmpSize(image), QSize(2, 2));
  const QImage shown = ToQImage(image);
  EXPECT_EQ(shown.pixelColor(0, 0), QColor(255, 0, 0));
  EXPECT_EQ(shown.pixelColor(1, 1), QColor(255, 255, 255));
}

TEST(LoadImage, RefusesContentThatIsNoPictureAndKeepsTheImage) {
  TestDir dir;
  const std::string script = dir / "evil.jpg";
  ASSERT_TRUE(hv::fs::writeFileAtomic(script, "push graphic-context\nviewbox 0 0 640 480\n"));
  const std::string cut = dir / "cut.bmp";
  ASSERT_TRUE(hv::fs::writeFileAtomic(cut, twoByTwoBmp().substr(0, 30)));
  ASSERT_TRUE(hv::fs::writeFileAtomic(dir / "four.bmp", twoByTwoBmp()));
  Magick::Image image;
  ASSERT_EQ(LoadImage(image, dir / "four.bmp"), 1);
  EXPECT_EQ(LoadImage(image, script), 0);
  EXPECT_EQ(LoadImage(image, cut), 0);
  EXPECT_EQ(LoadImage(image, dir / "missing.bmp"), 0);
  EXPECT_EQ(GetBmpSize(image), QSize(2, 2));
}

TEST(SaveImage, WritesByExtensionAndQtReadsThePixelsBack) {
  TestDir dir;
  Magick::Image image;
  ASSERT_TRUE(hv::fs::writeFileAtomic(dir / "in.bmp", twoByTwoBmp()));
  ASSERT_EQ(LoadImage(image, dir / "in.bmp"), 1);
  EXPECT_EQ(GetBmpSize(image), QSize(2, 2));

  const std::string png = dir / "out.PNG";
  ASSERT_EQ(SaveImage(image, png), 1);
  const QImage back =
      QImage::fromData(QByteArray::fromStdString(hv::fs::readFile(png).value_or("")));
  ASSERT_FALSE(back.isNull());
  EXPECT_EQ(back.pixelColor(1, 0), QColor(0, 255, 0));
  EXPECT_EQ(back.pixelColor(0, 1), QColor(0, 0, 255));

  const std::string bmp = dir / "out.bmp";
  ASSERT_EQ(SaveImage(image, bmp), 1);
  EXPECT_EQ(hv::fs::readFile(bmp).value_or("").substr(0, 2), "BM");

  EXPECT_EQ(SaveImage(image, dir / "out.txt"), 0);
  EXPECT_FALSE(hv::fs::exists(dir / "out.txt"));
}

Magick::Image stripes(int colours) {
  Magick::Image img(Magick::Geometry(colours, 4), Magick::Color("black"));
  img.type(Magick::TrueColorType);
  for (int x = 0; x < colours; ++x) {
    const auto r = static_cast<Magick::Quantum>((x * 37 % 256) * 257);
    const auto g = static_cast<Magick::Quantum>((x * 91 % 256) * 257);
    const auto b = static_cast<Magick::Quantum>((x * 53 % 256) * 257);
    for (int y = 0; y < 4; ++y) img.pixelColor(x, y, Magick::Color(r, g, b));
  }
  return img;
}

TEST(CQuantizer, KeepsTheColoursOfAPictureThatHasFewEnough) {
  Magick::Image img(Magick::Geometry(3, 1), Magick::Color("white"));
  img.type(Magick::TrueColorType);
  img.pixelColor(0, 0, Magick::Color("#FF0000"));
  img.pixelColor(1, 0, Magick::Color("#0000FF"));
  CQuantizer q(16, 7);
  ASSERT_TRUE(q.ProcessImage(img));
  ASSERT_EQ(q.GetColorCount(), 3u);
  std::vector<PaletteEntry> table(16);
  q.SetColorTable(table.data());
  std::set<std::tuple<int, int, int>> bgr;
  for (unsigned i = 0; i < 3; ++i) bgr.insert({table[i].blue, table[i].green, table[i].red});
  EXPECT_EQ(bgr, (std::set<std::tuple<int, int, int>>{{0, 0, 255}, {255, 0, 0}, {255, 255, 255}}));
}

TEST(CQuantizer, ReducesToAtMostTheAskedNumberOfColours) {
  for (unsigned colours : {16u, 256u}) {
    CQuantizer q(colours, 7);
    ASSERT_TRUE(q.ProcessImage(stripes(300)));
    EXPECT_LE(q.GetColorCount(), colours);
    EXPECT_GE(q.GetColorCount(), colours / 2);
  }
  EXPECT_FALSE(CQuantizer(16, 7).ProcessImage(Magick::Image()));
}

}  // namespace
