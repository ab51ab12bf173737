// SOCKS4 (with the 4a extension for host names), SOCKS5 (RFC 1928) and the RFC 1929
// username/password method.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>
#include <vector>

#include "transport/netkit.h"
#include "transport/timer.h"
#include "transport/wire.h"

namespace {

constexpr int kProxySetupTimeout = 10000;  // bind and UDP ASSOCIATE have no caller time-out
constexpr int kUnknownOrShort = -1;

enum SocksCommand { kConnect = 1, kBind = 2, kUdpAssociate = 3 };

bool isDotted(const std::string& host, uint32_t* address) {
  in_addr a{};
  if (inet_pton(AF_INET, host.c_str(), &a) != 1) return false;
  *address = a.s_addr;
  return true;
}

void putPort(std::vector<uint8_t>& out, int port) {
  out.push_back(uint8_t(port >> 8));
  out.push_back(uint8_t(port));
}

// The reason a transfer came up short: the socket's last error, or a time-out when the call
// ended on its clock with the error still clear.
int shortfall() {
  CNetkit probe;
  int code = probe.errorno();
  return code != 0 ? code : NETKIT_ETIMEDOUT;
}

int sendAll(CNetkit& s, const std::vector<uint8_t>& bytes, int timeout) {
  int sent = s.send(bytes.data(), int(bytes.size()), timeout);
  return sent == int(bytes.size()) ? 0 : shortfall();
}

void report(const netkit::SocksBound& bound, uint32_t* outAddress, uint16_t* outPort) {
  if (outAddress) *outAddress = bound.address;
  if (outPort) *outPort = bound.port;
}

}  // namespace

CProxyClient::CProxyClient() = default;
CProxyClient::~CProxyClient() = default;

void CProxyClient::SetProxy(PROXY_TYPE type, const std::string& host, int port,
                            const std::string& user, const std::string& password) {
  type_ = type;
  host_ = host;
  port_ = port;
  user_ = user;
  password_ = password;
  attached_ = 0;
}

void CProxyClient::SetProxy(PROXY_TYPE type, int handle, const std::string& user,
                            const std::string& password) {
  type_ = type;
  user_ = user;
  password_ = password;
  control_.attach(handle);
  attached_ = 1;
}

std::unique_ptr<CNetkit> CProxyClient::fail(int error) {
  control_.closesocket();
  attached_ = 0;
  lastError_ = error != 0 ? error : kUnknownOrShort;
  return nullptr;
}

std::unique_ptr<CNetkit> CProxyClient::handOver() {
  attached_ = 0;
  lastError_ = 0;
  return std::make_unique<CNetkit>(control_.detach());
}

int CProxyClient::openControl(int timeout) {
  if (attached_) return 0;
  if (control_.createtcp() < 0) return shortfall();
  if (control_.connect(host_.c_str(), port_, timeout) != 0) return shortfall();
  return 0;
}

std::unique_ptr<CNetkit> CProxyClient::connect(const std::string& host, int port, int timeout,
                                               uint32_t* outAddress, uint16_t* outPort) {
  boundName_.clear();
  netkit::Deadline deadline(timeout);
  if (type_ == PROXY_NONE) {
    if (!attached_) {
      if (control_.createtcp() < 0) return fail(shortfall());
      if (control_.connect(host.c_str(), port, timeout) != 0) return fail(shortfall());
    }
    if (outAddress) *outAddress = ntohl(CNetkit::hosttoip(host.c_str()));
    if (outPort) *outPort = uint16_t(port);
    return handOver();
  }
  if (type_ != PROXY_SOCKS4 && type_ != PROXY_SOCKS5) return fail(kUnknownOrShort);
  if (int e = openControl(timeout)) return fail(e);
  int e = 0;
  if (type_ == PROXY_SOCKS4) {
    e = SOCK4Command(kConnect, host, port, deadline.remaining());
    if (e == 0) e = SOCK4Result(deadline.remaining(), outAddress, outPort);
  } else {
    e = SOCK5AuthMethod(user_, password_, deadline.remaining());
    if (e == 0) e = SOCK5Command(kConnect, host, port, deadline.remaining());
    if (e == 0) e = SOCK5Result(deadline.remaining(), outAddress, outPort);
  }
  if (e != 0) return fail(e);
  return handOver();
}

std::unique_ptr<CNetkit> CProxyClient::bind(int port, uint32_t* outAddress, uint16_t* outPort) {
  boundName_.clear();
  if (type_ == PROXY_NONE) {
    if (control_.listen(port) != 0) return fail(shortfall());
    if (outAddress) *outAddress = 0;
    if (outPort) {
      sockaddr_in sa{};
      socklen_t len = sizeof sa;
      getsockname(control_.gethandle(), reinterpret_cast<sockaddr*>(&sa), &len);
      *outPort = ntohs(sa.sin_port);
    }
    return handOver();
  }
  if (type_ != PROXY_SOCKS4 && type_ != PROXY_SOCKS5) return fail(kUnknownOrShort);
  netkit::Deadline deadline(kProxySetupTimeout);
  if (int e = openControl(kProxySetupTimeout)) return fail(e);
  int e = 0;
  if (type_ == PROXY_SOCKS4) {
    e = SOCK4Command(kBind, "", port, deadline.remaining());
    if (e == 0) e = SOCK4Result(deadline.remaining(), outAddress, outPort);
  } else {
    e = SOCK5AuthMethod(user_, password_, deadline.remaining());
    if (e == 0) e = SOCK5Command(kBind, "", port, deadline.remaining());
    if (e == 0) e = SOCK5Result(deadline.remaining(), outAddress, outPort);
  }
  if (e != 0) return fail(e);
  return handOver();
}

