// Making the preview and send pictures: crop, resample, fit and colour step compared pixel by
// pixel with values worked out by hand; the overlay text's rules and placement.
#include "modules/image/pipeline.h"

#include <gtest/gtest.h>

#include "modules/image/tests/test_pictures.h"
#include "platform/gbk.h"

namespace hv::pictport {
namespace {

using testing::grey;

// Columns of the result: how many from the left are black before the first white one, with
// every row checked to be the same.
int blackColumnsFromLeft(const Picture& p) {
  int n = 0;
  while (n < p.width() && p.pixel(n, 0) == kBlack) ++n;
  for (int y = 0; y < p.height(); ++y) {
    for (int x = 0; x < p.width(); ++x) {
      EXPECT_EQ(p.pixel(x, y), x < n ? kBlack : kWhite) << x << "," << y;
    }
  }
  return n;
}

TEST(MakePicture, CropsTheDisplayCopyResamplesAndThresholds) {
  // 144 x 28: grey 50 left of column 72, grey 200 from it. In a 302 x 202 control it is shown
  // unscaled at (79, 87); the initial 72 x 14 frame at (115, 94) covers picture columns 36..107.
  Framing f;
  setupFraming(f, testing::picture(144, 28, [](int x, int) { return grey(x < 72 ? 50 : 200); }),
               {302, 202}, {72, 14});
  ASSERT_EQ(f.geometry.display(), (Rect{79, 87, 223, 115}));
  ASSERT_EQ(f.geometry.frame(), (Rect{115, 94, 187, 108}));
  const PictureType logo = testing::opLogo();
  Picture send = makePicture(f, logo, SourceKind::Grey, {72, 14}, Mode::Send, 100);
  ASSERT_EQ(send.width(), 72);
  ASSERT_EQ(send.height(), 14);
  EXPECT_EQ(send.bits(), 1);
  EXPECT_EQ(blackColumnsFromLeft(send), 36);  // picture columns 36..71 are grey 50
  // At level 40 even grey 50 is white.
  Picture light = makePicture(f, logo, SourceKind::Grey, {72, 14}, Mode::Send, 40);
  EXPECT_EQ(blackColumnsFromLeft(light), 0);
}

TEST(MakePicture, WholePictureIsFittedOnWhite) {
  // 100 x 100 of dark grey, the whole picture onto 72 x 14: 72 * 100 >= 14 * 100, so the height
  // 14 limits and the width is 14 * 100 / 100 = 14, pasted at ((72 - 14) / 2, 0) = (29, 0).
  Framing f;
  setupFraming(f, testing::picture(100, 100, [](int, int) { return grey(30); }), {302, 202},
               {72, 14});
  f.geometry.wholeFrame();
  Picture send = makePicture(f, testing::opLogo(), SourceKind::Grey, {72, 14}, Mode::Send, 100);
  ASSERT_EQ(send.width(), 72);
  for (int y = 0; y < 14; ++y) {
    for (int x = 0; x < 72; ++x) {
      EXPECT_EQ(send.pixel(x, y), (x >= 29 && x < 43) ? kBlack : kWhite) << x << "," << y;
    }
  }
  EXPECT_TRUE(f.geometry.whole());
  // Moving the frame away from the whole display clears the flag for the next picture.
  f.geometry.setKeepRatio(false);
  ASSERT_TRUE(f.geometry.drag(Handle::Right, -10, 0));
  EXPECT_FALSE(f.geometry.whole());
}

TEST(MakePicture, NarrowFrameCropsTheWorkingPictureAtFullResolution) {
  // 100 x 50, red left of column 50, blue from it; a 176 x 208 colour type frames 42 x 50 display
  // pixels at display (130, 76), i.e. picture columns 29..70: 21 red, 21 blue.
  Framing f;
  setupFraming(f,
               testing::picture(100, 50,
                                [](int x, int) {
                                  return x < 50 ? Rgb{255, 0, 0} : Rgb{0, 0, 255};
                                }),
               {302, 202}, {176, 208});
  ASSERT_EQ(f.geometry.crop(), (Rect{29, 0, 71, 50}));
  Picture send =
      makePicture(f, testing::colour567(), SourceKind::Colour, {176, 208}, Mode::Send, 100);
  ASSERT_EQ(send.width(), 176);
  ASSERT_EQ(send.height(), 208);
  EXPECT_EQ(send.bits(), 24);
  EXPECT_EQ(send.pixel(10, 100), (Rgb{255, 0, 0}));
  EXPECT_EQ(send.pixel(80, 0), (Rgb{255, 0, 0}));
  EXPECT_EQ(send.pixel(96, 207), (Rgb{0, 0, 255}));
  EXPECT_EQ(send.pixel(170, 100), (Rgb{0, 0, 255}));
}

TEST(ColourStep, TargetsFollowTheFileTypeAndTheSource) {
  const PictureType jpgGif = testing::colour567();
  EXPECT_EQ(colourTarget(jpgGif, SourceKind::Colour), 24);
  EXPECT_EQ(colourTarget(jpgGif, SourceKind::Bilevel), 1);
  EXPECT_EQ(internalFormat(jpgGif, SourceKind::Bilevel), "GIF");
  EXPECT_EQ(internalFormat(jpgGif, SourceKind::Colour), "JPG");
  EXPECT_EQ(internalFormat(testing::colour128(), SourceKind::Colour), "GIF");
  const PictureType oem = testing::type("panasonic_colorpicture", 132, 176, 100, 100, 16,
                                        "INTERNAL_MODULE", "WAP", "OEM");
  EXPECT_EQ(internalFormat(oem, SourceKind::Bilevel), "OEM");
  EXPECT_EQ(colourTarget(oem, SourceKind::Bilevel), 16);
  const PictureType jpg = testing::type("motorola_colorpicture", 120, 160, 100, 100, 24,
                                        "INTERNAL_MODULE", "WAP", "JPG");
  EXPECT_EQ(internalFormat(jpg, SourceKind::Bilevel), "JPG");
  EXPECT_EQ(colourTarget(jpg, SourceKind::Bilevel), 24);
}

TEST(ColourStep, ReducesRaisesGreysOrRefusesTheCount) {
  auto three = [](int x, int) {
    const Rgb c[] = {{250, 20, 20}, {20, 200, 40}, {30, 30, 220}};
    return c[x % 3];
  };
  Picture p = testing::picture(9, 3, three);
  EXPECT_FALSE(colourStep(p, testing::colour128(), SourceKind::Colour, Mode::Send, 100));
  EXPECT_EQ(p.bits(), 8);
  for (int x = 0; x < 3; ++x) EXPECT_EQ(p.pixel(x, 1), three(x, 0)) << x;  // palette holds them

  Picture g = testing::picture(2, 1, [](int x, int) {
    return x ? Rgb{0, 255, 0} : Rgb{255, 0, 0};
  });
  EXPECT_FALSE(colourStep(g, testing::colour128(), SourceKind::Grey, Mode::Send, 100));
  EXPECT_EQ(g.bits(), 8);
  EXPECT_EQ(g.pixel(0, 0), grey(76));
  EXPECT_EQ(g.pixel(1, 0), grey(149));

  // A 1-bit source on a "JPG/GIF" type: two colours by the nearest of black and white.
  Picture b = testing::picture(3, 1, [](int x, int) {
    const Rgb c[] = {grey(200), grey(60), {255, 0, 0}};
    return c[x];
  });
  EXPECT_FALSE(colourStep(b, testing::colour567(), SourceKind::Bilevel, Mode::Send, 100));
  EXPECT_EQ(b.bits(), 1);
  EXPECT_EQ(b.pixel(0, 0), kWhite);
  EXPECT_EQ(b.pixel(1, 0), kBlack);
  EXPECT_EQ(b.pixel(2, 0), kBlack);

  // 16 bits would be 65536 colours: refused with the count, the picture unchanged.
  const PictureType oem = testing::type("panasonic_colorpicture", 132, 176, 100, 100, 16,
                                        "INTERNAL_MODULE", "WAP", "OEM");
  Picture o = testing::picture(9, 3, three);
  const auto before = o.rgb();
  EXPECT_EQ(colourStep(o, oem, SourceKind::Colour, Mode::Send, 100), 65536);
  EXPECT_EQ(o.rgb(), before);
  EXPECT_EQ(o.bits(), 24);

  // The preview of a colour type is left alone; a 1-bit type thresholds in both modes.
  Picture v = testing::picture(9, 3, three);
  EXPECT_FALSE(colourStep(v, testing::colour128(), SourceKind::Colour, Mode::Preview, 100));
  EXPECT_EQ(v.bits(), 24);
  EXPECT_FALSE(colourStep(v, testing::opLogo(), SourceKind::Colour, Mode::Preview, 100));
  EXPECT_EQ(v.bits(), 1);
}

TEST(ColourStep, SixteenColoursDiffuseTheError) {
  // A smooth ramp reduced to 16 colours: every pixel is one of at most 16 colours.
  Picture p = testing::picture(64, 8, [](int x, int y) {
    return Rgb{uint8_t(x * 4), uint8_t(y * 30), uint8_t(255 - x * 4)};
  });
  const PictureType t16 = testing::type("t16", 64, 8, 100, 100, 4, "INTERNAL_MODULE", "WAP", "GIF");
  EXPECT_FALSE(colourStep(p, t16, SourceKind::Colour, Mode::Send, 100));
  EXPECT_EQ(p.bits(), 4);
  std::set<std::tuple<int, int, int>> colours;
  const auto px = p.rgb();
  for (size_t i = 0; i < px.size(); i += 3) colours.insert({px[i], px[i + 1], px[i + 2]});
  EXPECT_LE(colours.size(), 16u);
  EXPECT_GT(colours.size(), 4u);
}

TEST(PreviewGeometry, SizeAndOriginInThePhonesScreen) {
  // 72 x 14 at 200 %: 144 x 28, centred in (9, 20)-(175, 235): (9 + 11, 20 + 93).
  const PictureType logo = testing::opLogo();
  EXPECT_EQ(logo.previewSize().w, 144);
  EXPECT_EQ(logo.previewSize().h, 28);
  EXPECT_EQ(logo.previewOrigin().x, 20);
  EXPECT_EQ(logo.previewOrigin().y, 113);
  // 176 x 208 at 90 %: 158 x 187, at (9 + 4, 20 + 14).
  const PictureType c = testing::colour567();
  EXPECT_EQ(c.previewSize().w, 158);
  EXPECT_EQ(c.previewSize().h, 187);
  EXPECT_EQ(c.previewOrigin().x, 13);
  EXPECT_EQ(c.previewOrigin().y, 34);
}

TEST(Overlay, HintBannedWordsAndLineBreaks) {
  EXPECT_EQ(overlayShownText(""), "");
  EXPECT_EQ(overlayShownText(overlayHint()), "");
  EXPECT_EQ(overlayShownText(T("你好&世界")), "你好\n世界");
  EXPECT_EQ(overlayShownText(T("一二三赌博四五")), "");
  EXPECT_EQ(overlayShownText(T("Big CASINO night")), "");
  EXPECT_EQ(bannedWords().size(), 9u);
  for (const auto& w : bannedWords()) {
    EXPECT_EQ(overlayShownText(T("前") + *utf8ToGbk(w) + T("后")), "") << w;
  }
  // An innocent text stays.
  EXPECT_EQ(overlayShownText(T("春节快乐")), "春节快乐");
}

TEST(Overlay, SendPlacementScalesPositionAndFont) {
  Overlay o;
  o.position = {10, 6};
  o.font.height = -12;
  const PictureType t = testing::type("t", 72, 14, 200, 200, 1, "x", "SMS", "BMP");
  const TextPlacement p = sendPlacement(o, t);
  EXPECT_EQ(p.origin.x, 5);
  EXPECT_EQ(p.origin.y, 3);
  EXPECT_EQ(p.height, -6);
}

struct Ink {
  int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1, pixels = 0, grey = 0;
};
Ink inkOf(const Picture& p) {
  Ink ink;
  const auto px = p.rgb();
  for (int y = 0; y < p.height(); ++y) {
    for (int x = 0; x < p.width(); ++x) {
      const uint8_t* c = &px[(size_t(y) * p.width() + x) * 3];
      if (c[0] == 255 && c[1] == 255 && c[2] == 255) continue;
      if (c[0] != 0 || c[1] != 0 || c[2] != 0) ++ink.grey;
      ++ink.pixels;
      ink.left = std::min(ink.left, x);
      ink.right = std::max(ink.right, x);
      ink.top = std::min(ink.top, y);
      ink.bottom = std::max(ink.bottom, y);
    }
  }
  return ink;
}

TEST(Overlay, TextIsDrawnAtItsOriginWithoutAntiAliasingOnTwoLines) {
  OverlayFont font;
  Picture one = Picture::filled(144, 60, kWhite);
  drawText(one, "图片", {10, 6}, font, -12, kBlack, false);
  const Ink a = inkOf(one);
  ASSERT_GT(a.pixels, 20);
  EXPECT_EQ(a.grey, 0);  // pure ink
  EXPECT_GE(a.left, 10);
  EXPECT_LE(a.left, 13);
  EXPECT_GE(a.top, 6);
  EXPECT_LE(a.bottom, 6 + 14);
  Picture two = Picture::filled(144, 60, kWhite);
  drawText(two, overlayShownText(T("图片&图片")), {10, 6}, font, -12, kBlack, false);
  const Ink b = inkOf(two);
  EXPECT_GT(b.bottom - b.top, 2 * (a.bottom - a.top));
  EXPECT_EQ(b.pixels, 2 * a.pixels);
  EXPECT_LE(b.right, a.right);  // stacked, not side by side
  // With anti-aliasing the edges carry grey.
  Picture smooth = Picture::filled(144, 60, kWhite);
  drawText(smooth, "图片", {10, 6}, font, -12, kBlack, true);
  EXPECT_GT(inkOf(smooth).grey, 0);
  // Half the height at half the position, as the send picture gets it.
  Picture half = Picture::filled(72, 30, kWhite);
  drawText(half, "图片", {5, 3}, font, -6, kBlack, false);
  const Ink h = inkOf(half);
  EXPECT_GE(h.left, 5);
  EXPECT_GE(h.top, 3);
  EXPECT_LE(h.bottom, 3 + 8);
  EXPECT_LT(h.right - h.left, a.right - a.left);
}

TEST(Overlay, BannedTextLeavesThePreviewAsItWas) {
  Picture preview = Picture::filled(144, 28, kWhite);
  Overlay o;
  o.text = T("新年赌博快乐");
  EXPECT_EQ(withOverlay(preview, o, true).rgb(), preview.rgb());
  o.text = T("新年快乐");
  EXPECT_NE(withOverlay(preview, o, true).rgb(), preview.rgb());
}

TEST(Overlay, MovesStayWithinThePreview) {
  Overlay o;
  o.position = {140, 0};
  EXPECT_EQ(movedOverlay(o, {30, 12}, {144, 28}, 2, 0)->x, 142);
  o.position = {144, 0};
  EXPECT_FALSE(movedOverlay(o, {30, 12}, {144, 28}, 2, 0));
  o.position = {-28, 0};
  EXPECT_FALSE(movedOverlay(o, {30, 12}, {144, 28}, -4, 0));
  EXPECT_EQ(movedOverlay(o, {30, 12}, {144, 28}, -2, 0)->x, -30);
  o.position = {0, 28};
  EXPECT_FALSE(movedOverlay(o, {30, 12}, {144, 28}, 0, 2));
}

}  // namespace
}  // namespace hv::pictport
