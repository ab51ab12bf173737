#include "encoder/picture.h"

#include "include/handvane/byteorder.h"

namespace hv::logopack {

void BitWriter::bit(bool set) {
  if (bits_ == 0) bytes_.push_back(0);
  if (set) bytes_.back() |= uint8_t(0x80u >> bits_);
  bits_ = (bits_ + 1) % 8;
}

void BitWriter::padToMultiple(size_t unit) {
  padToByte();
  while (bytes_.size() % unit != 0) bytes_.push_back(0);
}

std::vector<uint8_t> rowBitmap(const Picture& picture) {
  BitWriter bits;
  for (size_t y = 0; y < picture.height(); ++y)
    for (size_t x = 0; x < picture.width(); ++x) bits.bit(picture.ink(x, y));
  return bits.take();
}

size_t columnBitmapSize(size_t width, size_t height) {
  return 2 + width * ((height + 7) / 8);
}

std::vector<uint8_t> columnBitmap(const Picture& picture) {
  BitWriter bits;
  for (uint8_t v : {uint8_t(picture.width()), uint8_t(picture.height())})
    for (int b = 7; b >= 0; --b) bits.bit(v >> b & 1);
  for (size_t x = 0; x < picture.width(); ++x) {
    for (size_t y = 0; y < picture.height(); ++y) bits.bit(picture.ink(x, y));
    bits.padToByte();
  }
  return bits.take();
}

namespace {
constexpr uint32_t kBmpHeaderSize = 14 + 40 + 2 * 4;  // file header, BITMAPINFOHEADER, palette

uint64_t bmpStride(uint64_t width) {
  return (width + 31) / 32 * 4;
}
}  // namespace

uint64_t bmpFileSize(uint64_t width, uint64_t height) {
  return kBmpHeaderSize + bmpStride(width) * height;
}

std::vector<uint8_t> bmpFile(const Picture& picture) {
  const auto width = uint32_t(picture.width());
  const auto height = uint32_t(picture.height());
  const auto pixelBytes = uint32_t(bmpStride(width) * height);
  std::vector<uint8_t> out;
  FileWriter w(out);
  w.bytes("BM", 2);
  w.u32(kBmpHeaderSize + pixelBytes);
  w.u32(0);
  w.u32(kBmpHeaderSize);
  w.u32(40);
  w.u32(width);
  w.u32(height);  // positive: the bottom row comes first
  w.u16(1);       // planes
  w.u16(1);       // bits per pixel
  w.u32(0);       // BI_RGB
  w.u32(pixelBytes);
  w.u32(0);                        // horizontal resolution
  w.u32(0);                        // vertical resolution
  w.u32(0);                        // colours used
  w.u32(0);                        // important colours
  w.u32(0x00000000);               // palette entry 0: black
  w.bytes("\xFF\xFF\xFF\x00", 4);  // palette entry 1: white

  BitWriter bits;
  for (size_t y = height; y-- > 0;) {
    for (size_t x = 0; x < width; ++x) bits.bit(picture.white(x, y));
    bits.padToMultiple(4);
  }
  w.bytes(bits.take());
  return out;
}

}  // namespace hv::logopack
