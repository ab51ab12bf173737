#pragma once
// The black-and-white input picture and the bitmap layouts that the phone formats carry it in.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace hv::logopack {

// A view of 3-byte pixels, rows from the top, no padding at row ends. Only the first byte of a
// pixel is looked at. A view can cover a vertical strip of a wider picture (stride > width).
class Picture {
 public:
  Picture(const uint8_t* pixels, size_t width, size_t height)
      : Picture(pixels, width, height, width) {}
  Picture(const uint8_t* pixels, size_t width, size_t height, size_t stride)
      : pixels_(pixels), width_(width), height_(height), stride_(stride) {}

  size_t width() const { return width_; }
  size_t height() const { return height_; }
  bool hasPixels() const { return pixels_ != nullptr; }
  // Ink (bit 1) is a first byte of 0x00; everything else is paper.
  bool ink(size_t x, size_t y) const { return first(x, y) == 0x00; }
  // Siemens pictures count white instead: a first byte of 0xFF is white, everything else black.
  bool white(size_t x, size_t y) const { return first(x, y) == 0xFF; }
  // Columns [x, x + width) of every row.
  Picture strip(size_t x, size_t width) const {
    return Picture(pixels_ + x * 3, width, height_, stride_);
  }

 private:
  uint8_t first(size_t x, size_t y) const { return pixels_[(y * stride_ + x) * 3]; }

  const uint8_t* pixels_;
  size_t width_;
  size_t height_;
  size_t stride_;
};

// Collects bits most significant first. The last byte is completed with zero bits.
class BitWriter {
 public:
  void bit(bool set);
  // Zero bits up to the next byte boundary.
  void padToByte() { bits_ = 0; }
  // Zero bytes until the size is a multiple of `unit` (BMP rows end on 4-byte boundaries).
  void padToMultiple(size_t unit);
  size_t size() const { return bytes_.size(); }
  std::vector<uint8_t> take() { return std::move(bytes_); }

 private:
  std::vector<uint8_t> bytes_;
  unsigned bits_ = 0;  // bits already used in the last byte; 0 starts a new byte
};

// Rows from the top by the ink rule, each byte's most significant bit first; a row that does not
// end on a byte boundary runs on into the next byte (the OTA bitmap of Nokia Smart Messaging).
std::vector<uint8_t> rowBitmap(const Picture& picture);

// The Alcatel object: width and height bytes, then each column from the left, its pixels from the
// top by the ink rule, padded with zero bits to a whole byte.
std::vector<uint8_t> columnBitmap(const Picture& picture);
size_t columnBitmapSize(size_t width, size_t height);

// A Windows BMP file of 1 bit per pixel with a black (0) and white (1) palette, rows bottom-up.
std::vector<uint8_t> bmpFile(const Picture& picture);
// Its size in bytes: 62 + stride * height, the stride being whole 32-bit words.
uint64_t bmpFileSize(uint64_t width, uint64_t height);

}  // namespace hv::logopack
