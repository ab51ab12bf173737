#pragma once
// Short messages built from a header (the user-data header of 3GPP TS 23.040 9.2.3.24, or the
// Siemens "//SEO" object header) and a body that streams its items across as many messages as it
// takes.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "userdata/userdata.h"

namespace hv::logopack {

using userdata::kMaxUserData;
using Record = std::vector<uint8_t>;

class CHeaderElement {
 public:
  virtual ~CHeaderElement() = default;
  virtual size_t size() const = 0;
  // Writes exactly size() bytes at out.
  virtual void write(uint8_t* out) = 0;
};

// A fixed information element of the user-data header.
class FixedElement : public CHeaderElement {
 public:
  explicit FixedElement(userdata::InformationElement element) : element_(std::move(element)) {}
  size_t size() const override { return element_.size(); }
  void write(uint8_t* out) override;

 private:
  userdata::InformationElement element_;
};

// IE 0x05, application port addressing with 16-bit ports (3GPP TS 23.040 9.2.3.24.4); the source
// port is 0.
class PortAddressing : public FixedElement {
 public:
  explicit PortAddressing(uint16_t destination) : FixedElement(userdata::ports16(destination)) {}
};

// IE 0x00, concatenated short messages with an 8-bit reference (3GPP TS 23.040 9.2.3.24.1). The
// sequence number goes up by one each time the element is written.
class Concatenation : public CHeaderElement {
 public:
  Concatenation(uint8_t reference, uint8_t total, uint8_t firstSequence = 1)
      : reference_(reference), total_(total), sequence_(firstSequence) {}
  size_t size() const override { return userdata::kConcatenationSize; }
  void write(uint8_t* out) override;

 private:
  uint8_t reference_;
  uint8_t total_;
  uint8_t sequence_;
};

// IE 0x80 (SME to SME specific use) of the Alcatel picture messages: 00 04 and the size of the
// column bitmap object that follows.
class ObjectSize : public FixedElement {
 public:
  explicit ObjectSize(uint16_t objectSize)
      : FixedElement(
            userdata::element(userdata::Element::SmeSpecific,
                              {0x00, 0x04, uint8_t(objectSize >> 8), uint8_t(objectSize)})) {}
};

// IE 0x12, EMS variable picture (3GPP TS 23.040 9.2.3.24.10.1.9): position 0 in the text, width
// in bytes, height, then the picture rows.
class VariablePicture : public FixedElement {
 public:
  VariablePicture(uint8_t widthBytes, uint8_t height, const std::vector<uint8_t>& rows)
      : FixedElement(userdata::variablePicture(0, widthBytes, height, rows)) {}
};

// The header of one packet of a Siemens exchange object ("//SEO", version 1). Integers are
// little-endian. The packet number goes up by one each time the header is written.
class CSeoHeader : public CHeaderElement {
 public:
  CSeoHeader(uint16_t packetBytes, uint32_t reference, uint16_t packets, uint32_t objectSize,
             std::string type, std::string name)
      : packetBytes_(packetBytes),
        reference_(reference),
        packets_(packets),
        objectSize_(objectSize),
        type_(std::move(type)),
        name_(std::move(name)) {}
  size_t size() const override { return 22 + type_.size() + name_.size(); }
  void write(uint8_t* out) override;

 private:
  uint16_t packetBytes_;
  uint32_t reference_;
  uint16_t packets_;
  uint16_t packet_ = 1;
  uint32_t objectSize_;
  std::string type_;
  std::string name_;
};

// The elements of one message's header in order. A user-data header starts with its length byte
// (UDHL); a Siemens header is the bare CSeoHeader.
class CMessageHeader {
 public:
  static CMessageHeader userDataHeader() { return CMessageHeader(true); }
  static CMessageHeader seo(std::unique_ptr<CSeoHeader> header);

  void add(std::unique_ptr<CHeaderElement> element) { elements_.push_back(std::move(element)); }
  size_t size() const;
  // Writes size() bytes at out.
  void write(uint8_t* out);

 private:
  explicit CMessageHeader(bool lengthByte) : lengthByte_(lengthByte) {}
  bool lengthByte_;
  std::vector<std::unique_ptr<CHeaderElement>> elements_;
};

// One part of a message body. Asked for at most out.size() bytes, it writes the next part of its
// content not written yet and reports how many bytes it wrote.
class CBodyItem {
 public:
  explicit CBodyItem(std::vector<uint8_t> content) : content_(std::move(content)) {}
  virtual ~CBodyItem() = default;
  size_t size() const { return content_.size(); }
  bool done() const { return written_ >= content_.size(); }
  virtual size_t write(std::span<uint8_t> out);

 protected:
  std::vector<uint8_t> content_;
  size_t written_ = 0;
};

// A file object cut into fixed packets: every packet is full, the last one zero-filled after the
// object's end.
class BmpObject : public CBodyItem {
 public:
  using CBodyItem::CBodyItem;
  size_t write(std::span<uint8_t> out) override;
};

std::unique_ptr<CBodyItem> fixedBytes(std::vector<uint8_t> bytes);
// The OTA bitmap header of Nokia Smart Messaging: info field 0, width, height, depth 1.
std::unique_ptr<CBodyItem> otaBitmapHeader(uint8_t width, uint8_t height);

// The body items in order; each write continues where the previous message stopped.
class CMessageBody {
 public:
  void add(std::unique_ptr<CBodyItem> item) { items_.push_back(std::move(item)); }
  size_t size() const;
  size_t write(std::span<uint8_t> out);

 private:
  std::vector<std::unique_ptr<CBodyItem>> items_;
};

// One short message: the header, then as much of the body as fits in the rest of 140 bytes.
Record nextRecord(CMessageHeader& header, CMessageBody* body);

// The packed message file: the message count, then each message as a 32-bit length, its user
// data and a 0x00 separator; integers little-endian.
std::vector<uint8_t> packMessages(const std::vector<Record>& records);

}  // namespace hv::logopack
