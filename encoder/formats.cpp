#include "encoder/formats.h"

#include <array>
#include <optional>

namespace hv::logopack {

std::string_view errorText(EncodeError error) {
  switch (error) {
    case EncodeError::UnknownFormat:
      return "unknown picture format";
    case EncodeError::BadSize:
      return "the picture size does not suit the format";
    case EncodeError::CannotCreate:
      return "the packed message file cannot be created";
    case EncodeError::CannotWrite:
      return "the packed message file cannot be written";
  }
  return "unknown error";
}

int resultCode(EncodeError error) {
  switch (error) {
    case EncodeError::UnknownFormat:
      return -1;
    case EncodeError::BadSize:
      return -2;
    case EncodeError::CannotCreate:
    case EncodeError::CannotWrite:
      return -3;
  }
  return -3;
}

RandomReferences::RandomReferences() {
  std::random_device entropy;
  std::seed_seq seed{entropy(), entropy(), entropy(), entropy()};
  engine_.seed(seed);
}

uint32_t RandomReferences::next(uint32_t maximum) {
  std::uniform_int_distribution<uint32_t> pick(0, maximum);
  std::lock_guard lock(mutex_);
  return pick(engine_);
}

ReferenceSource& processReferences() {
  static RandomReferences references;
  return references;
}

namespace {

// Concatenation references are 8-bit; 255 is kept out of use.
constexpr uint32_t kMaxConcatReference = 254;
constexpr size_t kMaxConcatMessages = 255;
constexpr uint32_t kMaxSeoReference = 32767;
constexpr size_t kSeoPacketBytes = 110;
// EMS pictures and Alcatel objects carry width and height in one byte each.
constexpr size_t kMaxByteDimension = 255;
// A variable picture element alone fills the message: 1 UDHL + 5 element bytes + the picture.
constexpr size_t kMaxEmsPictureBytes = kMaxUserData - 6;

enum class Family { Nokia, Siemens, Alcatel, Ems, Motorola };

// Nokia Smart Messaging picture types: the destination port and the bytes before the OTA bitmap.
struct NokiaLayout {
  uint16_t port = 0;
  uint8_t height = 0;
  std::array<uint8_t, 4> lead{};
  uint8_t leadSize = 0;
};

struct Format {
  std::string_view name;
  Family family;
  NokiaLayout nokia{};
};

constexpr Format kFormats[] = {
    // Mobile country code 460, network code 00, in Smart Messaging's BCD.
    {"nokia_op_logo", Family::Nokia, {0x1582, 14, {0x64, 0xF0, 0x00}, 3}},
    // The caller-group graphic is the OTA bitmap alone.
    {"nokia_cli_icon", Family::Nokia, {0x1583, 14, {}, 0}},
    // Version 0x30, item type (0x02 picture, 0x06 screensaver), item length 0x0100.
    {"nokia_picture", Family::Nokia, {0x158A, 28, {0x30, 0x02, 0x01, 0x00}, 4}},
    {"nokia_screensaver", Family::Nokia, {0x158A, 28, {0x30, 0x06, 0x01, 0x00}, 4}},
    {"siemens_standard_operator", Family::Siemens},
    {"siemens_3118_operator", Family::Siemens},
    {"siemens_3118_screensaver", Family::Siemens},
    {"siemens_screensaver", Family::Siemens},
    {"siemens_cli", Family::Siemens},
    {"alcatel_big_operator", Family::Alcatel},
    {"alcatel_small_operator", Family::Alcatel},
    {"alcatel_switch", Family::Alcatel},
    {"ems_40_25_picture", Family::Ems},
    {"ems_72_14_picture", Family::Ems},
    {"ems_big_picture", Family::Ems},
    {"motorola_388_big", Family::Motorola},
};

const Format* findFormat(std::string_view name) {
  for (auto& f : kFormats)
    if (f.name == name) return &f;
  return nullptr;
}

using Encoded = std::variant<std::vector<Record>, EncodeError>;

size_t ceilDiv(size_t a, size_t b) {
  return (a + b - 1) / b;
}

bool byteSized(const Picture& p) {
  return p.width() >= 1 && p.width() <= kMaxByteDimension && p.height() >= 1 &&
         p.height() <= kMaxByteDimension;
}

// One message when header and body fit in 140 bytes; otherwise a concatenation element joins the
// header and the body is spread over as many messages as it needs.
Encoded split(CMessageHeader header, CMessageBody body, ReferenceSource& references) {
  const size_t bodySize = body.size();
  size_t count = 1;
  if (!userdata::fits(header.size(), bodySize)) {
    count = userdata::segmentsFor(bodySize, header.size() + userdata::kConcatenationSize);
    if (count == 0 || count > kMaxConcatMessages) return EncodeError::BadSize;
    header.add(std::make_unique<Concatenation>(uint8_t(references.next(kMaxConcatReference)),
                                               uint8_t(count)));
  }
  std::vector<Record> records;
  for (size_t i = 0; i < count; ++i) records.push_back(nextRecord(header, &body));
  return records;
}

Encoded encodeNokia(const NokiaLayout& layout, const Picture& picture,
                    ReferenceSource& references) {
  if (picture.width() != 72 || picture.height() != layout.height) return EncodeError::BadSize;
  auto header = CMessageHeader::userDataHeader();
  header.add(std::make_unique<PortAddressing>(layout.port));
  CMessageBody body;
  if (layout.leadSize > 0)
    body.add(fixedBytes({layout.lead.begin(), layout.lead.begin() + layout.leadSize}));
  body.add(otaBitmapHeader(uint8_t(picture.width()), uint8_t(picture.height())));
  body.add(std::make_unique<CBodyItem>(rowBitmap(picture)));
  return split(std::move(header), std::move(body), references);
}

// The picture as a BMP file object, "1.bmp", in packets of 110 bytes behind a 30-byte header.
Encoded encodeSiemens(const Picture& picture, ReferenceSource& references) {
  if (picture.width() == 0 || picture.height() == 0) return EncodeError::BadSize;
  const uint64_t objectSize = bmpFileSize(picture.width(), picture.height());
  // Beyond 255 packets a phone is asked to collect an object no phone of the family can hold.
  if (objectSize > kMaxConcatMessages * kSeoPacketBytes) return EncodeError::BadSize;
  const size_t packets = ceilDiv(objectSize, kSeoPacketBytes);
  auto header = CMessageHeader::seo(
      std::make_unique<CSeoHeader>(uint16_t(kSeoPacketBytes), references.next(kMaxSeoReference),
                                   uint16_t(packets), uint32_t(objectSize), "bmp", "1.bmp"));
  CMessageBody body;
  body.add(std::make_unique<BmpObject>(bmpFile(picture)));
  std::vector<Record> records;
  for (size_t i = 0; i < packets; ++i) records.push_back(nextRecord(header, &body));
  return records;
}

Encoded encodeAlcatel(const Picture& picture, ReferenceSource& references) {
  if (!byteSized(picture)) return EncodeError::BadSize;
  auto header = CMessageHeader::userDataHeader();
  header.add(
      std::make_unique<ObjectSize>(uint16_t(columnBitmapSize(picture.width(), picture.height()))));
  CMessageBody body;
  body.add(std::make_unique<CBodyItem>(columnBitmap(picture)));
  return split(std::move(header), std::move(body), references);
}

Encoded encodeEms(const Picture& picture) {
  if (!byteSized(picture) || picture.width() % 8 != 0 ||
      picture.width() / 8 * picture.height() > kMaxEmsPictureBytes)
    return EncodeError::BadSize;
  auto header = CMessageHeader::userDataHeader();
  header.add(std::make_unique<VariablePicture>(uint8_t(picture.width() / 8),
                                               uint8_t(picture.height()), rowBitmap(picture)));
  return std::vector<Record>{nextRecord(header, nullptr)};
}

// Six concatenated EMS messages, each a variable picture of one 16 x 64 strip, from the left.
Encoded encodeMotorola(const Picture& picture, ReferenceSource& references) {
  constexpr size_t kStrips = 6, kStripWidth = 16;
  if (picture.width() != kStrips * kStripWidth || picture.height() != 64)
    return EncodeError::BadSize;
  const auto reference = uint8_t(references.next(kMaxConcatReference));
  std::vector<Record> records;
  for (size_t k = 0; k < kStrips; ++k) {
    auto header = CMessageHeader::userDataHeader();
    header.add(std::make_unique<Concatenation>(reference, uint8_t(kStrips), uint8_t(k + 1)));
    header.add(
        std::make_unique<VariablePicture>(uint8_t(kStripWidth / 8), uint8_t(picture.height()),
                                          rowBitmap(picture.strip(k * kStripWidth, kStripWidth))));
    records.push_back(nextRecord(header, nullptr));
  }
  return records;
}

}  // namespace

Encoded encode(std::string_view name, const Picture& picture, ReferenceSource& references) {
  const Format* format = findFormat(name);
  if (!format) return EncodeError::UnknownFormat;
  if (!picture.hasPixels()) return EncodeError::BadSize;
  switch (format->family) {
    case Family::Nokia:
      return encodeNokia(format->nokia, picture, references);
    case Family::Siemens:
      return encodeSiemens(picture, references);
    case Family::Alcatel:
      return encodeAlcatel(picture, references);
    case Family::Ems:
      return encodeEms(picture);
    case Family::Motorola:
      return encodeMotorola(picture, references);
  }
  return EncodeError::UnknownFormat;
}

}  // namespace hv::logopack
