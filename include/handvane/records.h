#pragma once
// Fixed record layouts exchanged between the suite's libraries. Text fields are NUL-terminated,
// zero-filled GBK; integers are little-endian (the suite runs on little-endian machines only, which
// the static_assert below makes explicit).
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "include/handvane/byteorder.h"
#include "include/handvane/gbkcut.h"

static_assert(std::endian::native == std::endian::little,
              "records are little-endian and copied whole");

namespace hv {

// The window message that every module asks the service client to post with a send's result.
inline constexpr uint32_t kSendCompleteMessage = 0x401;

// Completion notice of a send: four 32-bit words, copied by the entry point.
struct SendNotice {
  uint32_t window;   // window id that receives the result message
  uint32_t message;  // message number to post (0x401)
  uint32_t show;     // non-zero shows the progress dialog
  uint32_t wparam;   // word parameter of the result message
};
static_assert(sizeof(SendNotice) == 16);

// One friend of the friends table.
struct FriendRecord {
  int32_t id;
  char mobilenum[12];
  char mobiletype[30];
  char nickname[20];
  char name[22];
  int32_t age;
  char sex[10];
  char email[30];
  char qq[15];
  char msn[30];
  char address[30];
  char postcode[9];
};
static_assert(sizeof(FriendRecord) == 216);
static_assert(offsetof(FriendRecord, age) == 88 && offsetof(FriendRecord, postcode) == 207);

// One phone model of the PHONE table.
struct ModelRecord {
  char phonetype[21];
  char modelname[51];
};
static_assert(sizeof(ModelRecord) == 72);

// One picture type of the IMAGETYP table.
struct IMAGETYPE_INFO {
  char imagetype[44];
  char imagename[44];
  int32_t picwidth;
  int32_t picheight;
  int32_t xscale;
  int32_t yscale;
  int32_t x0;
  int32_t y0;
  int32_t color;
  char filepath[104];
  char modulepath[104];
  char wtype[4];
  char filetype[24];
  int32_t smscount;
};
static_assert(sizeof(IMAGETYPE_INFO) == 356);
static_assert(offsetof(IMAGETYPE_INFO, filepath) == 116 &&
              offsetof(IMAGETYPE_INFO, smscount) == 352);

// The login state block that LOGIN_GetState copies out.
struct LoginState {
  char userId[50];
  char password[50];
  int32_t state;  // 0 not signed in, 1 working without the service, 2 signed in
};
static_assert(sizeof(LoginState) == 104);

enum class LoginStateCode : int32_t { SignedOut = 0, Offline = 1, SignedIn = 2 };

// The request header of a send. Its size depends on the number of recipients N and the
// attachment type:
//   0 launch tag (10) | 10 service code (3) | 13 content class (5) | 18 N (1) |
//   19 recipients (20 x N) | 19+20N sender (20) | 39+20N phone model (40) |
//   79+20N content kind (40) | 119+20N "00000000" (8) | 127+20N content type (4) |
//   131+20N attachment type (1) | 132+20N attachment descriptor (44) | 176+20N attachment path
//   (256)
namespace header {
inline constexpr size_t kLaunchTag = 0, kLaunchTagWidth = 10;
inline constexpr size_t kServiceCode = 10, kServiceCodeWidth = 3;
inline constexpr size_t kContentClass = 13, kContentClassWidth = 5;
inline constexpr size_t kRecipientCount = 18;
inline constexpr size_t kRecipients = 19, kNumberWidth = 20;
inline constexpr size_t kModelWidth = 40, kContentKindWidth = 40, kZerosWidth = 8,
                        kContentTypeWidth = 4, kDescriptorWidth = 44, kAttachPathWidth = 256;
inline constexpr int kMaxRecipients = 255;

constexpr size_t sender(size_t n) {
  return 19 + 20 * n;
}
constexpr size_t model(size_t n) {
  return 39 + 20 * n;
}
constexpr size_t contentKind(size_t n) {
  return 79 + 20 * n;
}
constexpr size_t zeros(size_t n) {
  return 119 + 20 * n;
}
constexpr size_t contentType(size_t n) {
  return 127 + 20 * n;
}
constexpr size_t attachType(size_t n) {
  return 131 + 20 * n;
}
constexpr size_t descriptor(size_t n) {
  return 132 + 20 * n;
}
constexpr size_t attachPath(size_t n) {
  return 176 + 20 * n;
}
// Bytes of the header for N recipients and an attachment type; 0 for an unknown type.
constexpr size_t size(size_t n, int attachmentType) {
  switch (attachmentType) {
    case 0:
      return 132 + 20 * n;
    case 2:
      return 176 + 20 * n;
    case 1:
      return 432 + 20 * n;
    default:
      return 0;
  }
}
static_assert(size(1, 0) == 152);
}  // namespace header

// Builds and reads a request header in its wire layout.
class MessageHeader {
 public:
  MessageHeader(size_t recipients, int attachmentType = 0)
      : bytes_(header::size(recipients, attachmentType), 0) {
    bytes_[header::kRecipientCount] = uint8_t(recipients);
    bytes_[header::attachType(recipients)] = uint8_t(attachmentType);
    setText(header::zeros(recipients), header::kZerosWidth, "00000000");
  }
  // Reads a header from the start of a block; nullopt when the block is shorter than the size
  // its N and attachment type call for, or the attachment type is unknown.
  static std::optional<MessageHeader> parse(std::span<const uint8_t> block) {
    if (block.size() <= header::kRecipientCount) return std::nullopt;
    size_t n = block[header::kRecipientCount];
    if (block.size() <= header::attachType(n)) return std::nullopt;
    size_t sz = header::size(n, block[header::attachType(n)]);
    if (sz == 0 || block.size() < sz) return std::nullopt;
    MessageHeader h;
    h.bytes_.assign(block.begin(), block.begin() + sz);
    return h;
  }

