#include "transport/wire.h"

#include <arpa/inet.h>

#include <cctype>

namespace netkit {

namespace {

uint16_t be16(const uint8_t* p) {
  return uint16_t(p[0] << 8 | p[1]);
}
uint32_t be32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

bool readRecords(std::span<const uint8_t> m, size_t* offset, unsigned count,
                 std::vector<DnsRecord>* out) {
  for (unsigned i = 0; i < count; ++i) {
    DnsRecord r;
    if (!readDnsName(m, *offset, &r.name, offset)) return false;
    if (m.size() - *offset < 10) return false;
    const uint8_t* p = m.data() + *offset;
    r.type = be16(p);
    r.klass = be16(p + 2);
    r.ttl = be32(p + 4);
    r.dataLength = be16(p + 8);
    *offset += 10;
    r.dataOffset = *offset;
    if (m.size() - *offset < r.dataLength) return false;
    *offset += r.dataLength;
    out->push_back(std::move(r));
  }
  return true;
}

}  // namespace

int parseSocks4Reply(std::span<const uint8_t> reply, SocksBound* bound) {
  if (reply.size() < 8) return -1;
  // A code of 0 is no SOCKS4 answer at all; it must not pass for success.
  if (reply[1] != 90) return reply[1] != 0 ? reply[1] : -1;
  bound->port = be16(&reply[2]);
  bound->address = be32(&reply[4]);
  bound->name.clear();
  return 0;
}

int socks5ReplyLength(std::span<const uint8_t> head) {
  if (head.size() < 5 || head[0] != 5) return -1;
  if (head[1] != 0) return kSocks5ReplyFailed + head[1];
  switch (head[3]) {
    case 1:
      return 10;
    case 3:
      return 7 + head[4];
    default:
      return -2;
  }
}

int parseSocks5Reply(std::span<const uint8_t> reply, SocksBound* bound) {
  int length = socks5ReplyLength(reply);
  if (length >= kSocks5ReplyFailed) return length - kSocks5ReplyFailed;
  if (length < 0) return length;
  if (reply.size() < size_t(length)) return -1;
  bound->port = be16(&reply[size_t(length) - 2]);
  if (reply[3] == 1) {
    bound->address = be32(&reply[4]);
    bound->name.clear();
  } else {
    bound->address = 0;
    bound->name.assign(reinterpret_cast<const char*>(&reply[5]), reply[4]);
  }
  return 0;
}

int parseSocks5UdpHeader(std::span<const uint8_t> d, SocksBound* from) {
  // RSV (2 zero bytes), FRAG (only unfragmented datagrams are handled), ATYP.
  if (d.size() < 4 || d[2] != 0) return -1;
  size_t length = 0;
  if (d[3] == 1) {
    length = 10;
    if (d.size() < length) return -1;
    from->address = be32(&d[4]);
    from->name.clear();
  } else if (d[3] == 3) {
    if (d.size() < 5) return -1;
    length = 7 + size_t(d[4]);
    if (d.size() < length) return -1;
    from->address = 0;
    from->name.assign(reinterpret_cast<const char*>(&d[5]), d[4]);
  } else {
    return -1;
  }
  from->port = be16(&d[length - 2]);
  return int(length);
}

std::vector<uint8_t> socks5UdpHeader(const std::string& host, uint16_t port) {
  std::vector<uint8_t> h = {0, 0, 0};
  in_addr a{};
  if (inet_pton(AF_INET, host.c_str(), &a) == 1) {
    h.push_back(1);
    const auto* b = reinterpret_cast<const uint8_t*>(&a.s_addr);
    h.insert(h.end(), b, b + 4);
  } else {
    if (host.empty() || host.size() > 255) return {};
    h.push_back(3);
    h.push_back(uint8_t(host.size()));
    h.insert(h.end(), host.begin(), host.end());
  }
  h.push_back(uint8_t(port >> 8));
  h.push_back(uint8_t(port));
  return h;
}

bool parseStatusLine(std::string_view line, std::string* version, int* status,
                     std::string* reason) {
  // "HTTP/1.0 200 OK\r\n": version in characters 1-8, status in 10-12, reason from 14 on.
  if (line.size() < 14 || line.substr(0, 5) != "HTTP/" || line[8] != ' ') return false;
  int code = 0;
  for (size_t i = 9; i < 12; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(line[i]))) return false;
    code = code * 10 + (line[i] - '0');
  }
  if (line[12] != ' ' && line[12] != '\r') return false;
  std::string_view rest = line.size() > 13 ? line.substr(13) : std::string_view();
  while (!rest.empty() && (rest.back() == '\n' || rest.back() == '\r')) rest.remove_suffix(1);
  if (version) version->assign(line.substr(0, 8));
  if (status) *status = code;
  if (reason) reason->assign(rest);
  return true;
}

