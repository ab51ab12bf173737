#include "service/protocol/protocol.h"

#include <algorithm>

#include "cipher/session_cipher.h"

namespace hv::svc {
namespace {

std::span<const uint8_t> bytesOf(std::string_view s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// Fills in the length word of a packet built with a placeholder at its start.
std::vector<uint8_t> sealed(std::vector<uint8_t> packet) {
  storeBe32(packet.data(), uint32_t(packet.size()));
  return packet;
}

std::vector<uint8_t> userIdRequest(uint32_t command, std::string_view userId) {
  std::vector<uint8_t> out;
  WireWriter w(out);
  w.u32(0);
  w.u32(command);
  w.field(userId, kUserIdWidth);
  return sealed(std::move(out));
}

}  // namespace

std::optional<ReplyHead> parseReplyHead(std::span<const uint8_t> body) {
  WireReader r(body);
  auto command = r.u32();
  auto status = r.u32();
  if (!command || !status) return std::nullopt;
  return ReplyHead{*command, int32_t(*status)};
}

int parsePort(std::string_view text) {
  int port = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    if (port > 100000000) break;  // no port has that many digits; stop before overflow
    port = port * 10 + (c - '0');
  }
  return port;
}

std::string fieldString(std::span<const uint8_t> bytes, size_t offset, size_t width) {
  if (offset >= bytes.size()) return {};
  width = std::min(width, bytes.size() - offset);
  auto begin = bytes.begin() + offset;
  auto end = std::find(begin, begin + width, uint8_t(0));
  return std::string(begin, end);
}

std::vector<uint8_t> regionQuery(std::string_view userId) {
  return userIdRequest(kRegionQuery, userId);
}

std::vector<uint8_t> credentialBlob(std::string_view userId, std::string_view password) {
  std::vector<uint8_t> out;
  WireWriter w(out);
  w.u32(uint32_t(userId.size()));
  w.bytes(SessionCipher(password).encrypt(bytesOf(userId)));
  return out;
}

std::vector<uint8_t> authenticateRequest(std::string_view userId, std::string_view password) {
  auto blob = credentialBlob(userId, password);
  std::vector<uint8_t> out;
  WireWriter w(out);
  w.u32(0);
  w.u32(kAuthenticate);
  w.field(userId, kUserIdWidth);
  w.u32(uint32_t(blob.size()));
  w.bytes(blob);
  return sealed(std::move(out));
}

std::vector<uint8_t> ticketQuery(std::string_view userId) {
  return userIdRequest(kTicketQuery, userId);
}

std::vector<uint8_t> uploadHead(const std::array<uint8_t, kTicketWidth>& ticket,
                                size_t packetSize) {
  std::vector<uint8_t> out;
  WireWriter w(out);
  w.u32(uint32_t(packetSize + 28));
  w.u32(kMessageUpload);
  w.bytes(ticket);
  return out;
}

RegionInfo parseRegionInfo(std::span<const uint8_t> reply) {
  using namespace region;
  RegionInfo info;
  info.auth.host = fieldString(reply, kAuthHost, kAuthHostWidth);
  info.auth.port = parsePort(fieldString(reply, kAuthPort, kAuthPortWidth));
  info.send.host = fieldString(reply, kSendHost, kSendHostWidth);
  info.send.port = parsePort(fieldString(reply, kSendPort, kSendPortWidth));
  info.spare.host = fieldString(reply, kSpareHost, kSpareHostWidth);
  info.spare.port = parsePort(fieldString(reply, kSparePort, reply.size()));
  return info;
}

std::optional<std::array<uint8_t, kTicketWidth>> openTicketBlob(std::span<const uint8_t> blob,
                                                                std::string_view password) {
  if (blob.size() <= 4 || (blob.size() - 4) % 8 != 0) return std::nullopt;
  uint32_t plainLength = loadBe32(blob.data());
  auto plain = SessionCipher(password).decrypt(blob.subspan(4));
  std::array<uint8_t, kTicketWidth> ticket{};
  size_t n = std::min<size_t>({plainLength, plain.size(), kTicketWidth});
  std::copy(plain.begin(), plain.begin() + n, ticket.begin());
  return ticket;
}

std::vector<uint8_t> statusReply(uint32_t command, int32_t status) {
  std::vector<uint8_t> out;
  WireWriter w(out);
  w.u32(12);
  w.u32(replyCommand(command));
  w.i32(status);
  return out;
}

std::vector<uint8_t> regionReply(int32_t status, const RegionInfo& info) {
  using namespace region;
  std::vector<uint8_t> out;
  WireWriter w(out);
  w.u32(0);
  w.u32(replyCommand(kRegionQuery));
  w.i32(status);
  // Each text keeps a terminator inside its field.
  auto text = [&](std::string_view s, size_t width) { w.field(s.substr(0, width - 1), width); };
  text(info.auth.host, kAuthHostWidth);
  text(std::to_string(info.auth.port), kAuthPortWidth);
  text(info.send.host, kSendHostWidth);
  text(std::to_string(info.send.port), kSendPortWidth);
  text(info.spare.host, kSpareHostWidth);
  text(std::to_string(info.spare.port), 8);
  return sealed(std::move(out));
}

std::vector<uint8_t> ticketReply(int32_t status, std::span<const uint8_t> ticket,
                                 const SessionCipher& cipher) {
  if (status != 0) return statusReply(kTicketQuery, status);
  auto enciphered = cipher.encrypt(ticket);
  std::vector<uint8_t> out;
  WireWriter w(out);
  w.u32(0);
  w.u32(replyCommand(kTicketQuery));
  w.i32(0);
  w.u32(uint32_t(4 + enciphered.size()));
  w.u32(uint32_t(ticket.size()));
  w.bytes(enciphered);
  return sealed(std::move(out));
}

std::optional<std::string> openCredentialBlob(std::span<const uint8_t> blob,
                                              const SessionCipher& cipher) {
  WireReader r(blob);
  auto length = r.u32();
  if (!length || *length == 0 || *length > kMaxUserIdLength) return std::nullopt;
  size_t padded = (size_t(*length) + 7) / 8 * 8;
  if (r.remaining() != padded) return std::nullopt;
  auto plain = cipher.decrypt(blob.subspan(4));
  // The padding must decipher to zeros; otherwise the password was wrong.
  if (!std::all_of(plain.begin() + *length, plain.end(), [](uint8_t b) { return b == 0; }))
    return std::nullopt;
  return std::string(plain.begin(), plain.begin() + *length);
}

}  // namespace hv::svc
