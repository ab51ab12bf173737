#pragma once
// The record parsers behind readMovie, one per family of definition tags. Each reads the body of
// one tag (after its character id) and throws ReadError for what it cannot read.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "flash/reader/movie.h"
#include "flash/reader/stream.h"

namespace flash::swf {

// What parsed records may cost in memory, charged as they are built, so that a small file
// cannot expand into an unbounded number of records.
class Budget {
 public:
  explicit Budget(std::size_t limit) : limit_(limit) {}
  void charge(std::size_t bytes, const Reader& at) {
    if (bytes > limit_ - used_) {
      exhausted_ = true;
      at.fail(Error::TooLarge);
    }
    used_ += bytes;
  }
  // Once exhausted, nothing more can be read: the reading of the file ends.
  bool exhausted() const { return exhausted_; }

 private:
  std::size_t limit_;
  std::size_t used_ = 0;
  bool exhausted_ = false;
};

Rect readRect(Reader& r);
Matrix readMatrix(Reader& r);
// CXFORM (without alpha) or CXFORMWITHALPHA.
ColorTransform readCxform(Reader& r, bool withAlpha);
Rgba readRgb(Reader& r);
Rgba readRgba(Reader& r);

// SHAPEWITHSTYLE of DefineShape `version` (1..4) after the bounds (and DefineShape4's edge
// bounds and flags).
Shape readShapeWithStyle(Reader& r, int version, Budget& budget);
// A SHAPE without styles (font glyphs): fill style 1 is the text colour.
Shape readGlyphShape(Reader& r, Budget& budget);
// DefineMorphShape (version 1) or DefineMorphShape2 after the character id.
MorphShape readMorphShape(Reader& r, int version, Budget& budget);

// Bitmap decoders. `data` is the image as the tag holds it (after id and any offsets).
struct BitmapLimits {
  int side;
  std::size_t* bytesLeft;  // decoded bytes still allowed; reduced by each bitmap
};
// JPEG (with optional separate tables, as DefineBits uses), PNG or GIF data, detected by its
// first bytes. `alpha`, when given, is the zlib-compressed alpha plane of DefineBitsJPEG3.
Bitmap decodeImage(Reader& at, const std::uint8_t* data, std::size_t size,
                   const std::vector<std::uint8_t>* jpegTables, const std::uint8_t* alpha,
                   std::size_t alphaSize, const BitmapLimits& limits);
// DefineBitsLossless(2) after the character id.
Bitmap readLossless(Reader& r, bool withAlpha, const BitmapLimits& limits);

// Fonts and texts after the character id.
Font readFont1(Reader& r, Budget& budget);
Font readFont2(Reader& r, bool font3, Budget& budget);
// DefineFontInfo(2) into an existing font.
void readFontInfo(Reader& r, bool info2, Font& font);
Text readText(Reader& r, bool text2, Budget& budget);
EditText readEditText(Reader& r);

}  // namespace flash::swf
