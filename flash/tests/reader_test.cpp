// The reader below the exported interface: records from bytes worked out by hand from the field
// layouts of the SWF file format specification, the edge model's corner cases, bitmaps in every
// format, fonts and texts, and what the reader does with damaged input.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "flash/reader/movie.h"
#include "flash/reader/parse.h"
#include "flash/reader/tags.h"
#include "flash/tests/swf_writer.h"

using namespace flash;
using swf::Reader;

namespace {

// A movie of SWF `version` around the given tags (each already with its header), 550 x 400.
std::vector<std::uint8_t> movieOf(int version, const std::vector<std::vector<std::uint8_t>>& tags) {
  // "FWS", version, length, then RECT 0..11000 x 0..8000 in 15-bit fields, 12 fps, 1 frame.
  std::vector<std::uint8_t> b = {'F',  'W',  'S',  std::uint8_t(version),
                                 0,    0,    0,    0,
                                 0x78, 0x00, 0x05, 0x5f,
                                 0x00, 0x00, 0x0f, 0xa0,
                                 0x00, 0x00, 0x0c, 0x01,
                                 0x00};
  for (auto& t : tags) b.insert(b.end(), t.begin(), t.end());
  b.push_back(0x40);  // ShowFrame
  b.push_back(0x00);
  b.push_back(0);  // End
  b.push_back(0);
  std::uint32_t n = std::uint32_t(b.size());
  std::memcpy(&b[4], &n, 4);
  return b;
}

std::vector<std::uint8_t> longTag(int code, const std::vector<std::uint8_t>& body) {
  std::vector<std::uint8_t> t = {std::uint8_t((code << 6 | 0x3f) & 0xff), std::uint8_t(code >> 2)};
  std::uint32_t n = std::uint32_t(body.size());
  for (int i = 0; i < 4; ++i) t.push_back(std::uint8_t(n >> (8 * i)));
  t.insert(t.end(), body.begin(), body.end());
  return t;
}

std::unique_ptr<swf::Movie> read(const std::vector<std::uint8_t>& bytes, Limits limits = {}) {
  return swf::readMovie(bytes.data(), bytes.size(), limits);
}

template <class T>
const T& character(const swf::Movie& m, std::uint16_t id) {
  const swf::Character* c = m.find(id);
  EXPECT_NE(c, nullptr) << "character " << id;
  static const T none{};
  if (!c || !std::holds_alternative<T>(*c)) return none;
  return std::get<T>(*c);
}

TEST(Records, HeaderRectOfTheUsual550By400Stage) {
  auto bytes = movieOf(5, {});
  std::size_t length = 0;
  Header h = swf::parseHeader(bytes.data(), bytes.size(), &length);
  EXPECT_EQ(h.frame.xMin, 0);
  EXPECT_EQ(h.frame.xMax, 11000);
  EXPECT_EQ(h.frame.yMax, 8000);
  EXPECT_EQ(h.frameRate, 12 * 256);
  EXPECT_EQ(h.frameCount, 1);
  EXPECT_EQ(length, 21u);
}

TEST(Records, MatrixWithScaleAndNegativeTranslation) {
  // HasScale, 19-bit scales of 2.0 (0x20000), no rotation, 8-bit translation 100 and -50.
  const std::uint8_t bytes[] = {0xcd, 0x00, 0x00, 0x20, 0x00, 0x02, 0x19, 0x33, 0x80};
  Reader r(bytes, sizeof bytes);
  swf::Matrix m = swf::readMatrix(r);
  EXPECT_DOUBLE_EQ(m.a, 2.0);
  EXPECT_DOUBLE_EQ(m.d, 2.0);
  EXPECT_DOUBLE_EQ(m.b, 0.0);
  EXPECT_DOUBLE_EQ(m.c, 0.0);
  EXPECT_DOUBLE_EQ(m.tx, 100);
  EXPECT_DOUBLE_EQ(m.ty, -50);
  EXPECT_TRUE(r.atEnd());
}

TEST(Records, ColorTransformWithAlphaMultipliers) {
  // No add terms, multiply terms in 10 bits: red 0.5, green and blue 1, alpha 0.25.
  const std::uint8_t bytes[] = {0x68, 0x80, 0x40, 0x10, 0x01, 0x00};
  Reader r(bytes, sizeof bytes);
  swf::ColorTransform cx = swf::readCxform(r, true);
  EXPECT_DOUBLE_EQ(cx.rMul, 0.5);
  EXPECT_DOUBLE_EQ(cx.gMul, 1.0);
  EXPECT_DOUBLE_EQ(cx.aMul, 0.25);
  EXPECT_DOUBLE_EQ(cx.rAdd, 0);
  swf::Rgba c = cx.apply({200, 100, 50, 255});
  EXPECT_EQ(c.r, 100);
  EXPECT_EQ(c.g, 100);
  EXPECT_EQ(c.a, 63);
}

TEST(Records, BitFieldsAcrossBytesAndSignExtension) {
  const std::uint8_t bytes[] = {0b10110011, 0b01000000};
  Reader r(bytes, sizeof bytes);
  EXPECT_EQ(r.ubits(3), 0b101u);
  EXPECT_EQ(r.sbits(4), -7);     // 1001
  EXPECT_EQ(r.ubits(2), 0b10u);  // the last bit of the first byte, the first of the second
  // A byte read drops the rest of a partly read byte: nothing is left.
  EXPECT_THROW(r.u8(), swf::ReadError);
}

TEST(Shapes, SquareFromHandWrittenRecords) {
  // id 7, bounds 0..140 in 9-bit fields, one red solid fill, no lines; move to (20, 20) with
  // fill1 = 1; edges +100 across, +100 down, -100 across, -100 up.
  const std::vector<std::uint8_t> body = {0x07, 0x00, 0x48, 0x01, 0x18, 0x00, 0x46, 0x00, 0x01,
                                          0x00, 0xff, 0x00, 0x00, 0x00, 0x10, 0x14, 0xca, 0x29,
                                          0xd8, 0x64, 0xd9, 0x64, 0xd8, 0x9c, 0xd9, 0x9c, 0x00};
  auto m = read(movieOf(1, {longTag(swf::kDefineShape, body)}));
  ASSERT_TRUE(m->damage.ok()) << describe(m->damage);
  const auto& s = character<swf::Shape>(*m, 7);
  EXPECT_EQ(s.bounds.xMax, 140);
  ASSERT_EQ(s.layers.size(), 1u);
  ASSERT_EQ(s.layers[0].fills.size(), 1u);
  EXPECT_EQ(s.layers[0].fills[0].color, (swf::Rgba{255, 0, 0, 255}));
  ASSERT_EQ(s.layers[0].paths.size(), 1u);
  const swf::Path& p = s.layers[0].paths[0];
  EXPECT_EQ(p.fill0, 0u);
  EXPECT_EQ(p.fill1, 1u);
  EXPECT_EQ(p.line, 0u);
  EXPECT_DOUBLE_EQ(p.start.x, 20);
  EXPECT_DOUBLE_EQ(p.start.y, 20);
  ASSERT_EQ(p.segments.size(), 4u);
  const double to[4][2] = {{120, 20}, {120, 120}, {20, 120}, {20, 20}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_FALSE(p.segments[std::size_t(i)].curve);
    EXPECT_DOUBLE_EQ(p.segments[std::size_t(i)].to.x, to[i][0]) << i;
    EXPECT_DOUBLE_EQ(p.segments[std::size_t(i)].to.y, to[i][1]) << i;
  }
}

TEST(Shapes, GlyphWithCurveAndGeneralLine) {
  // SHAPE: 1 fill bit, 0 line bits; move to (10, -10) with fill0 = 1; a curve with control
  // delta (50, 0) and anchor delta (0, 50); a general line (-50, -40).
  const std::uint8_t bytes[] = {0x10, 0x0c, 0xaa, 0xb6, 0x63, 0x20, 0x00,
                                0x03, 0x2d, 0xb9, 0xdb, 0x00, 0x00};
  Reader r(bytes, sizeof bytes);
  swf::Budget budget(1 << 20);
  swf::Shape s = swf::readGlyphShape(r, budget);
  ASSERT_EQ(s.layers.size(), 1u);
  ASSERT_EQ(s.layers[0].paths.size(), 1u);
  const swf::Path& p = s.layers[0].paths[0];
  EXPECT_EQ(p.fill0, 1u);
  EXPECT_EQ(p.fill1, 0u);
  ASSERT_EQ(p.segments.size(), 2u);
  EXPECT_TRUE(p.segments[0].curve);
  EXPECT_DOUBLE_EQ(p.segments[0].control.x, 60);
  EXPECT_DOUBLE_EQ(p.segments[0].control.y, -10);
  EXPECT_DOUBLE_EQ(p.segments[0].to.x, 60);
  EXPECT_DOUBLE_EQ(p.segments[0].to.y, 40);
  EXPECT_FALSE(p.segments[1].curve);
  EXPECT_DOUBLE_EQ(p.segments[1].to.x, 10);
  EXPECT_DOUBLE_EQ(p.segments[1].to.y, 0);
}

TEST(Shapes, NewStylesMidShapeStartALayerWhoseIndicesAreItsOwn) {
  // DefineShape2 id 8: blue fill and a black 1-pixel line; move to (0, 0) with fill1 = 1 and
  // line 1; +100 across; then new styles [green, yellow] with no lines, fill0 = 1 of the new
  // array (written with the old bit counts); -100 across.
  const std::vector<std::uint8_t> body = {
      0x08, 0x00, 0x40, 0x03, 0x20, 0x03, 0x20, 0x01, 0x00, 0x00, 0x00, 0xff, 0x01,
      0x14, 0x00, 0x00, 0x00, 0x00, 0x11, 0x34, 0x27, 0xb0, 0xc8, 0x94, 0x02, 0x00,
      0x00, 0xff, 0x00, 0x00, 0xff, 0xff, 0x00, 0x00, 0x20, 0xd8, 0x9c, 0x00};
  auto m = read(movieOf(2, {longTag(swf::kDefineShape2, body)}));
  ASSERT_TRUE(m->damage.ok()) << describe(m->damage);
  const auto& s = character<swf::Shape>(*m, 8);
  ASSERT_EQ(s.layers.size(), 2u);
  EXPECT_EQ(s.layers[0].fills[0].color, (swf::Rgba{0, 0, 255, 255}));
  ASSERT_EQ(s.layers[0].lines.size(), 1u);
  EXPECT_EQ(s.layers[0].lines[0].width, 20);
  ASSERT_EQ(s.layers[0].paths.size(), 1u);
  EXPECT_EQ(s.layers[0].paths[0].line, 1u);
  ASSERT_EQ(s.layers[1].fills.size(), 2u);
  EXPECT_EQ(s.layers[1].fills[0].color, (swf::Rgba{0, 255, 0, 255}));
  EXPECT_TRUE(s.layers[1].lines.empty());
  ASSERT_EQ(s.layers[1].paths.size(), 1u);
  const swf::Path& p = s.layers[1].paths[0];
  // The new layer starts with no styles but the one its record names; the pen stays put.
  EXPECT_EQ(p.fill0, 1u);
  EXPECT_EQ(p.fill1, 0u);
  EXPECT_EQ(p.line, 0u);
  EXPECT_DOUBLE_EQ(p.start.x, 100);
  EXPECT_DOUBLE_EQ(p.segments[0].to.x, 0);
}

TEST(Shapes, FillOnBothSidesAndIndicesPastTheArray) {
  using namespace swftest;
  ShapeWriter w(2, {Fill::solid({1, 2, 3}), Fill::solid({4, 5, 6})}, {});
  w.move(0, 0, 1, 1).line(100, 0);     // the same fill on both sides of an inner edge
  w.change({false, 0, 0, -1, 3, -1});  // fill1 = 3 of an array of 2: no style
  w.line(100, 100);
  auto m =
      read(movieOf(5, {longTag(swf::kDefineShape2, defineShape(3, 0, 100, 0, 100, w.finish()))}));
  const auto& s = character<swf::Shape>(*m, 3);
  ASSERT_EQ(s.layers[0].paths.size(), 2u);
  EXPECT_EQ(s.layers[0].paths[0].fill0, 1u);
  EXPECT_EQ(s.layers[0].paths[0].fill1, 1u);
  EXPECT_EQ(s.layers[0].paths[1].fill0, 1u);  // kept from before
  EXPECT_EQ(s.layers[0].paths[1].fill1, 0u);  // 3 is past the array
}

TEST(Shapes, ExtendedStyleCountsAndGradients) {
  using namespace swftest;
  std::vector<Fill> fills(300, Fill::solid({9, 9, 9}));
  fills[299] = Fill::gradient(0x12, M{}, {{0, {255, 0, 0, 128}}, {255, {0, 0, 255, 255}}});
  ShapeWriter w(3, fills, {});
  w.move(0, 0, -1, 300).line(10, 10);
  auto m =
      read(movieOf(5, {longTag(swf::kDefineShape3, defineShape(4, 0, 10, 0, 10, w.finish()))}));
  ASSERT_TRUE(m->damage.ok()) << describe(m->damage);
  const auto& s = character<swf::Shape>(*m, 4);
  ASSERT_EQ(s.layers[0].fills.size(), 300u);
  const swf::FillStyle& g = s.layers[0].fills[299];
  EXPECT_EQ(g.kind, swf::FillStyle::Kind::Radial);
  ASSERT_EQ(g.stops.size(), 2u);
  EXPECT_EQ(g.stops[0].color, (swf::Rgba{255, 0, 0, 128}));
  EXPECT_EQ(g.stops[1].ratio, 255);
  EXPECT_EQ(s.layers[0].paths[0].fill1, 300u);
}

TEST(Shapes, MorphEdgesPairOneForOneAndStraightEdgesMeetCurves) {
  using namespace swftest;
  ShapeWriter a(0, {Fill{}}, {});
  a.move(0, 0, -1, 1).line(100, 0).line(100, 100);
  ShapeWriter b(0, {Fill{}}, {});
  b.move(10, 10).curve(60, -40, 110, 10).line(110, 110);
  MorphFillDef f;
  f.start = {255, 0, 0};
  f.end = {0, 0, 255};
  auto m = read(movieOf(
      5, {longTag(swf::kDefineMorphShape, defineMorphShape(5, {0, 100, 0, 100}, {10, 110, 10, 110},
                                                           {f}, {}, a.finish(), b.finish()))}));
  ASSERT_TRUE(m->damage.ok()) << describe(m->damage);
  const auto& morph = character<swf::MorphShape>(*m, 5);
  ASSERT_EQ(morph.start.size(), 1u);
  ASSERT_EQ(morph.end.size(), 1u);
  ASSERT_EQ(morph.start[0].segments.size(), 2u);
  ASSERT_EQ(morph.end[0].segments.size(), 2u);
  EXPECT_DOUBLE_EQ(morph.end[0].start.x, 10);
  // The straight start edge became a curve with its control point halfway.
  EXPECT_TRUE(morph.start[0].segments[0].curve);
  EXPECT_DOUBLE_EQ(morph.start[0].segments[0].control.x, 50);
  EXPECT_DOUBLE_EQ(morph.start[0].segments[0].control.y, 0);
  EXPECT_TRUE(morph.end[0].segments[0].curve);
  EXPECT_DOUBLE_EQ(morph.end[0].segments[0].control.y, -40);
  EXPECT_FALSE(morph.start[0].segments[1].curve);
  EXPECT_EQ(morph.fills[0].end.color, (swf::Rgba{0, 0, 255, 255}));
}

// ---- Bitmaps

std::vector<swftest::Color> pixels(int w, int h) {
  std::vector<swftest::Color> px;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      px.push_back(
          {std::uint8_t(x * 40), std::uint8_t(y * 60), std::uint8_t(x == y ? 255 : 0), 255});
  return px;
}

TEST(Bitmaps, LosslessFormatsDecodeToTheSamePixels) {
  using namespace swftest;
  const int w = 3, h = 2;  // a width that needs row padding
  auto px = pixels(w, h);
  auto m = read(
      movieOf(5, {longTag(swf::kDefineBitsLossless, defineBitsLossless(1, 5, w, h, px, false)),
                  longTag(swf::kDefineBitsLossless, defineBitsLossless(2, 3, w, h, px, false)),
                  longTag(swf::kDefineBitsLossless, defineBitsLossless(3, 4, w, h, px, false))}));
  ASSERT_TRUE(m->damage.ok()) << describe(m->damage);
  for (int id : {1, 2}) {
    const auto& b = character<swf::Bitmap>(*m, std::uint16_t(id));
    ASSERT_EQ(b.width, w);
    ASSERT_EQ(b.height, h);
    for (int i = 0; i < w * h; ++i) {
      EXPECT_EQ(b.rgba[std::size_t(i) * 4], px[std::size_t(i)].r) << id << " " << i;
      EXPECT_EQ(b.rgba[std::size_t(i) * 4 + 1], px[std::size_t(i)].g) << id << " " << i;
      EXPECT_EQ(b.rgba[std::size_t(i) * 4 + 2], px[std::size_t(i)].b) << id << " " << i;
      EXPECT_EQ(b.rgba[std::size_t(i) * 4 + 3], 255);
    }
  }
  // 15-bit: five bits a channel, widened by repeating the top bits (200 -> 25 -> 206).
  const auto& b15 = character<swf::Bitmap>(*m, 3);
  ASSERT_EQ(b15.width, w);
  EXPECT_EQ(b15.rgba[(1 * w + 2) * 4 + 0], 82);   // 80 >> 3 = 10 -> 10 << 3 | 10 >> 2 = 82
  EXPECT_EQ(b15.rgba[(1 * w + 2) * 4 + 1], 57);   // 60 >> 3 = 7 -> 56 | 1
  EXPECT_EQ(b15.rgba[(1 * w + 1) * 4 + 2], 255);  // 31 -> 248 | 7
}

TEST(Bitmaps, LosslessWithAlphaIsPremultiplied) {
  using namespace swftest;
  std::vector<Color> px = {{200, 100, 0, 128}, {255, 255, 255, 0}};
  auto m = read(
      movieOf(5, {longTag(swf::kDefineBitsLossless2, defineBitsLossless(1, 5, 2, 1, px, true)),
                  longTag(swf::kDefineBitsLossless2, defineBitsLossless(2, 3, 2, 1, px, true))}));
  for (int id : {1, 2}) {
    const auto& b = character<swf::Bitmap>(*m, std::uint16_t(id));
    ASSERT_EQ(b.rgba.size(), 8u) << id;
    EXPECT_EQ(b.rgba[0], 200 * 128 / 255) << id;
    EXPECT_EQ(b.rgba[1], 100 * 128 / 255) << id;
    EXPECT_EQ(b.rgba[3], 128) << id;
    EXPECT_EQ(b.rgba[4], 0) << id;
    EXPECT_EQ(b.rgba[7], 0) << id;
  }
}

TEST(Bitmaps, SizesBeyondTheLimitsAreRefusedBeforeDecoding) {
  using namespace swftest;
  // A lossless header claiming 9000 x 9000 pixels over a few bytes of data.
  Bits b;
  b.u16(1);
  b.u8(5);
  b.u16(9000);
  b.u16(9000);
  b.raw({0x78, 0x9c, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01});
  auto m = read(movieOf(5, {longTag(swf::kDefineBitsLossless, b.bytes())}));
  EXPECT_EQ(m->find(1), nullptr);
  EXPECT_EQ(m->damage.error, Error::TooLarge);
  EXPECT_EQ(m->damage.tag, swf::kDefineBitsLossless);
  // All bitmaps together are capped too.
  Limits small;
  small.bitmapBytes = 4 * 16 * 16;
  auto px = pixels(16, 16);
  auto two = read(
      movieOf(5, {longTag(swf::kDefineBitsLossless, defineBitsLossless(1, 5, 16, 16, px, false)),
                  longTag(swf::kDefineBitsLossless, defineBitsLossless(2, 5, 16, 16, px, false))}),
      small);
  EXPECT_NE(two->find(1), nullptr);
  EXPECT_EQ(two->find(2), nullptr);
  EXPECT_EQ(two->damage.error, Error::TooLarge);
}

TEST(Bitmaps, ShortLosslessDataKeepsWhatCameOut) {
  using namespace swftest;
  auto px = pixels(8, 8);
  auto body = defineBitsLossless(1, 5, 8, 8, px, false);
  body.resize(body.size() - 20);  // the zlib stream ends early
  auto m = read(movieOf(5, {longTag(swf::kDefineBitsLossless, body)}));
  const auto& b = character<swf::Bitmap>(*m, 1);
  ASSERT_EQ(b.width, 8);
  EXPECT_EQ(b.rgba[1], px[0].g);  // the first pixels arrived
}

TEST(Bitmaps, LosslessDataThatInflatesFarBeyondItsSizeIsReadOnlyAsFarAsNeeded) {
  // 2 x 2 pixels stated; the zlib stream holds 16 MiB (a small file that would expand).
  std::vector<std::uint8_t> zeros(16u << 20, 0);
  uLongf packedSize = compressBound(uLong(zeros.size()));
  std::vector<std::uint8_t> packed(packedSize);
  ASSERT_EQ(compress2(packed.data(), &packedSize, zeros.data(), uLong(zeros.size()), 9), Z_OK);
  packed.resize(packedSize);
  zeros = {};
  std::vector<std::uint8_t> body = {1, 0, 5, 2, 0, 2, 0};  // id 1, 32-bit pixels, 2 x 2
  body.insert(body.end(), packed.begin(), packed.end());
  Limits limits;
  limits.bitmapBytes = 1024;  // holds the 2 x 2 bitmap, not what the stream would make
  auto m = read(movieOf(5, {longTag(swf::kDefineBitsLossless, body)}), limits);
  ASSERT_TRUE(m);
  const auto& b = character<swf::Bitmap>(*m, 1);
  EXPECT_EQ(b.width, 2);
  EXPECT_EQ(b.height, 2);
  EXPECT_EQ(b.rgba.size(), 16u);
  EXPECT_TRUE(m->damage.ok());
}

TEST(Bitmaps, UndecodableJpegIsDamageAndNoCharacter) {
  using namespace swftest;
  auto m = read(movieOf(
      5, {longTag(swf::kDefineBitsJpeg2, withId(1, {0xff, 0xd8, 0xff, 0xdb, 0x00, 0x43, 0x01}))}));
  EXPECT_EQ(m->find(1), nullptr);
  EXPECT_EQ(m->damage.error, Error::BadImage);
  EXPECT_EQ(m->damage.tag, swf::kDefineBitsJpeg2);
}

// ---- Fonts, texts and timelines

TEST(Text, RunsCarryStyleAndPositionOver) {
  using namespace swftest;
  TextRecord a;
  a.font = 1, a.hasColor = true, a.color = {10, 20, 30}, a.hasX = true, a.x = 100, a.hasY = true,
  a.y = 200, a.height = 240;
  a.glyphs = {{0, 50}, {1, 70}};
  TextRecord b;  // no font, colour or x: they carry over, x after the advances
  b.hasY = true, b.y = 500;
  b.glyphs = {{1, 10}};
  auto m = read(
      movieOf(5, {longTag(swf::kDefineText, defineText(2, 1, {0, 1000, 0, 1000}, M{}, {a, b}))}));
  ASSERT_TRUE(m->damage.ok()) << describe(m->damage);
  const auto& t = character<swf::Text>(*m, 2);
  ASSERT_EQ(t.runs.size(), 2u);
  EXPECT_EQ(t.runs[1].fontId, 1);
  EXPECT_EQ(t.runs[1].color, (swf::Rgba{10, 20, 30, 255}));
  EXPECT_DOUBLE_EQ(t.runs[1].height, 240);
  EXPECT_DOUBLE_EQ(t.runs[1].x, 220);
  EXPECT_DOUBLE_EQ(t.runs[1].y, 500);
  EXPECT_EQ(t.runs[0].glyphs[1].advance, 70);
}

TEST(Text, FontInfoGivesDefineFontItsCodes) {
  using namespace swftest;
  ShapeWriter g(0, {Fill{}}, {});
  g.move(0, -100, -1, 1).rect(0, -100, 50, 0);
  auto glyph = g.finish();
  auto m = read(movieOf(5, {longTag(swf::kDefineFont, defineFont(1, {glyph, glyph})),
                            longTag(swf::kDefineFontInfo, defineFontInfo(1, "Mini", {'A', 'B'}))}));
  ASSERT_TRUE(m->damage.ok()) << describe(m->damage);
  const auto& f = character<swf::Font>(*m, 1);
  ASSERT_EQ(f.glyphs.size(), 2u);
  EXPECT_EQ(f.name, "Mini");
  EXPECT_EQ(f.codes, (std::vector<std::uint16_t>{'A', 'B'}));
  EXPECT_EQ(f.glyphs[1].layers[0].paths[0].segments.size(), 4u);
}

TEST(Text, EditTextFields) {
  using namespace swftest;
  EditTextDef e;
  e.font = 4, e.height = 300, e.hasLayout = true, e.align = 2, e.leading = -20, e.variable = "v",
  e.text = "hi";
  e.border = true, e.html = true;
  auto m = read(movieOf(5, {longTag(swf::kDefineEditText, defineEditText(3, e))}));
  ASSERT_TRUE(m->damage.ok()) << describe(m->damage);
  const auto& t = character<swf::EditText>(*m, 3);
  EXPECT_EQ(t.fontId, 4);
  EXPECT_DOUBLE_EQ(t.height, 300);
  EXPECT_EQ(t.align, 2);
  EXPECT_DOUBLE_EQ(t.leading, -20);
  EXPECT_EQ(t.variable, "v");
  EXPECT_EQ(t.text, "hi");
  EXPECT_TRUE(t.border);
  EXPECT_TRUE(t.html);
}

TEST(Timeline, SpritesLabelsAndPlacements) {
  using namespace swftest;
  SpriteWriter s;
  s.add(PlaceObject2, place(1, 1)).showFrame();
  s.add(RemoveObject2, removeObject2(1)).showFrame();
  Bits label;
  label.str("Go");
  Place p;
  p.depth = 3, p.id = 9, p.move = true, p.ratio = 7, p.name = "n", p.clipDepth = 5, p.hasCx = true;
  auto m = read(movieOf(
      5, {longTag(swf::kDefineSprite, s.finish(9)), longTag(swf::kFrameLabel, label.bytes()),
          longTag(swf::kPlaceObject2, placeObject2(p))}));
  ASSERT_TRUE(m->damage.ok()) << describe(m->damage);
  const auto& sprite = character<swf::Sprite>(*m, 9);
  EXPECT_EQ(sprite.frameCount, 2);
  ASSERT_EQ(sprite.timeline.frames.size(), 2u);
  EXPECT_EQ(sprite.timeline.frames[1][0].kind, swf::Placement::Kind::Remove);
  EXPECT_EQ(m->timeline.labels.at("go"), 1);
  const swf::Placement& q = m->timeline.frames[0][0];
  EXPECT_TRUE(q.move);
  EXPECT_EQ(q.characterId, 9);
  EXPECT_EQ(*q.ratio, 7);
  EXPECT_EQ(*q.name, "n");
  EXPECT_EQ(*q.clipDepth, 5);
  EXPECT_TRUE(q.cxform.has_value());
  EXPECT_FALSE(q.matrix.has_value());
}

TEST(Timeline, EveryCutOfAFileReadsOrFailsCleanly) {
  using namespace swftest;
  MovieWriter w(5, 100, 100);
  ShapeWriter s(3, {Fill::gradient(0x10, M{}, {{0, {1, 2, 3}}, {255, {4, 5, 6}}})},
                {Line{40, {0, 0, 0}}});
  s.move(0, 0, -1, 1, 1).curve(100, 0, 100, 100).line(0, 0);
  w.add(DefineShape3, defineShape(1, 0, 100, 0, 100, s.finish()));
  w.add(DefineBitsLossless, defineBitsLossless(2, 3, 4, 4, pixels(4, 4), false));
  SpriteWriter sp;
  sp.add(PlaceObject2, place(1, 1)).showFrame().showFrame();
  w.add(DefineSprite, sp.finish(3));
  w.add(PlaceObject2, place(3, 1)).showFrame();
  w.add(PlaceObject2, place(1, 2)).showFrame();
  auto whole = w.bytes();
  std::size_t header = 0;
  swf::parseHeader(whole.data(), whole.size(), &header);
  for (std::size_t n = 0; n < whole.size(); ++n) {
    std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + long(n));
    try {
      auto m = swf::readMovie(cut.data(), cut.size(), Limits{});
      // A file cut after its header reads up to the cut, and says where.
      EXPECT_GE(n, header);
      EXPECT_LE(m->timeline.frames.size(), 2u);
      EXPECT_FALSE(m->damage.ok()) << n;
    } catch (const swf::ReadError& e) {
      EXPECT_TRUE(e.failure().error == Error::TooShort || e.failure().error == Error::BadSignature)
          << n;
      EXPECT_LT(n, header) << n;
    }
  }
}

