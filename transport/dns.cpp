// A small DNS client (RFC 1035) and the broadcast / multicast socket.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "transport/netkit.h"
#include "transport/wire.h"

namespace {

constexpr int kDnsPort = 53;
constexpr int kTcpTimeout = 5000;
constexpr int kUdpTimeout = 2000;
constexpr int kUdpAttempts = 3;
constexpr int kBroadcastTimeout = 1000;
// CNAME records that may lead from one name to another before the lookup gives up (a chain
// that loops back on itself would otherwise never end).
constexpr int kMaxCnameDepth = 8;

// The ID of each new query; shared by every resolver of the process.
std::atomic<uint16_t> nextQueryId{1};

std::optional<std::vector<uint8_t>> exchangeTcp(CNetkit& s, const std::vector<uint8_t>& query) {
  std::vector<uint8_t> framed = {uint8_t(query.size() >> 8), uint8_t(query.size())};
  framed.insert(framed.end(), query.begin(), query.end());
  if (s.send(framed.data(), int(framed.size()), kTcpTimeout) != int(framed.size()))
    return std::nullopt;
  uint8_t prefix[2];
  if (s.recv_size(prefix, 2, kTcpTimeout) != 2) return std::nullopt;
  const int length = prefix[0] << 8 | prefix[1];
  if (length < 12) return std::nullopt;
  std::vector<uint8_t> reply(static_cast<size_t>(length));
  if (s.recv_size(reply.data(), length, kTcpTimeout) != length) return std::nullopt;
  return reply;
}

}  // namespace

struct CSimpleDNSResolver::Impl {
  int protocol = 17;
  std::string server;
  uint32_t serverAddress = 0;  // network order
  CNetkit socket;

  std::optional<std::vector<uint8_t>> exchange(const std::vector<uint8_t>& query, uint16_t id) {
    if (socket.gethandle() < 0) return std::nullopt;
    if (protocol == 6) return exchangeTcp(socket, query);
    for (int attempt = 0; attempt < kUdpAttempts; ++attempt) {
      if (socket.sendto(server.c_str(), kDnsPort, query.data(), int(query.size()), kUdpTimeout) <
          int(query.size()))
        continue;
      std::vector<uint8_t> reply(netkit::kDnsUdpLimit);
      uint32_t from = 0;
      uint16_t fromPort = 0;
      int n = socket.recvfrom(reply.data(), int(reply.size()), kUdpTimeout, &from, &fromPort);
      // Only the server's own answer to this query counts; anything else may be spoofed.
      if (n < 12 || from != ntohl(serverAddress) || fromPort != kDnsPort) continue;
      if ((reply[0] << 8 | reply[1]) != id) continue;
      reply.resize(size_t(n));
      if (reply[2] & 0x02) {
        // Truncated (TC): the records are incomplete over UDP; RFC 1035 section 4.2.1 says
        // to ask again over TCP.
        CNetkit tcp;
        if (tcp.connect(server.c_str(), kDnsPort, kTcpTimeout) != 0) return std::nullopt;
        return exchangeTcp(tcp, query);
      }
      return reply;
    }
    return std::nullopt;
  }

  // The parsed answer to a query for name and type, when the server answered without error.
  std::optional<netkit::DnsMessage> ask(const std::string& name, uint16_t type,
                                        std::vector<uint8_t>* raw) {
    const uint16_t id = nextQueryId.fetch_add(1);
    std::vector<uint8_t> query = netkit::buildDnsQuery(id, name, type);
    if (query.empty()) return std::nullopt;
    auto reply = exchange(query, id);
    if (!reply) return std::nullopt;
    auto message = netkit::parseDnsMessage(*reply);
    if (!message || message->id != id || !(message->flags & 0x8000) || message->rcode() != 0)
      return std::nullopt;
    *raw = std::move(*reply);
    return message;
  }

  std::string firstName(const std::string& name, uint16_t type, size_t skip) {
    std::vector<uint8_t> raw;
    auto message = ask(name, type, &raw);
    if (!message) return {};
    for (const auto& r : message->answers) {
      if (r.type != type || r.dataLength < skip + 1) continue;
      std::string result;
      size_t next = 0;
      if (netkit::readDnsName(raw, r.dataOffset + skip, &result, &next)) return result;
    }
    return {};
  }

  uint32_t address(const std::string& name, int depth) {
    std::vector<uint8_t> raw;
    auto message = ask(name, netkit::kDnsA, &raw);
    if (!message) return 0;
    // Servers put the whole chain into one answer (alias CNAME target, ..., target A), so the
    // first address record is the answer; only a chain that stops at a CNAME is asked again.
    std::string canonical;
    for (const auto& r : message->answers) {
      if (r.type == netkit::kDnsA && r.dataLength == 4) {
        uint32_t a;
        std::memcpy(&a, raw.data() + r.dataOffset, 4);
        return a;
      }
      if (r.type == netkit::kDnsCname) {
        size_t next = 0;
        if (!netkit::readDnsName(raw, r.dataOffset, &canonical, &next)) return 0;
      }
    }
    if (canonical.empty() || depth >= kMaxCnameDepth) return 0;
    return address(canonical, depth + 1);
  }
};

