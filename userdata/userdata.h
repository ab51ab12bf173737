#pragma once
// The user data of binary short messages (3GPP TS 23.040 9.2.3.24): information elements with
// their sizes, the user-data header with its length octet, the 140-octet limit and the cutting of
// a body into concatenated segments, and a bit writer for bit-packed bodies such as the Smart
// Messaging ringing tone. Shared by the picture encoder and the ringtone converter.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace hv::userdata {

using Bytes = std::vector<uint8_t>;

// The user data of one 8-bit short message is at most 140 octets (3GPP TS 23.040 9.2.3.16).
inline constexpr size_t kMaxUserData = 140;

// Information element identifiers (3GPP TS 23.040 9.2.3.24).
enum class Element : uint8_t {
  Concatenation8 = 0x00,      // 9.2.3.24.1, 8-bit reference
  PortAddressing8 = 0x04,     // 9.2.3.24.3
  PortAddressing16 = 0x05,    // 9.2.3.24.4
  UserDefinedSound = 0x0C,    // 9.2.3.24.10.1.3 (EMS)
  VariablePicture = 0x12,     // 9.2.3.24.10.1.9 (EMS)
  UserPrompt = 0x13,          // 9.2.3.24.10.1.10 (EMS)
  ObjectDistribution = 0x17,  // 9.2.3.24.10.1.15 (EMS)
  SmeSpecific = 0x80,         // 0x80-0x9F: SME to SME specific use
};

// One information element: identifier, length octet and content; size() counts all three.
struct InformationElement {
  uint8_t id = 0;
  Bytes content;
  size_t size() const { return 2 + content.size(); }
  void appendTo(Bytes& out) const;
};

InformationElement element(Element id, Bytes content);
// Concatenated short messages, 8-bit reference: reference, total, sequence from 1.
InformationElement concatenation(uint8_t reference, uint8_t total, uint8_t sequence);
inline constexpr size_t kConcatenationSize = 5;
// Application port addressing with 8-bit or 16-bit ports: destination, then originator.
InformationElement ports8(uint8_t destination, uint8_t originator = 0);
InformationElement ports16(uint16_t destination, uint16_t originator = 0);
// EMS variable picture: position in the text, width in octets, height, then the rows.
InformationElement variablePicture(uint8_t position, uint8_t widthOctets, uint8_t height,
                                   std::span<const uint8_t> rows);
// EMS user-defined sound: position in the text, then the iMelody text.
InformationElement userDefinedSound(uint8_t position, std::string_view text);
// EMS user prompt indicator: the number of objects that make up one prompt.
InformationElement userPrompt(uint8_t objects);
// EMS object distribution indicator: the number of objects it covers, and its attributes.
InformationElement objectDistribution(uint8_t objects, uint8_t attributes);

// The user-data header: the length octet (UDHL, the octets after it), then the elements in order.
class Header {
 public:
  Header() = default;
  explicit Header(std::vector<InformationElement> elements) : elements_(std::move(elements)) {}
  Header& add(InformationElement e) {
    elements_.push_back(std::move(e));
    return *this;
  }
  // 1 + the sizes of the elements.
  size_t size() const;
  // The UDHL octet's value, size() - 1.
  size_t length() const { return size() - 1; }
  const std::vector<InformationElement>& elements() const { return elements_; }
  std::vector<InformationElement>& elements() { return elements_; }
  void appendTo(Bytes& out) const;
  Bytes bytes() const;

 private:
  std::vector<InformationElement> elements_;
};

// Whether a header of headerSize octets and a body of bodySize octets make one message.
constexpr bool fits(size_t headerSize, size_t bodySize) {
  return headerSize <= kMaxUserData && bodySize <= kMaxUserData - headerSize;
}
// The body octets a message with this header has room for.
constexpr size_t room(size_t headerSize) {
  return headerSize < kMaxUserData ? kMaxUserData - headerSize : 0;
}
// The messages a body needs behind a header of headerSize octets (0 when the header leaves no
// room).
constexpr size_t segmentsFor(size_t bodySize, size_t headerSize) {
  const size_t r = room(headerSize);
  return r == 0 ? 0 : (bodySize + r - 1) / r;
}

// A body cut into consecutive slices of `each` octets (the last one shorter), each behind
// `header` and a concatenation element (reference, the number of slices, the slice's number
// from 1) appended to it. At most `limit` slices are cut; the rest of the body is left out.
std::vector<Bytes> concatenated(const Header& header, std::span<const uint8_t> body, size_t each,
                                uint8_t reference, size_t limit = 255);

// A field of a bit-packed body: its name (for reading the code) and its width in bits.
struct BitField {
  std::string_view name;
  unsigned width;
};

// Writes fields most significant bit first. The bits are kept as text of '0' and '1', the form
// the ringtone encodings are specified and tested in.
class BitWriter {
 public:
  // `value` in field.width bits; higher bits of value are dropped.
  BitWriter& put(BitField field, uint32_t value);
  // Zero bits up to the next octet boundary; a writer already on one gets a whole octet of them
  // (the filler of a Smart Messaging command part).
  BitWriter& fillOctet();
  BitWriter& append(const BitWriter& other);
  size_t size() const { return bits_.size(); }
  const std::string& bits() const { return bits_; }
  Bytes bytes() const;

 private:
  std::string bits_;
};

// `value` as exactly `width` bits of text, most significant first.
std::string bitsOf(uint32_t value, unsigned width);
// Every 8 characters of '0'/'1' text as one octet; a short last group is padded with 0 bits.
Bytes bytesOf(std::string_view bits);

}  // namespace hv::userdata
