#pragma once
// Pictures the tests draw themselves, written as real files through ImageMagick, and the picture
// types of the shipped table the tests need.
#include <Magick++.h>

#include <cstring>
#include <functional>
#include <string>

#include "include/handvane/records.h"
#include "modules/image/pipeline.h"

namespace hv::pictport::testing {

// A w x h picture whose pixels f(x, y) gives.
inline Magick::Image drawn(int w, int h, const std::function<Rgb(int, int)>& f) {
  std::string rgb;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const Rgb c = f(x, y);
      rgb += char(c.r);
      rgb += char(c.g);
      rgb += char(c.b);
    }
  }
  Magick::Image img(size_t(w), size_t(h), "RGB", Magick::CharPixel, rgb.data());
  img.type(Magick::TrueColorType);
  return img;
}

inline Picture picture(int w, int h, const std::function<Rgb(int, int)>& f) {
  return Picture(drawn(w, h, f), 24);
}

inline Rgb grey(int v) {
  return {uint8_t(v), uint8_t(v), uint8_t(v)};
}

// Writes the image as the format; the file's path.
inline std::string writeAs(Magick::Image img, const std::string& path, const std::string& magick) {
  img.magick(magick);
  img.write(path);
  return path;
}

inline PictureType type(const char* key, int w, int h, int xscale, int yscale, int color,
                        const char* modulepath, const char* wtype, const char* filetype,
                        int smscount = 1) {
  PictureType t;
  copyField(t.info.imagetype, key);
  copyField(t.info.imagename, key);
  t.info.picwidth = w;
  t.info.picheight = h;
  t.info.xscale = xscale;
  t.info.yscale = yscale;
  t.info.color = color;
  copyField(t.info.modulepath, modulepath);
  copyField(t.info.wtype, wtype);
  copyField(t.info.filetype, filetype);
  t.info.smscount = smscount;
  t.modulePath = modulepath;
  return t;
}

// The shipped operator logo and two colour types, as the IMAGETYP table holds them.
inline PictureType opLogo() {
  return type("nokia_op_logo", 72, 14, 200, 200, 1, "libLogopack.so", "SMS", "BMP");
}
inline PictureType colour567() {
  return type("nokia_567_colorpicture", 176, 208, 90, 90, 24, "INTERNAL_MODULE", "WAP", "JPG/GIF");
}
inline PictureType colour128() {
  return type("nokia_128_colorpicture", 128, 128, 100, 100, 8, "INTERNAL_MODULE", "WAP", "GIF");
}

}  // namespace hv::pictport::testing
