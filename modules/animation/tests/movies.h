#pragma once
// Movies for the animation module's tests, written with the engine's SWF writer: frame n (from
// 1) shows the whole stage in colour n, so a rendered frame tells which frame it was.
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

inline std::string writeMovie(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  hv::fs::writeFileAtomic(
      path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  return path;
}

}  // namespace flicktest
