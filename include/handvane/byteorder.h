#pragma once
// Two byte orders meet in the suite: the delivery service's wire is big-endian, files and records
// exchanged between libraries are little-endian. Each has its own writer and reader so that the two
// are never mixed by accident.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace hv {

inline void storeBe32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}
inline uint32_t loadBe32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}
inline void storeLe32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}
inline uint32_t loadLe32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void storeLe16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline uint16_t loadLe16(const uint8_t* p) {
  return uint16_t(p[0] | p[1] << 8);
}

// Appends bytes to a buffer; Order selects how integers are laid out.
template <bool BigEndian>
class ByteWriter {
 public:
  explicit ByteWriter(std::vector<uint8_t>& out) : out_(out) {}
  void u8(uint8_t v) { out_.push_back(v); }
  void u16(uint16_t v) {
    if constexpr (BigEndian) {
      out_.push_back(uint8_t(v >> 8));
      out_.push_back(uint8_t(v));
    } else {
      out_.push_back(uint8_t(v));
      out_.push_back(uint8_t(v >> 8));
    }
  }
  void u32(uint32_t v) {
    uint8_t b[4];
    if constexpr (BigEndian)
      storeBe32(b, v);
    else
      storeLe32(b, v);
    out_.insert(out_.end(), b, b + 4);
  }
  void i32(int32_t v) { u32(uint32_t(v)); }
  void bytes(std::span<const uint8_t> s) { out_.insert(out_.end(), s.begin(), s.end()); }
  void bytes(const void* p, size_t n) {
    auto b = static_cast<const uint8_t*>(p);
    out_.insert(out_.end(), b, b + n);
  }
  // A fixed-width text field: the text cut to width, then zero bytes to the width.
  void field(std::string_view text, size_t width) {
    size_t n = text.size() < width ? text.size() : width;
    bytes(text.data(), n);
    out_.insert(out_.end(), width - n, 0);
  }
  size_t size() const { return out_.size(); }

 private:
  std::vector<uint8_t>& out_;
};
using WireWriter = ByteWriter<true>;   // delivery service wire: big-endian
using FileWriter = ByteWriter<false>;  // files and records: little-endian

// Reads from a byte span; every read checks that the bytes are there.
template <bool BigEndian>
class ByteReader {
 public:
  explicit ByteReader(std::span<const uint8_t> in) : in_(in) {}
  std::optional<uint8_t> u8() {
    if (remaining() < 1) return std::nullopt;
    return in_[pos_++];
  }
  std::optional<uint32_t> u32() {
    if (remaining() < 4) return std::nullopt;
    uint32_t v = BigEndian ? loadBe32(&in_[pos_]) : loadLe32(&in_[pos_]);
    pos_ += 4;
    return v;
  }
  std::optional<std::span<const uint8_t>> bytes(size_t n) {
    if (remaining() < n) return std::nullopt;
    auto s = in_.subspan(pos_, n);
    pos_ += n;
    return s;
  }
  size_t remaining() const { return in_.size() - pos_; }
  size_t position() const { return pos_; }

 private:
  std::span<const uint8_t> in_;
  size_t pos_ = 0;
};
using WireReader = ByteReader<true>;
using FileReader = ByteReader<false>;

}  // namespace hv
