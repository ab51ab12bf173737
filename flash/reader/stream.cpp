#include "flash/reader/stream.h"

namespace flash::swf {

std::uint8_t Reader::u8() {
  align();
  need(1);
  return data_[pos_++];
}

std::uint16_t Reader::u16() {
  align();
  need(2);
  std::uint16_t v = std::uint16_t(data_[pos_] | (data_[pos_ + 1] << 8));
  pos_ += 2;
  return v;
}

std::uint32_t Reader::u32() {
  align();
  need(4);
  std::uint32_t v = std::uint32_t(data_[pos_]) | std::uint32_t(data_[pos_ + 1]) << 8 |
                    std::uint32_t(data_[pos_ + 2]) << 16 | std::uint32_t(data_[pos_ + 3]) << 24;
  pos_ += 4;
  return v;
}

std::string Reader::string() {
  align();
  std::size_t end = pos_;
  while (end < size_ && data_[end] != 0) ++end;
  std::string s(reinterpret_cast<const char*>(data_ + pos_), end - pos_);
  pos_ = end < size_ ? end + 1 : end;
  return s;
}

const std::uint8_t* Reader::bytes(std::size_t n) {
  align();
  need(n);
  const std::uint8_t* p = data_ + pos_;
  pos_ += n;
  return p;
}

Reader Reader::sub(std::size_t n) {
  std::uint64_t start = offset();
  const std::uint8_t* p = bytes(n);
  return Reader(p, n, start, tag_);
}

std::uint32_t Reader::ubits(int n) {
  std::uint32_t v = 0;
  while (n > 0) {
    if (bitCount_ == 0) {
      need(1);
      bitBuffer_ = data_[pos_++];
      bitCount_ = 8;
    }
    int take = n < bitCount_ ? n : bitCount_;
    std::uint32_t bits = (bitBuffer_ >> (bitCount_ - take)) & ((1u << take) - 1);
    v = (v << take) | bits;
    bitCount_ -= take;
    n -= take;
  }
  return v;
}

std::int32_t Reader::sbits(int n) {
  if (n == 0) return 0;
  std::uint32_t v = ubits(n);
  if (n < 32 && (v & (1u << (n - 1)))) v |= ~((1u << n) - 1);
  return static_cast<std::int32_t>(v);
}

}  // namespace flash::swf
