#pragma once
// Bounds-checked reading of SWF's little-endian fields and bit fields. Every read past the end
// throws ReadError with the tag being read and the absolute file offset, so that a parser never
// touches memory outside its tag.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "flash/flash.h"

namespace flash::swf {

class ReadError : public std::exception {
 public:
  explicit ReadError(Failure failure) : failure_(failure) {}
  const char* what() const noexcept override { return errorText(failure_.error); }
  const Failure& failure() const { return failure_; }

 private:
  Failure failure_;
};

class Reader {
 public:
  // data[0] lies at file offset `base`; `tag` is reported with every error (-1 outside tags).
  Reader(const std::uint8_t* data, std::size_t size, std::uint64_t base = 0, int tag = -1)
      : data_(data), size_(size), base_(base), tag_(tag) {}

  std::uint8_t u8();
  std::uint16_t u16();
  std::uint32_t u32();
  std::int16_t s16() { return static_cast<std::int16_t>(u16()); }
  // 8.8 and 16.16 fixed point.
  double fixed8() { return s16() / 256.0; }
  double fixed16() { return static_cast<std::int32_t>(u32()) / 65536.0; }
  // A NUL-terminated string; the terminator is consumed. A string without one runs to the end.
  std::string string();
  // n bytes in place; throws when fewer remain.
  const std::uint8_t* bytes(std::size_t n);
  void skip(std::size_t n) { bytes(n); }
  // A reader over the next n bytes, which this reader skips.
  Reader sub(std::size_t n);

  // Bit fields, most significant bit first. Byte reads first drop a partly read byte.
  std::uint32_t ubits(int n);
  std::int32_t sbits(int n);
  double fbits(int n) { return sbits(n) / 65536.0; }
  bool flag() { return ubits(1) != 0; }
  void align() { bitCount_ = 0; }

  std::size_t remaining() const { return size_ - pos_; }
  bool atEnd() const { return pos_ >= size_; }
  std::uint64_t offset() const { return base_ + pos_; }
  int tag() const { return tag_; }
  const std::uint8_t* here() const { return data_ + pos_; }

  [[noreturn]] void fail(Error error) const { throw ReadError(Failure{error, tag_, offset()}); }

 private:
  void need(std::size_t n) const {
    if (n > size_ - pos_) fail(Error::Truncated);
  }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
  std::uint64_t base_;
  int tag_;
  std::uint32_t bitBuffer_ = 0;
  int bitCount_ = 0;
};

}  // namespace flash::swf