  size_t recipients() const { return bytes_[header::kRecipientCount]; }
  int attachmentType() const { return bytes_[header::attachType(recipients())]; }

  void setLaunchTag(std::string_view s) { setText(header::kLaunchTag, header::kLaunchTagWidth, s); }
  void setServiceCode(std::string_view s) {
    setText(header::kServiceCode, header::kServiceCodeWidth, s);
  }
  void setContentClass(std::string_view s) {
    setText(header::kContentClass, header::kContentClassWidth, s);
  }
  void setRecipient(size_t i, std::string_view s) {
    setText(header::kRecipients + 20 * i, 20, s, true);
  }
  void setSender(std::string_view s) { setText(header::sender(recipients()), 20, s, true); }
  void setModel(std::string_view s) {
    setText(header::model(recipients()), header::kModelWidth, s, true);
  }
  void setContentKind(std::string_view s) {
    setText(header::contentKind(recipients()), header::kContentKindWidth, s, true);
  }
  void setContentType(std::string_view s) {
    setText(header::contentType(recipients()), header::kContentTypeWidth, s);
  }
  void setAttachmentPath(std::string_view s) {
    if (attachmentType() == 1)
      setText(header::attachPath(recipients()), header::kAttachPathWidth, s, true);
  }

  std::string launchTag() const { return text(header::kLaunchTag, header::kLaunchTagWidth); }
  std::string serviceCode() const { return text(header::kServiceCode, header::kServiceCodeWidth); }
  std::string contentClass() const {
    return text(header::kContentClass, header::kContentClassWidth);
  }
  std::string recipient(size_t i) const { return text(header::kRecipients + 20 * i, 20); }
  std::string sender() const { return text(header::sender(recipients()), 20); }
  std::string model() const { return text(header::model(recipients()), header::kModelWidth); }
  std::string contentKind() const {
    return text(header::contentKind(recipients()), header::kContentKindWidth);
  }
  std::string contentType() const {
    return text(header::contentType(recipients()), header::kContentTypeWidth);
  }
  std::string attachmentPath() const {
    return attachmentType() == 1 ? text(header::attachPath(recipients()), header::kAttachPathWidth)
                                 : std::string();
  }

  const std::vector<uint8_t>& bytes() const { return bytes_; }
  const uint8_t* data() const { return bytes_.data(); }
  size_t size() const { return bytes_.size(); }

 private:
  MessageHeader() = default;
  // A field holds its text zero-filled, cut on a GBK character boundary. The short code fields
  // (launch tag, service code, content class) may be filled to their width without a terminator,
  // as the service reads them by width; the numbers, names and the path always keep one.
  void setText(size_t off, size_t width, std::string_view s, bool terminated = false) {
    size_t n = gbkCutLength(s, terminated ? width - 1 : width);
    std::fill(bytes_.begin() + off, bytes_.begin() + off + width, 0);
    std::copy(s.begin(), s.begin() + n, bytes_.begin() + off);
  }
  std::string text(size_t off, size_t width) const {
    size_t n = 0;
    while (n < width && bytes_[off + n] != 0) ++n;
    return std::string(reinterpret_cast<const char*>(&bytes_[off]), n);
  }
  std::vector<uint8_t> bytes_;
};

// The content block of a text message: M, then per text its length, its bytes and a NUL.
// Little-endian.
inline std::vector<uint8_t> encodeTextBatch(const std::vector<std::string>& texts) {
  std::vector<uint8_t> out;
  FileWriter w(out);
  w.u32(uint32_t(texts.size()));
  for (const auto& t : texts) {
    w.u32(uint32_t(t.size()));
    w.bytes(t.data(), t.size());
    w.u8(0);
  }
  return out;
}
// nullopt when the block is short, a length runs past the end, a text lacks its NUL, or bytes
// are left over.
inline std::optional<std::vector<std::string>> decodeTextBatch(std::span<const uint8_t> block) {
  FileReader r(block);
  auto m = r.u32();
  if (!m || *m > block.size() / 5) return std::nullopt;  // each text takes at least 5 bytes
  std::vector<std::string> texts;
  for (uint32_t i = 0; i < *m; ++i) {
    auto len = r.u32();
    if (!len || *len >= r.remaining()) return std::nullopt;
    auto body = r.bytes(*len);
    auto nul = r.u8();
    if (!body || !nul || *nul != 0) return std::nullopt;
    texts.emplace_back(reinterpret_cast<const char*>(body->data()), body->size());
  }
  if (r.remaining() != 0) return std::nullopt;
  return texts;
}

// Copies text into a fixed record field of `width` bytes: cut so that a terminator fits and no
// GBK character is split, then zero-filled.
inline void copyField(char* field, size_t width, std::string_view gbk) {
  if (width == 0) return;
  size_t n = gbkCutLength(gbk.substr(0, gbk.find('\0')), width - 1);
  std::fill(field, field + width, 0);
  std::copy(gbk.begin(), gbk.begin() + n, field);
}
template <size_t N>
void copyField(char (&field)[N], std::string_view gbk) {
  copyField(field, N, gbk);
}
// The text of a fixed field, up to its terminator or its width.
inline std::string fieldText(const char* field, size_t width) {
  size_t n = 0;
  while (n < width && field[n] != 0) ++n;
  return std::string(field, n);
}
template <size_t N>
std::string fieldText(const char (&field)[N]) {
  return fieldText(field, N);
}

}  // namespace hv
