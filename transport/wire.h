#pragma once
// Parsers and builders for the bytes Netkit exchanges with proxies and name servers, kept apart
// from the sockets so that each parser of received bytes can be tested and fuzzed on its own.
// Every parser takes the bytes that arrived and never reads outside them.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace netkit {

// What a SOCKS reply reports as bound: address in host order (0 for a domain name), port, and
// the name when the SOCKS5 address type is 3.
struct SocksBound {
  uint32_t address = 0;
  uint16_t port = 0;
  std::string name;
};

// SOCKS4 reply (8 bytes: VN, CD, DSTPORT, DSTIP). 0 when CD is 90 (granted), the CD byte
// otherwise, -1 when CD is 0 or fewer than 8 bytes are given.
int parseSocks4Reply(std::span<const uint8_t> reply, SocksBound* bound);

// SOCKS5 (RFC 1928 section 6). The first 5 bytes decide the length of the whole reply:
// socks5ReplyLength gives it (10 for IPv4, 7 + name length for a domain name), or a negative
// result: -1 short or not version 5, -2 an address type other than 1 or 3; a positive REP byte
// is returned as 1000 + REP so it cannot be confused with a length.
constexpr int kSocks5ReplyFailed = 1000;
int socks5ReplyLength(std::span<const uint8_t> head);
// The whole reply: 0, the REP code (1..255), -1 short or malformed, -2 unsupported address type.
int parseSocks5Reply(std::span<const uint8_t> reply, SocksBound* bound);

// The RFC 1928 UDP request header (RSV, FRAG, ATYP, DST.ADDR, DST.PORT) in front of a relayed
// datagram. Its length, or -1 when the datagram is too short, fragmented or of another address
// type. The sender is stored in *from.
int parseSocks5UdpHeader(std::span<const uint8_t> datagram, SocksBound* from);
// The header for host (dotted IPv4: type 1, else type 3 with the name; names over 255 bytes do
// not fit and give an empty result) and port, big-endian.
std::vector<uint8_t> socks5UdpHeader(const std::string& host, uint16_t port);

// "HTTP/1.x nnn reason\r\n": version (first 8 characters), the three-digit status and the reason
// (from the 14th character, without the line end). False for a line that is not a status line.
bool parseStatusLine(std::string_view line, std::string* version, int* status, std::string* reason);
// A received header line must be "name: value" followed by CRLF, with a name of visible
// characters.
bool isHeaderLine(std::string_view line);
// A continuation line of a folded field (RFC 9112 section 5.2, obs-fold): a space or tab, then
// text without CR, LF or NUL, then CRLF.
bool isFoldedLine(std::string_view line);

// Received header lines put together into whole fields: a folded line continues the field before
// it and is joined to it with one space, as RFC 9112 section 5.2 asks of a user agent (proxies
// such as tinyproxy pass folds on unchanged). Whole fields go to `emit` as "name: value\r\n".
class HeaderFields {
 public:
  // A field, folds included, is at most this long.
  static constexpr size_t kMaxField = 8192;
  // False for a broken line: neither a header line nor a fold, a fold with no field before it,
  // or a field grown beyond kMaxField.
  template <class Emit>
  bool add(std::string_view line, Emit&& emit) {
    if (isFoldedLine(line)) {
      if (field_.empty()) return false;
      std::string_view more = line.substr(0, line.size() - 2);
      while (!more.empty() && (more.front() == ' ' || more.front() == '\t')) more.remove_prefix(1);
      field_.resize(field_.size() - 2);
      while (!field_.empty() && (field_.back() == ' ' || field_.back() == '\t')) field_.pop_back();
      field_ += ' ';
      field_ += more;
      field_ += "\r\n";
      return field_.size() <= kMaxField;
    }
    if (!isHeaderLine(line)) return false;
    finish(emit);
    field_.assign(line);
    return true;
  }
  // Hands on the last field (at the empty line).
  template <class Emit>
  void finish(Emit&& emit) {
    if (!field_.empty()) emit(std::string_view(field_));
    field_.clear();
  }

 private:
  std::string field_;
};

// DNS (RFC 1035 section 4).
enum DnsType : uint16_t { kDnsA = 1, kDnsCname = 5, kDnsPtr = 12, kDnsMx = 15 };
constexpr size_t kDnsUdpLimit = 512;

struct DnsRecord {
  std::string name;
  uint16_t type = 0;
  uint16_t klass = 0;
  uint32_t ttl = 0;
  size_t dataOffset = 0;  // where the record's data starts in the message
  uint16_t dataLength = 0;
};

struct DnsMessage {
  uint16_t id = 0;
  uint16_t flags = 0;
  std::vector<std::string> questions;
  std::vector<DnsRecord> answers;
  std::vector<DnsRecord> authority;
  std::vector<DnsRecord> additional;
  int rcode() const { return flags & 0x0F; }
  bool truncated() const { return (flags & 0x0200) != 0; }
};

// A query: header with id, flags 0 and one question of class IN. Empty when a label is empty
// inside the name or longer than 63 bytes, or the name is longer than 253.
std::vector<uint8_t> buildDnsQuery(uint16_t id, const std::string& name, uint16_t type);

// Reads the (possibly compressed) name at offset. Labels are 1..63 bytes; a pointer must point
// before itself, so a name can neither loop nor leave the message; a name longer than 255 bytes
// fails. *next receives the offset after the name as it is written at offset.
bool readDnsName(std::span<const uint8_t> message, size_t offset, std::string* name, size_t* next);

// The whole message, or nothing when it is shorter than the header, a count promises more than
// the message holds, or a name is malformed.
std::optional<DnsMessage> parseDnsMessage(std::span<const uint8_t> message);

}  // namespace netkit
