#include "encoder/message.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "include/handvane/byteorder.h"

namespace hv::logopack {

void FixedElement::write(uint8_t* out) {
  userdata::Bytes bytes;
  element_.appendTo(bytes);
  std::copy(bytes.begin(), bytes.end(), out);
}

void Concatenation::write(uint8_t* out) {
  userdata::Bytes bytes;
  userdata::concatenation(reference_, total_, sequence_++).appendTo(bytes);
  std::copy(bytes.begin(), bytes.end(), out);
}

void CSeoHeader::write(uint8_t* out) {
  std::vector<uint8_t> bytes;
  FileWriter w(bytes);
  w.bytes("//SEO", 5);
  w.u8(1);
  w.u16(packetBytes_);
  w.u32(reference_);
  w.u16(packet_++);
  w.u16(packets_);
  w.u32(objectSize_);
  w.u8(uint8_t(type_.size()));
  w.bytes(type_.data(), type_.size());
  w.u8(uint8_t(name_.size()));
  w.bytes(name_.data(), name_.size());
  assert(bytes.size() == size());
  std::copy(bytes.begin(), bytes.end(), out);
}

CMessageHeader CMessageHeader::seo(std::unique_ptr<CSeoHeader> header) {
  CMessageHeader h(false);
  h.add(std::move(header));
  return h;
}

size_t CMessageHeader::size() const {
  size_t n = lengthByte_ ? 1 : 0;
  for (auto& e : elements_) n += e->size();
  return n;
}

void CMessageHeader::write(uint8_t* out) {
  if (lengthByte_) *out++ = uint8_t(size() - 1);
  for (auto& e : elements_) {
    e->write(out);
    out += e->size();
  }
}

size_t CBodyItem::write(std::span<uint8_t> out) {
  const size_t n = std::min(out.size(), content_.size() - written_);
  std::copy_n(content_.begin() + long(written_), n, out.begin());
  written_ += n;
  return n;
}

size_t BmpObject::write(std::span<uint8_t> out) {
  const size_t n = CBodyItem::write(out);
  std::fill(out.begin() + long(n), out.end(), 0);
  return out.size();
}

std::unique_ptr<CBodyItem> fixedBytes(std::vector<uint8_t> bytes) {
  return std::make_unique<CBodyItem>(std::move(bytes));
}

std::unique_ptr<CBodyItem> otaBitmapHeader(uint8_t width, uint8_t height) {
  return fixedBytes({0x00, width, height, 0x01});
}

size_t CMessageBody::size() const {
  size_t n = 0;
  for (auto& item : items_) n += item->size();
  return n;
}

size_t CMessageBody::write(std::span<uint8_t> out) {
  size_t n = 0;
  for (auto& item : items_) {
    if (n == out.size()) break;
    if (item->done()) continue;
    n += item->write(out.subspan(n));
  }
  return n;
}

Record nextRecord(CMessageHeader& header, CMessageBody* body) {
  Record record(kMaxUserData, 0);
  const size_t headerSize = header.size();
  assert(headerSize <= kMaxUserData);
  header.write(record.data());
  size_t bodySize = 0;
  if (body) bodySize = body->write(std::span(record).subspan(headerSize));
  record.resize(headerSize + bodySize);
  return record;
}

std::vector<uint8_t> packMessages(const std::vector<Record>& records) {
  std::vector<uint8_t> out;
  FileWriter w(out);
  w.u32(uint32_t(records.size()));
  for (auto& r : records) {
    w.u32(uint32_t(r.size()));
    w.bytes(r);
    w.u8(0);
  }
  return out;
}

}  // namespace hv::logopack
