#pragma once
// Pictures through Magick++ (ImageMagick 6) for the modules that convert them. Only JPEG, PNG,
// BMP and GIF files are decoded, recognised by their first bytes whatever their name says:
// ImageMagick's other coders (scripts, vector and document formats) never see a user's file.
// Showing a picture needs none of this: ui/UI/image.h loads files for showing through Qt.
#include <QImage>
#include <QSize>
#include <cstdint>
#include <string_view>
#include <vector>

#include "include/handvane/export.h"

namespace Magick {
class Image;
}

// Loads the file into image; non-zero on success (image untouched otherwise).
HV_EXPORT int LoadImage(Magick::Image& image, std::string_view path);
// As above, but a JPEG is decoded at the smallest of libjpeg's scales (1/8 steps) that still gives
// at least atLeastWidth x atLeastHeight pixels, which is far quicker for large photos and gives
// other pixels than a full decode followed by a resize. Other formats are read at full size.
HV_EXPORT int LoadImage(Magick::Image& image, std::string_view path, int atLeastWidth,
                        int atLeastHeight);
// Writes image in the format named by the path's extension (jpg/jpeg, png, bmp, gif); non-zero on
// success. The file is replaced atomically; another extension gives 0 and writes nothing.
HV_EXPORT int SaveImage(Magick::Image& image, std::string_view path);
HV_EXPORT QSize GetBmpSize(const Magick::Image& image);
// The image as a QImage (32-bit RGBA), for showing a Magick picture.
HV_EXPORT QImage ToQImage(const Magick::Image& image);

// One palette entry in the layout of a Windows RGBQUAD (blue, green, red, reserved).
struct PaletteEntry {
  uint8_t blue = 0;
  uint8_t green = 0;
  uint8_t red = 0;
  uint8_t reserved = 0;
};
static_assert(sizeof(PaletteEntry) == 4);

// Builds a palette of at most `colours` colours for a picture. `bits` is the colour resolution the
// colour tree works at, in bits per channel (1 to 8).
class HV_EXPORT CQuantizer {
 public:
  CQuantizer(unsigned colours, unsigned bits);
  // Builds the palette from the picture (which is not changed); false when it has no pixels.
  bool ProcessImage(const Magick::Image& dib);
  unsigned GetColorCount() const { return static_cast<unsigned>(palette_.size()); }
  // Copies the palette into table, which holds at least the `colours` given to the constructor.
  void SetColorTable(PaletteEntry* table) const;
  const std::vector<PaletteEntry>& palette() const { return palette_; }

 private:
  unsigned colours_;
  unsigned bits_;
  std::vector<PaletteEntry> palette_;
};
