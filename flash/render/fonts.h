#pragma once
// Device fonts for texts that do not embed their glyphs: the system's fonts found through
// fontconfig, outlines read with FreeType, scaled to an em square of 1024 like DefineFont glyphs
// (baseline at y = 0, y downwards). A character the chosen font lacks comes from the next font
// fontconfig suggests (so Chinese text finds a Chinese font).
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "flash/reader/records.h"

namespace flash::render {

class DeviceFonts {
 public:
  DeviceFonts();
  ~DeviceFonts();
  DeviceFonts(const DeviceFonts&) = delete;
  DeviceFonts& operator=(const DeviceFonts&) = delete;

  struct Glyph {
    swf::Shape shape;
    double advance = 0;  // em units of 1024
  };
  struct Metrics {
    double ascent = 0, descent = 0;  // em units of 1024
  };

  // family: "_sans", "_serif", "_typewriter" or a font name (an empty one means serif, as Flash
  // shows text fields without a font). Null when no font on the system has the character.
  const Glyph* glyph(const std::string& family, bool bold, bool italic, std::uint32_t codePoint);
  Metrics metrics(const std::string& family, bool bold, bool italic);

 private:
  struct Face;
  struct Family;
  Family& family(const std::string& name, bool bold, bool italic);

  void* library_ = nullptr;  // FT_Library
  std::map<std::tuple<std::string, bool, bool>, std::unique_ptr<Family>> families_;
};

}  // namespace flash::render
