#pragma once
// The delivery service's wire protocol, shared by the client (Svclink) and the reference service.
//
// Every integer on the wire is a 32-bit big-endian word. Every request and reply begins with a
// length word counting the whole packet (itself included) and a command word; a reply's command
// is the request's with the top bit set, followed by a status word (0 = success). Text fields are
// fixed-width and NUL-padded.
//
//   1 RegionQuery    user id (20)                       -> status, endpoints as text
//   2 Authenticate   user id (20), n (4), credential (n) -> status
//   3 TicketQuery    user id (20)                       -> status, B (4), ticket blob (B)
//   4 MessageUpload  ticket (20), message packet        -> status
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cipher/session_cipher.h"
#include "include/handvane/records.h"

namespace hv::svc {

enum Command : uint32_t {
  kRegionQuery = 1,
  kAuthenticate = 2,
  kTicketQuery = 3,
  kMessageUpload = 4,
};
inline constexpr uint32_t kReplyBit = 0x80000000u;
constexpr uint32_t replyCommand(uint32_t command) {
  return kReplyBit | command;
}

inline constexpr size_t kUserIdWidth = 20;
inline constexpr size_t kMaxUserIdLength = kUserIdWidth - 1;
inline constexpr size_t kTicketWidth = 20;
// Every send and receive of an exchange is bounded by this many milliseconds.
inline constexpr int kExchangeTimeoutMs = 5000;
// The client reads at most this much of a region or authentication reply after its length word.
inline constexpr size_t kMaxReplyBody = 256;
// A ticket blob's length lies in 1..256.
inline constexpr uint32_t kMaxTicketBlob = 256;
// A text message carries at most this many texts of at most this many bytes each.
inline constexpr size_t kMaxTexts = 15;
inline constexpr size_t kMaxTextLength = 160;
inline constexpr size_t kDescriptorWidth = header::kDescriptorWidth;

// Region reply layout (offsets from the length word).
namespace region {
inline constexpr size_t kAuthHost = 12, kAuthHostWidth = 16;
inline constexpr size_t kAuthPort = 28, kAuthPortWidth = 8;
inline constexpr size_t kSendHost = 36, kSendHostWidth = 16;
inline constexpr size_t kSendPort = 52, kSendPortWidth = 8;
inline constexpr size_t kSpareHost = 60, kSpareHostWidth = 24;
inline constexpr size_t kSparePort = 84;
}  // namespace region

struct Endpoint {
  std::string host;
  int port = 0;
  bool operator==(const Endpoint&) const = default;
};

struct RegionInfo {
  Endpoint auth, send, spare;
  bool operator==(const RegionInfo&) const = default;
};

// A reply's command and status, read from the body that follows the length word.
struct ReplyHead {
  uint32_t command = 0;
  int32_t status = 0;
};
std::optional<ReplyHead> parseReplyHead(std::span<const uint8_t> body);

// Leading decimal digits of a port field; anything else gives 0.
int parsePort(std::string_view text);
// Text of a fixed field up to its NUL (or its width).
std::string fieldString(std::span<const uint8_t> bytes, size_t offset, size_t width);

// ---- requests built by the client

std::vector<uint8_t> regionQuery(std::string_view userId);
// L (4), then the user id zero-padded to a multiple of 8 and enciphered with the session cipher
// keyed by the password.
std::vector<uint8_t> credentialBlob(std::string_view userId, std::string_view password);
std::vector<uint8_t> authenticateRequest(std::string_view userId, std::string_view password);
std::vector<uint8_t> ticketQuery(std::string_view userId);
// The first 28 bytes of an upload: length (packet + 28), command 4, ticket.
std::vector<uint8_t> uploadHead(const std::array<uint8_t, kTicketWidth>& ticket, size_t packetSize);

// ---- replies read by the client

// The endpoints of a region reply whose status is 0, from the whole reply (length word
// included). Fields past the end of a short reply are empty.
RegionInfo parseRegionInfo(std::span<const uint8_t> reply);
// The ticket of a ticket blob (N', then 8-byte blocks enciphered with the password's cipher):
// nullopt unless the blob is longer than 4 bytes with a multiple of 8 after N'. The ticket is the
// first N' deciphered bytes, cut to 20 and zero-filled to 20.
std::optional<std::array<uint8_t, kTicketWidth>> openTicketBlob(std::span<const uint8_t> blob,
                                                                std::string_view password);

// ---- what the service builds and reads

std::vector<uint8_t> statusReply(uint32_t command, int32_t status);
std::vector<uint8_t> regionReply(int32_t status, const RegionInfo& info);
std::vector<uint8_t> ticketReply(int32_t status, std::span<const uint8_t> ticket,
                                 const SessionCipher& cipher);
// The user id inside a credential blob, deciphered with the password; nullopt when the blob is
// malformed (L out of range or the blocks do not match L).
std::optional<std::string> openCredentialBlob(std::span<const uint8_t> blob,
                                              const SessionCipher& cipher);

}  // namespace hv::svc