TEST(Timeline, RecordBudgetStopsAFileThatExpandsTooMuch) {
  using namespace swftest;
  ShapeWriter s(1, {Fill::solid({1, 1, 1})}, {});
  s.move(0, 0, -1, 1);
  for (int i = 0; i < 2000; ++i) s.line(i % 2 ? 0 : 10, i);
  Limits small;
  small.recordBytes = 10000;
  auto m = read(
      movieOf(5, {longTag(swf::kDefineShape, defineShape(1, 0, 10, 0, 2000, s.finish()))}), small);
  EXPECT_EQ(m->find(1), nullptr);
  EXPECT_EQ(m->damage.error, Error::TooLarge);
}

}  // namespace

// ---- Against an independent parser

namespace cross {

std::string run(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

std::string fmt(double v) {
  char b[32];
  std::snprintf(b, sizeof b, "%.0f", v);
  return b;
}

// Our reader's edges of one shape, in the listing format of yaswfp_shapes.py.
std::string listing(std::uint16_t id, const swf::Shape& s) {
  std::string out = "shape " + std::to_string(id) + "\n";
  for (const auto& layer : s.layers)
    for (const auto& path : layer.paths) {
      swf::Point from = path.start;
      for (const auto& seg : path.segments) {
        if (seg.curve)
          out += "curve " + fmt(from.x) + " " + fmt(from.y) + " " + fmt(seg.control.x) + " " +
                 fmt(seg.control.y) + " " + fmt(seg.to.x) + " " + fmt(seg.to.y) + "\n";
        else
          out += "edge " + fmt(from.x) + " " + fmt(from.y) + " " + fmt(seg.to.x) + " " +
                 fmt(seg.to.y) + "\n";
        from = seg.to;
      }
    }
  return out;
}

}  // namespace cross

TEST(Independent, ShapeEdgesAgreeWithYaswfp) {
  namespace fs = std::filesystem;
  const fs::path regress = fs::path(HV_SOURCE_DIR) / "flash" / "tests" / "regress";
  const std::string script =
      (fs::path(HV_SOURCE_DIR) / "flash" / "tests" / "yaswfp_shapes.py").string();
  int files = 0, shapes = 0;
  for (auto& e : fs::directory_iterator(regress)) {
    fs::path swfFile = e.path() / "test.swf";
    if (!fs::exists(swfFile)) continue;
    std::string theirs =
        cross::run("/usr/bin/python3 '" + script + "' '" + swfFile.string() + "' 2>/dev/null");
    std::ifstream in(swfFile, std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    auto m = read(bytes);
    std::string ours;
    std::istringstream lines(theirs);
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("shape ", 0) != 0) continue;
      std::uint16_t id = std::uint16_t(std::stoi(line.substr(6)));
      const swf::Character* c = m->find(id);
      ASSERT_TRUE(c && std::holds_alternative<swf::Shape>(*c)) << swfFile << " shape " << id;
      ours += cross::listing(id, std::get<swf::Shape>(*c));
      ++shapes;
    }
    EXPECT_EQ(ours, theirs) << swfFile;
    ++files;
  }
  EXPECT_GT(files, 20);
  EXPECT_GT(shapes, 100);  // yaswfp must really have run
}