bool isHeaderLine(std::string_view line) {
  if (line.size() < 3 || line.substr(line.size() - 2) != "\r\n") return false;
  size_t colon = line.find(':');
  if (colon == 0 || colon == std::string_view::npos) return false;
  for (size_t i = 0; i < colon; ++i) {
    unsigned char c = static_cast<unsigned char>(line[i]);
    if (c <= ' ' || c >= 127) return false;
  }
  for (size_t i = colon; i + 2 < line.size(); ++i)
    if (line[i] == '\r' || line[i] == '\n' || line[i] == 0) return false;
  return true;
}

bool isFoldedLine(std::string_view line) {
  if (line.size() < 3 || (line[0] != ' ' && line[0] != '\t')) return false;
  if (line.substr(line.size() - 2) != "\r\n") return false;
  return line.substr(0, line.size() - 2).find_first_of(std::string_view("\r\n\0", 3)) ==
         std::string_view::npos;
}

std::vector<uint8_t> buildDnsQuery(uint16_t id, const std::string& name, uint16_t type) {
  std::vector<uint8_t> q = {uint8_t(id >> 8), uint8_t(id), 0, 0, 0, 1, 0, 0, 0, 0, 0, 0};
  std::string_view rest = name;
  if (!rest.empty() && rest.back() == '.') rest.remove_suffix(1);  // a final empty label
  if (rest.size() > 253) return {};
  while (!rest.empty()) {
    size_t dot = rest.find('.');
    std::string_view label = rest.substr(0, dot);
    if (label.empty() || label.size() > 63) return {};
    q.push_back(uint8_t(label.size()));
    q.insert(q.end(), label.begin(), label.end());
    rest = dot == std::string_view::npos ? std::string_view() : rest.substr(dot + 1);
    if (dot != std::string_view::npos && rest.empty()) return {};
  }
  q.push_back(0);
  q.push_back(uint8_t(type >> 8));
  q.push_back(uint8_t(type));
  q.push_back(0);
  q.push_back(1);  // class IN
  return q;
}

bool readDnsName(std::span<const uint8_t> m, size_t offset, std::string* name, size_t* next) {
  name->clear();
  bool jumped = false;
  // A compression pointer leads to an earlier occurrence (RFC 1035 section 4.1.4): before the
  // pointer itself, and before the target of the previous pointer, so every name ends.
  size_t limit = 0;
  for (;;) {
    if (offset >= m.size()) return false;
    uint8_t length = m[offset];
    if (length >= 192) {
      if (offset + 1 >= m.size()) return false;
      size_t target = size_t(length - 192) << 8 | m[offset + 1];
      if (!jumped) *next = offset + 2;
      if (target >= (jumped ? limit : offset)) return false;
      jumped = true;
      limit = target;
      offset = target;
      continue;
    }
    if (length >= 64) return false;  // 0x40 and 0x80 label types are not in use
    if (length == 0) {
      if (!jumped) *next = offset + 1;
      return true;
    }
    if (m.size() - offset - 1 < length) return false;
    if (!name->empty()) *name += '.';
    name->append(reinterpret_cast<const char*>(&m[offset + 1]), length);
    if (name->size() > 255) return false;
    offset += 1 + size_t(length);
  }
}

std::optional<DnsMessage> parseDnsMessage(std::span<const uint8_t> m) {
  if (m.size() < 12) return std::nullopt;
  DnsMessage msg;
  msg.id = be16(&m[0]);
  msg.flags = be16(&m[2]);
  const unsigned qd = be16(&m[4]), an = be16(&m[6]), ns = be16(&m[8]), ar = be16(&m[10]);
  size_t offset = 12;
  for (unsigned i = 0; i < qd; ++i) {
    std::string name;
    if (!readDnsName(m, offset, &name, &offset) || m.size() - offset < 4) return std::nullopt;
    offset += 4;
    msg.questions.push_back(std::move(name));
  }
  if (!readRecords(m, &offset, an, &msg.answers) || !readRecords(m, &offset, ns, &msg.authority) ||
      !readRecords(m, &offset, ar, &msg.additional))
    return std::nullopt;
  return msg;
}

}  // namespace netkit