std::unique_ptr<CNetkit> CProxyClient::accept(CNetkit* listener, int timeout, uint32_t* outAddress,
                                              uint16_t* outPort) {
  if (!listener) return fail(NETKIT_EINVAL);
  if (type_ == PROXY_NONE) {
    int fd = listener->accept(timeout, outAddress, outPort);
    if (fd < 0) {
      lastError_ = shortfall();
      return nullptr;
    }
    lastError_ = 0;
    return std::make_unique<CNetkit>(fd);
  }
  if (type_ != PROXY_SOCKS4 && type_ != PROXY_SOCKS5) return fail(kUnknownOrShort);
  // Through a proxy the "listener" is the control connection of bind(): the second reply on it
  // names the peer that connected, and the connection then carries that peer's data.
  control_.attach(listener->detach());
  int e = type_ == PROXY_SOCKS4 ? SOCK4Result(timeout, outAddress, outPort)
                                : SOCK5Result(timeout, outAddress, outPort);
  if (e != 0) return fail(e);
  return handOver();
}

std::unique_ptr<CNetkit> CProxyClient::udpassociate(int port, uint32_t* outAddress,
                                                    uint16_t* outPort) {
  boundName_.clear();
  if (type_ == PROXY_SOCKS4) return fail(kUnknownOrShort);
  if (type_ == PROXY_NONE) {
    auto udp = std::make_unique<CNetkit>();
    if (udp->createudp() < 0 || udp->bind(htonl(INADDR_ANY), port) != 0) {
      lastError_ = shortfall();
      return nullptr;
    }
    if (outAddress) *outAddress = 0;
    if (outPort) *outPort = uint16_t(port);
    lastError_ = 0;
    return udp;
  }
  if (type_ != PROXY_SOCKS5) return fail(kUnknownOrShort);
  netkit::Deadline deadline(kProxySetupTimeout);
  if (int e = openControl(kProxySetupTimeout)) return fail(e);
  uint32_t relayAddress = 0;
  uint16_t relayPort = 0;
  int e = SOCK5AuthMethod(user_, password_, deadline.remaining());
  if (e == 0) e = SOCK5Command(kUdpAssociate, "", port, deadline.remaining());
  if (e == 0) e = SOCK5Result(deadline.remaining(), &relayAddress, &relayPort);
  if (e != 0) return fail(e);
  // The relay listens on the proxy host; the datagrams must come from the port announced above.
  CNetkit udp;
  if (udp.createudp() < 0 || udp.bind(htonl(INADDR_ANY), port) != 0) return fail(shortfall());
  sockaddr_in relay{};
  relay.sin_family = AF_INET;
  relay.sin_addr.s_addr = CNetkit::hosttoip(host_.c_str());
  relay.sin_port = htons(relayPort);
  if (::connect(udp.gethandle(), reinterpret_cast<sockaddr*>(&relay), sizeof relay) != 0)
    return fail(CNetkit::mapsystemerror(errno));
  if (outAddress) *outAddress = relayAddress;
  if (outPort) *outPort = relayPort;
  attached_ = 0;
  lastError_ = 0;
  auto control = std::make_unique<CNetkit>(control_.detach());
  return std::make_unique<CProxyUDPSocket>(std::move(control), udp.detach());
}

int CProxyClient::SOCK4Command(int command, const std::string& host, int port, int timeout) {
  std::vector<uint8_t> request = {4, uint8_t(command)};
  putPort(request, port);
  uint32_t address = 0;
  const bool byName = !host.empty() && !isDotted(host, &address);
  if (byName) address = htonl(1);  // SOCKS4a: 0.0.0.x with x non-zero, the name follows
  const auto* a = reinterpret_cast<const uint8_t*>(&address);
  request.insert(request.end(), a, a + 4);
  request.insert(request.end(), user_.begin(), user_.end());
  request.push_back(0);
  if (byName) {
    request.insert(request.end(), host.begin(), host.end());
    request.push_back(0);
  }
  return sendAll(control_, request, timeout);
}

int CProxyClient::SOCK4Result(int timeout, uint32_t* outAddress, uint16_t* outPort) {
  uint8_t reply[8];
  if (control_.recv_size(reply, 8, timeout) != 8) return shortfall();
  netkit::SocksBound bound;
  int e = netkit::parseSocks4Reply(reply, &bound);
  if (e == 0) report(bound, outAddress, outPort);
  return e;
}

