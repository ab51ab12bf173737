#pragma once
// Picture files written byte by byte, so that what the readers give back is known beforehand.
#include <cstdint>
#include <string>

namespace hv::ui::testing {

inline void le32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}
inline void le16(std::string& s, uint16_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>(v >> 8);
}

// A 2x2 24-bit Windows BMP: bottom row first, each row padded to 4 bytes, pixels blue-green-red.
// Top row: red, green; bottom row: blue, white.
inline std::string twoByTwoBmp() {
  std::string b = "BM";
  le32(b, 14 + 40 + 16);
  le32(b, 0);
  le32(b, 54);
  le32(b, 40);
  le32(b, 2);
  le32(b, 2);
  le16(b, 1);
  le16(b, 24);
  le32(b, 0);
  le32(b, 16);
  le32(b, 2835);
  le32(b, 2835);
  le32(b, 0);
  le32(b, 0);
  b += std::string("\xFF\x00\x00\xFF\xFF\xFF\x00\x00", 8);  // blue, white, padding
  b += std::string("\x00\x00\xFF\x00\xFF\x00\x00\x00", 8);  // red, green, padding
  return b;
}

}  // namespace hv::ui::testing
