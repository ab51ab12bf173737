#include "userdata/userdata.h"

#include <algorithm>
#include <cassert>

namespace hv::userdata {

void InformationElement::appendTo(Bytes& out) const {
  assert(content.size() <= 255);
  out.push_back(id);
  out.push_back(uint8_t(content.size()));
  out.insert(out.end(), content.begin(), content.end());
}

InformationElement element(Element id, Bytes content) {
  return {uint8_t(id), std::move(content)};
}

InformationElement concatenation(uint8_t reference, uint8_t total, uint8_t sequence) {
  return element(Element::Concatenation8, {reference, total, sequence});
}

InformationElement ports8(uint8_t destination, uint8_t originator) {
  return element(Element::PortAddressing8, {destination, originator});
}

InformationElement ports16(uint16_t destination, uint16_t originator) {
  return element(Element::PortAddressing16, {uint8_t(destination >> 8), uint8_t(destination),
                                             uint8_t(originator >> 8), uint8_t(originator)});
}

InformationElement variablePicture(uint8_t position, uint8_t widthOctets, uint8_t height,
                                   std::span<const uint8_t> rows) {
  Bytes content = {position, widthOctets, height};
  content.insert(content.end(), rows.begin(), rows.end());
  return element(Element::VariablePicture, std::move(content));
}

InformationElement userDefinedSound(uint8_t position, std::string_view text) {
  Bytes content = {position};
  content.insert(content.end(), text.begin(), text.end());
  return element(Element::UserDefinedSound, std::move(content));
}

InformationElement userPrompt(uint8_t objects) {
  return element(Element::UserPrompt, {objects});
}

InformationElement objectDistribution(uint8_t objects, uint8_t attributes) {
  return element(Element::ObjectDistribution, {objects, attributes});
}

size_t Header::size() const {
  size_t n = 1;
  for (auto& e : elements_) n += e.size();
  return n;
}

void Header::appendTo(Bytes& out) const {
  out.push_back(uint8_t(length()));
  for (auto& e : elements_) e.appendTo(out);
}

Bytes Header::bytes() const {
  Bytes out;
  out.reserve(size());
  appendTo(out);
  return out;
}

std::vector<Bytes> concatenated(const Header& header, std::span<const uint8_t> body, size_t each,
                                uint8_t reference, size_t limit) {
  std::vector<Bytes> out;
  if (each == 0 || body.empty()) return out;
  const size_t count = std::min({(body.size() + each - 1) / each, limit, size_t(255)});
  for (size_t i = 0; i < count; ++i) {
    Header h = header;
    h.add(concatenation(reference, uint8_t(count), uint8_t(i + 1)));
    Bytes m = h.bytes();
    auto from = body.subspan(i * each, std::min(each, body.size() - i * each));
    m.insert(m.end(), from.begin(), from.end());
    out.push_back(std::move(m));
  }
  return out;
}

BitWriter& BitWriter::put(BitField field, uint32_t value) {
  bits_ += bitsOf(value, field.width);
  return *this;
}

BitWriter& BitWriter::fillOctet() {
  bits_.append(8 - bits_.size() % 8, '0');
  return *this;
}

BitWriter& BitWriter::append(const BitWriter& other) {
  bits_ += other.bits_;
  return *this;
}

Bytes BitWriter::bytes() const {
  return bytesOf(bits_);
}

std::string bitsOf(uint32_t value, unsigned width) {
  std::string s(width, '0');
  for (unsigned i = 0; i < width && i < 32; ++i)
    if (value >> i & 1) s[width - 1 - i] = '1';
  return s;
}

Bytes bytesOf(std::string_view bits) {
  Bytes out((bits.size() + 7) / 8, 0);
  for (size_t i = 0; i < bits.size(); ++i)
    if (bits[i] == '1') out[i / 8] |= uint8_t(0x80 >> (i % 8));
  return out;
}

}  // namespace hv::userdata
