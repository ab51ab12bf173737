#pragma once
#include <cstddef>
#include <string_view>

namespace hv {

// GBK is a double-byte code: a lead byte 0x81-0xFE starts a two-byte character, every other byte
// stands alone. Returns the length of the longest prefix of text that is at most max bytes long
// and does not end in the middle of a character.
inline size_t gbkCutLength(std::string_view text, size_t max) {
  size_t i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t len = (c >= 0x81 && c <= 0xFE && i + 1 < text.size()) ? 2 : 1;
    if (i + len > max) break;
    i += len;
  }
  return i;
}

}  // namespace hv
