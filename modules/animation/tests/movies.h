#pragma once
// Movies for the animation module's tests, written with the engine's SWF writer: frame n (from
// 1) shows the whole stage in colour n, so a rendered frame tells which frame it was.
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "flash/tests/swf_writer.h"
#include "platform/fs.h"

namespace flicktest {

// Colour of frame n: (red, green, blue).
inline swftest::Color frameColour(int n) {
  return {std::uint8_t(n * 23 % 256), std::uint8_t(255 - n * 11 % 256), std::uint8_t(n * 37 % 256),
          255};
}

inline std::vector<std::uint8_t> colourMovie(int version, int frames, double fps = 12, int w = 40,
                                             int h = 30, bool compressed = false) {
  using namespace swftest;
  MovieWriter m(version, w, h, fps);
  m.background({255, 255, 255});
  for (int n = 1; n <= frames; ++n) {
    ShapeWriter s(1, {Fill::solid(frameColour(n))}, {});
    s.move(0, 0, -1, 1).rect(0, 0, w * 20, h * 20);
    m.add(DefineShape, defineShape(n, 0, w * 20, 0, h * 20, s.finish()));
    if (n > 1) m.add(RemoveObject2, removeObject2(1));
    m.add(PlaceObject2, place(n, 1));
    m.showFrame();
  }
  return m.bytes(compressed);
}

// A little scene: sky, a green hill and a ball that rolls across and bounces, one position per
// frame (stage w x h pixels); for the pictures of the dialog and for the benchmark.
inline std::vector<std::uint8_t> ballMovie(int version, int frames, int w = 176, int h = 208,
                                           double fps = 12) {
  using namespace swftest;
  MovieWriter m(version, w, h, fps);
  m.background({0xbf, 0xe3, 0xff});
  const std::int32_t W = w * 20, H = h * 20;
  ShapeWriter hill(1, {Fill::solid({0x4c, 0xa8, 0x4a, 255})}, {});
  hill.move(0, H * 3 / 4, -1, 1)
      .curve(W / 2, H * 5 / 8, W, H * 3 / 4)
      .line(W, H)
      .line(0, H)
      .line(0, H * 3 / 4);
  m.add(DefineShape, defineShape(1, 0, W, H * 5 / 8, H, hill.finish()));
  const std::int32_t r = std::min(W, H) / 9;
  ShapeWriter ball(1, {Fill::solid({0xf0, 0x6a, 0x1c, 255}), Fill::solid({0xff, 0xd4, 0x4a, 255})},
                   {});
  ball.move(r, 0, -1, 1);
  for (int k = 1; k <= 8; ++k) {
    const double a0 = (k - 0.5) * M_PI / 4, a1 = k * M_PI / 4, c = r / std::cos(M_PI / 8);
    ball.curve(std::int32_t(c * std::cos(a0)), std::int32_t(c * std::sin(a0)),
               std::int32_t(r * std::cos(a1)), std::int32_t(r * std::sin(a1)));
  }
  ball.move(r / 3, -r / 3, -1, 2)
      .line(r / 2, -r / 3)
      .line(r / 2, -r / 6)
      .line(r / 3, -r / 6)
      .line(r / 3, -r / 3);
  m.add(DefineShape, defineShape(2, -r, r, -r, r, ball.finish()));
  m.add(PlaceObject2, place(1, 1));
  for (int n = 0; n < frames; ++n) {
    const double t = frames > 1 ? double(n) / (frames - 1) : 0;
    M at;
    at.tx = std::int32_t(r + t * (W - 2 * r));
    at.ty = std::int32_t(H * 5 / 8 - r - std::abs(std::sin(t * 3 * M_PI)) * H / 3);
    if (n > 0) m.add(RemoveObject2, removeObject2(2));
    m.add(PlaceObject2, place(2, 2, at));
    m.showFrame();
  }
  return m.bytes();
}

// Two frames of 176 x 208, each a full-stage bitmap of 16-colour noise (about 30 KB as a GIF
// frame, so the two cannot share a 45000-byte file).
inline std::vector<std::uint8_t> noiseMovie() {
  using namespace swftest;
  const int w = 176, h = 208;
  MovieWriter m(5, w, h, 12);
  m.background({255, 255, 255});
  std::mt19937 gen(7);
  for (int n = 1; n <= 2; ++n) {
    std::vector<Color> px;
    for (int i = 0; i < w * h; ++i) {
      const auto v = gen();
      px.push_back({std::uint8_t(v & 0xC0), std::uint8_t((v >> 8) & 0xC0), 0, 255});
    }
    m.add(DefineBitsLossless, defineBitsLossless(n * 2, 5, w, h, px, false));
    M bm;
    bm.a = bm.d = 20;
    ShapeWriter pic(1, {Fill::bitmapFill(0x41, n * 2, bm)}, {});
    pic.move(0, 0, -1, 1).rect(0, 0, w * 20, h * 20);
    m.add(DefineShape, defineShape(n * 2 + 1, 0, w * 20, 0, h * 20, pic.finish()));
    if (n > 1) m.add(RemoveObject2, removeObject2(1));
    m.add(PlaceObject2, place(n * 2 + 1, 1));
    m.showFrame();
  }
  return m.bytes();
}

inline std::string writeMovie(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  hv::fs::writeFileAtomic(
      path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  return path;
}

}  // namespace flicktest
