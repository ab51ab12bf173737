// Opening pictures of every accepted format, their kinds, the working picture, the scaled JPEG
// decode and hostile files; pixels compared with values worked out by hand.
#include "modules/image/picture.h"

#include <gtest/gtest.h>

#include <chrono>

#include "modules/image/tests/test_pictures.h"
#include "platform/fs.h"
#include "platform/tests/test_dir.h"

namespace hv::pictport {
namespace {

using testing::drawn;
using testing::grey;
using testing::writeAs;

TEST(OpenPicture, TellsTheKindOfEachFormat) {
  TestDir dir;
  auto stripes = [](int x, int) { return x % 2 ? kWhite : kBlack; };
  Magick::Image mono = drawn(8, 4, stripes);
  mono.type(Magick::BilevelType);
  auto bmp1 = openPicture(writeAs(mono, dir / "mono.bmp", "BMP3"));
  ASSERT_TRUE(bmp1);
  EXPECT_EQ(bmp1->kind, SourceKind::Bilevel);
  EXPECT_EQ(bmp1->picture.bits(), 1);
  auto png1 = openPicture(writeAs(mono, dir / "mono.png", "PNG"));
  ASSERT_TRUE(png1);
  EXPECT_EQ(png1->kind, SourceKind::Bilevel);

  Magick::Image greys = drawn(8, 4, [](int x, int) { return grey(x * 30); });
  greys.type(Magick::GrayscaleType);
  auto jpg2 = openPicture(writeAs(greys, dir / "grey.jpg", "JPEG"));
  ASSERT_TRUE(jpg2);
  EXPECT_EQ(jpg2->kind, SourceKind::Grey);
  EXPECT_EQ(jpg2->picture.bits(), 24);

  Magick::Image colour = drawn(8, 4, [](int x, int y) {
    return Rgb{uint8_t(x * 30), 200, uint8_t(y * 60)};
  });
  for (auto [name, magick] : {std::pair{"c.png", "PNG"}, {"c.jpg", "JPEG"}, {"c.bmp", "BMP3"}}) {
    auto p = openPicture(writeAs(colour, dir / name, magick));
    ASSERT_TRUE(p) << name;
    EXPECT_EQ(p->kind, SourceKind::Colour) << name;
    EXPECT_EQ(p->picture.width(), 8);
    EXPECT_EQ(p->picture.height(), 4);
  }
  // A GIF of many colours is a colour picture; one of two colours a two-colour one, with its
  // palette as the file has it.
  auto gif = openPicture(writeAs(colour, dir / "c.gif", "GIF"));
  ASSERT_TRUE(gif);
  EXPECT_EQ(gif->kind, SourceKind::Colour);
  Magick::Image redBlue = drawn(8, 4, [](int x, int) {
    return x < 4 ? Rgb{255, 0, 0} : Rgb{0, 0, 255};
  });
  auto gif2 = openPicture(writeAs(redBlue, dir / "rb.gif", "GIF"));
  ASSERT_TRUE(gif2);
  EXPECT_EQ(gif2->kind, SourceKind::Bilevel);
  const auto pal = gif2->picture.palette();
  EXPECT_TRUE((pal[0] == Rgb{255, 0, 0} && pal[1] == Rgb{0, 0, 255}) ||
              (pal[1] == Rgb{255, 0, 0} && pal[0] == Rgb{0, 0, 255}));
  EXPECT_EQ(gif2->picture.pixel(0, 0), (Rgb{255, 0, 0}));
  EXPECT_EQ(gif2->picture.pixel(7, 3), (Rgb{0, 0, 255}));
}

TEST(OpenPicture, GoesByContentsNotByName) {
  TestDir dir;
  Magick::Image colour = drawn(5, 3, [](int, int) { return Rgb{10, 20, 30}; });
  writeAs(colour, dir / "really-png.jpg", "PNG");
  auto p = openPicture(dir / "really-png.jpg");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->picture.pixel(4, 2), (Rgb{10, 20, 30}));
  ASSERT_TRUE(fs::writeFileAtomic(dir / "text.jpg", "not a picture at all"));
  EXPECT_FALSE(openPicture(dir / "text.jpg"));
  // An SVG (which ImageMagick could render with its own delegates) is never decoded.
  ASSERT_TRUE(fs::writeFileAtomic(dir / "x.png", "<svg xmlns='http://www.w3.org/2000/svg'/>"));
  EXPECT_FALSE(openPicture(dir / "x.png"));
  EXPECT_FALSE(openPicture(dir / "missing.png"));
}

std::string le32(uint32_t v) {
  return {char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF), char(v >> 24)};
}

