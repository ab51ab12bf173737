#pragma once
// PNG files and picture comparison for the picture tests.
#include <cstdint>
#include <string>
#include <vector>

namespace flashtest {

struct Image {
  int width = 0, height = 0;
  std::vector<std::uint8_t> rgb;  // rows from the top, no padding
  const std::uint8_t* at(int x, int y) const {
    return &rgb[(std::size_t(y) * std::size_t(width) + std::size_t(x)) * 3];
  }
};

// False when the file cannot be read as PNG.
bool readPng(const std::string& path, Image& image);
bool writePng(const std::string& path, const Image& image);

struct Comparison {
  // Pixels with a channel off by more than the tolerance whose colour is also outside the range
  // of colours the other picture has within one pixel (so that anti-aliased edges pass).
  std::size_t outliers = 0;
  int largest = 0;   // the largest channel difference anywhere
  Image difference;  // the expected picture greyed, outliers in red
};

// Both images must have the same size (outliers = every pixel otherwise).
Comparison compare(const Image& expected, const Image& actual, int tolerance);

}  // namespace flashtest