int CProxyClient::SOCK5AuthMethod(const std::string& user, const std::string& password,
                                  int timeout) {
  netkit::Deadline deadline(timeout);
  std::vector<uint8_t> offer =
      user.empty() ? std::vector<uint8_t>{5, 1, 0} : std::vector<uint8_t>{5, 2, 2, 0};
  if (int e = sendAll(control_, offer, deadline.remaining())) return e;
  uint8_t choice[2];
  if (control_.recv_size(choice, 2, deadline.remaining()) != 2) return shortfall();
  if (choice[0] != 5) return kUnknownOrShort;
  if (choice[1] == 0) return 0;
  if (choice[1] != 2) return choice[1];
  // RFC 1929: VER 1, ULEN, UNAME, PLEN, PASSWD; each field at most 255 bytes.
  if (user.empty() || user.size() > 255 || password.size() > 255) return kUnknownOrShort;
  std::vector<uint8_t> login = {1, uint8_t(user.size())};
  login.insert(login.end(), user.begin(), user.end());
  login.push_back(uint8_t(password.size()));
  login.insert(login.end(), password.begin(), password.end());
  if (int e = sendAll(control_, login, deadline.remaining())) return e;
  uint8_t status[2];
  if (control_.recv_size(status, 2, deadline.remaining()) != 2) return shortfall();
  return status[1];
}

int CProxyClient::SOCK5Command(int command, const std::string& host, int port, int timeout) {
  std::vector<uint8_t> request = {5, uint8_t(command), 0};
  uint32_t address = 0;
  if (host.empty() || isDotted(host, &address)) {
    request.push_back(1);
    const auto* a = reinterpret_cast<const uint8_t*>(&address);
    request.insert(request.end(), a, a + 4);
  } else {
    if (host.size() > 255) return kUnknownOrShort;
    request.push_back(3);
    request.push_back(uint8_t(host.size()));
    request.insert(request.end(), host.begin(), host.end());
  }
  putPort(request, port);
  return sendAll(control_, request, timeout);
}

int CProxyClient::SOCK5Result(int timeout, uint32_t* outAddress, uint16_t* outPort) {
  netkit::Deadline deadline(timeout);
  uint8_t reply[262];
  if (control_.recv_size(reply, 5, deadline.remaining()) != 5) return shortfall();
  int length = netkit::socks5ReplyLength({reply, 5});
  if (length >= netkit::kSocks5ReplyFailed) return length - netkit::kSocks5ReplyFailed;
  if (length < 0) return length;
  if (control_.recv_size(reply + 5, length - 5, deadline.remaining()) != length - 5)
    return kUnknownOrShort;
  netkit::SocksBound bound;
  int e = netkit::parseSocks5Reply({reply, size_t(length)}, &bound);
  if (e != 0) return e;
  boundName_ = bound.name;
  report(bound, outAddress, outPort);
  return 0;
}

CProxyUDPSocket::CProxyUDPSocket(std::unique_ptr<CNetkit> control, int udpHandle)
    : CNetkit(udpHandle), control_(std::move(control)) {}

CProxyUDPSocket::~CProxyUDPSocket() = default;

int CProxyUDPSocket::closesocket() {
  if (control_) control_->closesocket();
  return CNetkit::closesocket();
}

int CProxyUDPSocket::sendto(const char* host, int port, const void* data, int length, int timeout) {
  std::vector<uint8_t> datagram = netkit::socks5UdpHeader(host ? host : "", uint16_t(port));
  if (datagram.empty() || length < 0) {
    setlasterror(NETKIT_EINVAL);
    return -1;
  }
  const size_t header = datagram.size();
  const auto* p = static_cast<const uint8_t*>(data);
  datagram.insert(datagram.end(), p, p + length);
  int sent = CNetkit::send(datagram.data(), int(datagram.size()), timeout);
  return sent < 0 ? sent : std::max(0, sent - int(header));
}

int CProxyUDPSocket::recvfrom(void* buffer, int size, int timeout, uint32_t* outAddress,
                              uint16_t* outPort) {
  // Room for the largest header: 4 bytes, a name of up to 255 bytes with its length, the port.
  std::vector<uint8_t> datagram(size_t(size < 0 ? 0 : size) + 262);
  netkit::Deadline deadline(timeout);
  for (;;) {
    int n = CNetkit::recv(datagram.data(), int(datagram.size()), deadline.remaining());
    if (n < 0) return n;
    netkit::SocksBound from;
    int header = netkit::parseSocks5UdpHeader({datagram.data(), size_t(n)}, &from);
    if (header >= 0) {
      int payload = std::min(n - header, size);
      std::memcpy(buffer, datagram.data() + header, size_t(payload));
      if (outAddress) *outAddress = from.address;
      if (outPort) *outPort = from.port;
      return payload;
    }
    // A datagram the relay should not have sent (fragmented, unknown type): skip it.
    if (deadline.expired()) {
      setlasterror(NETKIT_ETIMEDOUT);
      return -1;
    }
  }
}