TEST(OpenPicture, RefusesTruncatedAndHugeFilesQuickly) {
  TestDir dir;
  Magick::Image colour = drawn(64, 64, [](int x, int y) {
    return Rgb{uint8_t(x * 4), uint8_t(y * 4), 90};
  });
  writeAs(colour, dir / "full.png", "PNG");
  const std::string png = *fs::readFile(dir / "full.png");
  ASSERT_TRUE(fs::writeFileAtomic(dir / "cut.png", png.substr(0, png.size() / 3)));
  writeAs(colour, dir / "full.gif", "GIF");
  const std::string gif = *fs::readFile(dir / "full.gif");
  ASSERT_TRUE(fs::writeFileAtomic(dir / "cut.gif", gif.substr(0, 20)));

  // A PNG header that declares 20000 x 20000 pixels (the IHDR's CRC is not checked first by
  // every reader; the limits must hold either way).
  std::string huge = png;
  const size_t ihdr = huge.find("IHDR");
  ASSERT_NE(ihdr, std::string::npos);
  auto be = [](uint32_t v) {
    return std::string{char(v >> 24), char((v >> 16) & 0xFF), char((v >> 8) & 0xFF),
                       char(v & 0xFF)};
  };
  huge.replace(ihdr + 4, 8, be(20000) + be(20000));
  ASSERT_TRUE(fs::writeFileAtomic(dir / "huge.png", huge));

  // A BMP that declares 20000 x 20000 pixels of 24 bits and holds a few bytes.
  std::string bmp = "BM" + le32(54 + 12) + le32(0) + le32(54) + le32(40) + le32(20000) +
                    le32(20000) + std::string("\x01\x00\x18\x00", 4) + le32(0) + le32(0) +
                    le32(2835) + le32(2835) + le32(0) + le32(0) + std::string(12, '\x7f');
  ASSERT_TRUE(fs::writeFileAtomic(dir / "huge.bmp", bmp));

  const auto start = std::chrono::steady_clock::now();
  for (const char* name : {"cut.png", "cut.gif", "huge.png", "huge.bmp"}) {
    auto p = openPicture(dir / name);
    if (p) {
      // What a reader recovers of a cut file is a picture within the limits, never more.
      EXPECT_LE(p->picture.width(), kMaxSide) << name;
      EXPECT_LE(p->picture.height(), kMaxSide) << name;
      EXPECT_NE(std::string(name).rfind("huge", 0), 0u) << name << " was decoded";
    }
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST(OpenPicture, LargeJpegDecodesAtAReducedScaleWithItsColoursKept) {
  TestDir dir;
  // 1600 x 1200 of 16-pixel blocks of flat colours: libjpeg's smallest scale that keeps 424 x 290
  // is 3/8, 600 x 450 with 6-pixel blocks whose centres keep the colour within what JPEG's loss
  // allows.
  auto block = [](int x, int y) {
    const int bx = x / 16, by = y / 16;
    return Rgb{uint8_t((bx * 37) % 256), uint8_t((by * 53) % 256), uint8_t(((bx + by) * 29) % 256)};
  };
  Magick::Image photo = drawn(1600, 1200, block);
  photo.quality(95);
  writeAs(photo, dir / "photo.jpg", "JPEG");
  auto p = openPicture(dir / "photo.jpg");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->picture.width(), 600);
  EXPECT_EQ(p->picture.height(), 450);
  int far = 0;
  for (int by = 0; by < 75; by += 7) {
    for (int bx = 0; bx < 100; bx += 9) {
      const Rgb want = block(bx * 16, by * 16);
      const Rgb got = p->picture.pixel(bx * 6 + 3, by * 6 + 3);
      if (std::abs(got.r - want.r) > 12 || std::abs(got.g - want.g) > 12 ||
          std::abs(got.b - want.b) > 12) {
        ++far;
      }
    }
  }
  EXPECT_EQ(far, 0);
  // Photos less than twice that size are decoded whole.
  Magick::Image small = drawn(640, 480, block);
  writeAs(small, dir / "small.jpg", "JPEG");
  auto s = openPicture(dir / "small.jpg");
  ASSERT_TRUE(s);
  EXPECT_EQ(s->picture.width(), 640);
}

TEST(WorkingPicture, SmallSourceIsCentredOnWhite) {
  const OpenedPicture src{testing::picture(50, 10,
                                           [](int, int) {
                                             return Rgb{200, 10, 10};
                                           }),
                          SourceKind::Colour};
  const Picture w = workingPicture(src, 72, 14);
  ASSERT_EQ(w.width(), 72);
  ASSERT_EQ(w.height(), 14);
  EXPECT_EQ(w.bits(), 24);
  // (72 - 50) / 2 = 11, (14 - 10) / 2 = 2.
  EXPECT_EQ(w.pixel(10, 2), kWhite);
  EXPECT_EQ(w.pixel(11, 1), kWhite);
  EXPECT_EQ(w.pixel(11, 2), (Rgb{200, 10, 10}));
  EXPECT_EQ(w.pixel(60, 11), (Rgb{200, 10, 10}));
  EXPECT_EQ(w.pixel(61, 11), kWhite);
  EXPECT_EQ(w.pixel(60, 12), kWhite);
}

TEST(WorkingPicture, SourceOfTheTypesSizeIsItselfAndLargerOnesStayWhole) {
  auto f = [](int x, int y) { return Rgb{uint8_t(x * 3), uint8_t(y * 17), 7}; };
  const OpenedPicture exact{testing::picture(72, 14, f), SourceKind::Colour};
  const Picture w = workingPicture(exact, 72, 14);
  EXPECT_EQ(w.rgb(), exact.picture.rgb());
  const OpenedPicture wide{testing::picture(73, 10, f), SourceKind::Colour};
  const Picture w2 = workingPicture(wide, 72, 14);
  EXPECT_EQ(w2.width(), 73);
  EXPECT_EQ(w2.height(), 10);
}

TEST(WorkingPicture, OneBitSourceKeepsItsPaletteAndFillsWithTheNonBlackEntry) {
  auto mono = [](int x, int) { return x == 0 ? kBlack : kWhite; };
  OpenedPicture src{Picture(drawn(4, 2, mono), 1), SourceKind::Bilevel};
  src.picture.setPalette({kBlack, kWhite});
  Picture w = workingPicture(src, 8, 4);
  EXPECT_EQ(w.bits(), 1);
  EXPECT_EQ(w.pixel(0, 0), kWhite);  // index 1 of (black, white)
  EXPECT_EQ(w.pixel(2, 1), kBlack);  // the source's first column, at (2, 1)
  // A palette whose entry 0 is not black fills with entry 0.
  OpenedPicture other{Picture(drawn(4, 2,
                                    [](int, int) {
                                      return Rgb{0, 0, 255};
                                    }),
                              1),
                      SourceKind::Bilevel};
  other.picture.setPalette({Rgb{255, 255, 0}, Rgb{0, 0, 255}});
  Picture w2 = workingPicture(other, 8, 4);
  EXPECT_EQ(w2.pixel(7, 3), (Rgb{255, 255, 0}));
  EXPECT_EQ(w2.palette()[0], (Rgb{255, 255, 0}));
}

TEST(PictureOps, ThresholdAtTheLevelWithTheGreyWeights) {
  // Grey (299 R + 587 G + 114 B) / 1000: red 255 -> 76, green 255 -> 149, blue 255 -> 29.
  Picture p = testing::picture(6, 1, [](int x, int) {
    const Rgb row[] = {grey(100), grey(101), {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, grey(0)};
    return row[x];
  });
  Picture at100 = p;
  at100.threshold(100);
  EXPECT_EQ(at100.bits(), 1);
  const Rgb want100[] = {kBlack, kWhite, kBlack, kWhite, kBlack, kBlack};
  for (int x = 0; x < 6; ++x) EXPECT_EQ(at100.pixel(x, 0), want100[x]) << x;
  Picture at28 = p;
  at28.threshold(28);
  const Rgb want28[] = {kWhite, kWhite, kWhite, kWhite, kWhite, kBlack};
  for (int x = 0; x < 6; ++x) EXPECT_EQ(at28.pixel(x, 0), want28[x]) << x;
  Picture at255 = p;
  at255.threshold(255);
  for (int x = 0; x < 6; ++x) EXPECT_EQ(at255.pixel(x, 0), kBlack) << x;
}

TEST(PictureOps, QualityResampleAveragesAndFastTakesPixels) {
  // 4 x 2 of 2 x 2 blocks: halving averages each block; Fast keeps one pixel of it.
  Picture p = testing::picture(4, 2, [](int x, int y) {
    if (x < 2) return (x + y) % 2 ? grey(200) : grey(100);
    return Rgb{0, 0, 0};
  });
  Picture q = p.resampled(2, 1, Resample::Quality);
  ASSERT_EQ(q.width(), 2);
  EXPECT_EQ(q.pixel(0, 0), grey(150));
  EXPECT_EQ(q.pixel(1, 0), kBlack);
  Picture f = p.resampled(2, 1, Resample::Fast);
  const Rgb c = f.pixel(0, 0);
  EXPECT_TRUE(c == grey(100) || c == grey(200));
}

TEST(PictureOps, ReduceToAPaletteTakesTheNearestColour) {
  Picture p = testing::picture(3, 1, [](int x, int) {
    const Rgb row[] = {{250, 10, 10}, {10, 10, 240}, {120, 120, 120}};
    return row[x];
  });
  p.reduce({{255, 0, 0}, {0, 0, 255}, {128, 128, 128}, kBlack}, 4, false);
  EXPECT_EQ(p.bits(), 4);
  EXPECT_EQ(p.pixel(0, 0), (Rgb{255, 0, 0}));
  EXPECT_EQ(p.pixel(1, 0), (Rgb{0, 0, 255}));
  EXPECT_EQ(p.pixel(2, 0), (Rgb{128, 128, 128}));
}

}  // namespace
}  // namespace hv::pictport
