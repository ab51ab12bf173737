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

namespace {

int channelDistance(const std::uint8_t* a, const std::uint8_t* b) {
  int d = 0;
  for (int k = 0; k < 3; ++k) d = std::max(d, std::abs(int(a[k]) - int(b[k])));
  return d;
}

// Whether `colour` lies, channel by channel, within the range the pixels of `image` around
// (x, y) span, widened by the tolerance: an anti-aliased edge pixel mixes the colours on both
// sides of the edge, so any mix of neighbouring colours is a plausible edge.
bool nearby(const Image& image, int x, int y, const std::uint8_t* colour, int tolerance) {
  int lo[3] = {255, 255, 255}, hi[3] = {0, 0, 0};
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx) {
      int nx = x + dx, ny = y + dy;
      if (nx < 0 || ny < 0 || nx >= image.width || ny >= image.height) continue;
      const std::uint8_t* p = image.at(nx, ny);
      for (int k = 0; k < 3; ++k)
        lo[k] = std::min(lo[k], int(p[k])), hi[k] = std::max(hi[k], int(p[k]));
    }
  for (int k = 0; k < 3; ++k)
    if (colour[k] < lo[k] - tolerance || colour[k] > hi[k] + tolerance) return false;
  return true;
}

}  // namespace

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
      int d = channelDistance(e, a);
      c.largest = std::max(c.largest, d);
      std::uint8_t* out =
          &c.difference.rgb[(std::size_t(y) * std::size_t(expected.width) + std::size_t(x)) * 3];
      // Anti-aliasing puts an edge's pixels a little differently in every renderer: a pixel
      // whose colour the other picture could have there, and the other way round, passes.
      bool off = d > tolerance &&
                 !(nearby(actual, x, y, e, tolerance) && nearby(expected, x, y, a, tolerance));
      if (off) {
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
