// The picture comparison itself: it must let anti-aliasing differences through and catch a wrong
// shape, colour, position or frame. Pictures are expected frames of the regression cases.
#include "flash/tests/images.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using flashtest::Image;

namespace {

const fs::path kCases = fs::path(HV_SOURCE_DIR) / "flash" / "tests" / "regress";

Image load(const std::string& file) {
  Image img;
  EXPECT_TRUE(flashtest::readPng((kCases / file).string(), img)) << file;
  return img;
}

// The budget the regression cases allow by default: 0.5% of the pixels.
std::size_t budget(const Image& img) {
  return std::size_t(img.width) * std::size_t(img.height) / 200;
}

Image shifted(const Image& src, int dx, int dy) {
  Image out = src;
  for (int y = 0; y < src.height; ++y)
    for (int x = 0; x < src.width; ++x) {
      int sx = std::clamp(x - dx, 0, src.width - 1), sy = std::clamp(y - dy, 0, src.height - 1);
      std::copy_n(src.at(sx, sy), 3,
                  &out.rgb[(std::size_t(y) * std::size_t(src.width) + std::size_t(x)) * 3]);
    }
  return out;
}

// Softer edges, as another anti-aliasing would give: half of each pixel shared out among its
// four neighbours.
Image blurred(const Image& src) {
  Image out = src;
  for (int y = 1; y + 1 < src.height; ++y)
    for (int x = 1; x + 1 < src.width; ++x)
      for (int k = 0; k < 3; ++k) {
        int sum = 4 * src.at(x, y)[k] + src.at(x - 1, y)[k] + src.at(x + 1, y)[k] +
                  src.at(x, y - 1)[k] + src.at(x, y + 1)[k];
        out.rgb[(std::size_t(y) * std::size_t(src.width) + std::size_t(x)) * 3 + std::size_t(k)] =
            std::uint8_t(sum / 8);
      }
  return out;
}

TEST(Comparison, SoftenedEdgesPass) {
  Image shapes = load("shapes-solid/expected-0001.png");
  EXPECT_EQ(flashtest::compare(shapes, shapes, 24).outliers, 0u);
  EXPECT_LE(flashtest::compare(shapes, blurred(shapes), 24).outliers, budget(shapes));
}

TEST(Comparison, AShiftOfTwoPixelsFails) {
  Image shapes = load("shapes-solid/expected-0001.png");
  EXPECT_GT(flashtest::compare(shapes, shifted(shapes, 2, 0), 24).outliers, budget(shapes));
  EXPECT_GT(flashtest::compare(shapes, shifted(shapes, 0, -3), 24).outliers, budget(shapes));
}

TEST(Comparison, AWrongColourFails) {
  Image g = load("gradients/expected-0001.png");
  Image bluer = g;
  for (std::size_t i = 2; i < bluer.rgb.size(); i += 3)
    bluer.rgb[i] = std::uint8_t(std::min(255, bluer.rgb[i] + 40));
  EXPECT_GT(flashtest::compare(g, bluer, 24).outliers, budget(g));
}

TEST(Comparison, TheNextFrameFails) {
  for (const char* c : {"morph", "display-list", "masks", "sprites"}) {
    Image a = load(std::string(c) + "/expected-0002.png"),
          b = load(std::string(c) + "/expected-0003.png");
    EXPECT_GT(flashtest::compare(a, b, 24).outliers, budget(a)) << c;
  }
}

TEST(Comparison, ADifferentSizeIsAllOutliers) {
  Image a = load("shapes-solid/expected-0001.png"), b = a;
  b.width -= 1;
  b.rgb.resize(std::size_t(b.width) * std::size_t(b.height) * 3);
  EXPECT_EQ(flashtest::compare(a, b, 24).outliers, std::size_t(a.width) * std::size_t(a.height));
}

}  // namespace