CSimpleDNSResolver::CSimpleDNSResolver(int protocol) : impl_(std::make_unique<Impl>()) {
  impl_->protocol = protocol == 6 ? 6 : 17;
}

CSimpleDNSResolver::~CSimpleDNSResolver() = default;

int CSimpleDNSResolver::ConnectToDNS(const std::string& server) {
  CloseConnection();
  impl_->server = server;
  impl_->serverAddress = CNetkit::hosttoip(server.c_str());
  if (impl_->serverAddress == 0xFFFFFFFFu) return 0;
  impl_->server = CNetkit::iptodot(impl_->serverAddress);
  if (impl_->protocol == 6) {
    if (impl_->socket.connect(impl_->server.c_str(), kDnsPort, kTcpTimeout) != 0) {
      impl_->socket.closesocket();
      return 0;
    }
  } else if (impl_->socket.createudp() < 0) {
    return 0;
  }
  return 1;
}

uint32_t CSimpleDNSResolver::GetIP(const std::string& name) {
  return impl_->address(name, 0);
}

std::string CSimpleDNSResolver::GetDomainName(uint32_t address) {
  const auto* b = reinterpret_cast<const uint8_t*>(&address);
  char name[40];
  std::snprintf(name, sizeof name, "%d.%d.%d.%d.IN-ADDR.ARPA", b[3], b[2], b[1], b[0]);
  return GetDomainName(std::string(name));
}

std::string CSimpleDNSResolver::GetDomainName(const std::string& name) {
  return impl_->firstName(name, netkit::kDnsPtr, 0);
}

std::string CSimpleDNSResolver::GetMX(const std::string& domain) {
  return impl_->firstName(domain, netkit::kDnsMx, 2);  // after the 16-bit preference
}

void CSimpleDNSResolver::CloseConnection() {
  impl_->socket.closesocket();
}
void CSimpleDNSResolver::attach(int handle) {
  impl_->socket.attach(handle);
}
int CSimpleDNSResolver::detach() {
  return impl_->socket.detach();
}

CBroadcastSocket::CBroadcastSocket() = default;
CBroadcastSocket::~CBroadcastSocket() = default;

int CBroadcastSocket::CreateBroadcastSocket(int port) {
  CloseBroadcastSocket();
  int on = 1;
  if (sender_.createudp() < 0 || sender_.bind(htonl(INADDR_ANY), 0) != 0 ||
      setsockopt(sender_.gethandle(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
    CloseBroadcastSocket();
    return 0;
  }
  if (createudp() < 0) {
    CloseBroadcastSocket();
    return 0;
  }
  // Several programs on one machine may listen for the same broadcasts.
  setsockopt(handle_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (bind(htonl(INADDR_ANY), port) != 0) {
    CloseBroadcastSocket();
    return 0;
  }
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  getsockname(handle_, reinterpret_cast<sockaddr*>(&sa), &len);
  port_ = ntohs(sa.sin_port);
  return 1;
}

static int membership(int handle, int option, uint32_t group) {
  ip_mreq m{};
  m.imr_multiaddr.s_addr = group;
  m.imr_interface.s_addr = htonl(INADDR_ANY);
  if (setsockopt(handle, IPPROTO_IP, option, &m, sizeof m) != 0) {
    CNetkit::setlasterror(CNetkit::mapsystemerror(errno));
    return 0;
  }
  return 1;
}

int CBroadcastSocket::JoinMulticastGroup(uint32_t group) {
  return membership(handle_, IP_ADD_MEMBERSHIP, group);
}

int CBroadcastSocket::LeaveMulticastGroup(uint32_t group) {
  return membership(handle_, IP_DROP_MEMBERSHIP, group);
}

int CBroadcastSocket::SendBroadcastData(const void* data, int length, int port) {
  return sender_.sendto("255.255.255.255", port ? port : port_, data, length, kBroadcastTimeout);
}

int CBroadcastSocket::SendMulticastData(const void* data, int length, uint32_t group, int port) {
  if (group == 0) group = defaultGroup_;
  if (group == 0) {
    setlasterror(NETKIT_EDESTADDRREQ);
    return -1;
  }
  return sender_.sendto(CNetkit::iptodot(group), port ? port : port_, data, length,
                        kBroadcastTimeout);
}

int CBroadcastSocket::RecvData(int timeout, void* buffer, int size, uint32_t* outAddress,
                               uint16_t* outPort) {
  return recvfrom(buffer, size, timeout, outAddress, outPort);
}

int CBroadcastSocket::CloseBroadcastSocket() {
  sender_.closesocket();
  closesocket();
  return 1;
}
