#include "flash/tests/images.h"

#include <png.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace flashtest {

bool readPng(const std::string& path, Image& image) {
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&png, path.c_str())) return false;
  png.format = PNG_FORMAT_RGB;
  image.width = int(png.width);
  image.height = int(png.height);
  image.rgb.assign(PNG_IMAGE_SIZE(png), 0);
  // Transparent pixels of a screenshot become white, as on the page behind the player.
  png_color white{255, 255, 255};
  bool ok = png_image_finish_read(&png, &white, image.rgb.data(), 0, nullptr) != 0;
  png_image_free(&png);
  return ok;
}

bool writePng(const std::string& path, const Image& image) {
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  png.width = png_uint_32(image.width);
  png.height = png_uint_32(image.height);
  png.format = PNG_FORMAT_RGB;
  return png_image_write_to_file(&png, path.c_str(), 0, image.rgb.data(), image.width * 3,
                                 nullptr) != 0;
}

Comparison compare(const Image& expected, const Image& actual, int tolerance) {
  Comparison c;
  c.difference = expected;
  if (expected.width != actual.width || expected.height != actual.height) {
    c.outliers = std::size_t(expected.width) * std::size_t(expected.height);
    c.largest = 255;
    return c;
  }
  for (int y = 0; y < expected.height; ++y)
    for (int x = 0; x < expected.width; ++x) {
      const std::uint8_t *e = expected.at(x, y), *a = actual.at(x, y);
      int d = 0;
      for (int k = 0; k < 3; ++k) d = std::max(d, std::abs(int(e[k]) - int(a[k])));
      c.largest = std::max(c.largest, d);
      std::uint8_t* out =
          &c.difference.rgb[(std::size_t(y) * std::size_t(expected.width) + std::size_t(x)) * 3];
      if (d > tolerance) {
        ++c.outliers;
        out[0] = 255, out[1] = 0, out[2] = 0;
      } else {
        std::uint8_t grey = std::uint8_t(192 + (e[0] + e[1] + e[2]) / 12);
        out[0] = out[1] = out[2] = grey;
      }
    }
  return c;
}

}  // namespace flashtest
