#include "transport/netkit.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <poll.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <thread>

#include "transport/timer.h"

namespace {

thread_local int tlsLastError = 0;

void setError(int code) {
  tlsLastError = code;
}
void setSystemError() {
  tlsLastError = CNetkit::mapsystemerror(errno);
}

bool makeNonBlocking(int fd) {
  int flags = fcntl(fd, F_GETFL, 0);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool parseDotted(const char* host, uint32_t* address) {
  in_addr a{};
  if (!host || inet_pton(AF_INET, host, &a) != 1) return false;
  *address = a.s_addr;
  return true;
}

sockaddr_in makeAddress(uint32_t address, int port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = address;
  sa.sin_port = htons(uint16_t(port));
  return sa;
}

// Waits for events on fd for at most timeout ms, resuming after signals with the time left.
// 0 ready, -1 otherwise (a time-out sets NETKIT_ETIMEDOUT).
int waitFor(int fd, short events, int timeout, short* revents = nullptr) {
  if (fd < 0) {
    setError(NETKIT_ENOTSOCK);
    return -1;
  }
  netkit::Deadline deadline(timeout);
  for (;;) {
    pollfd p{fd, events, 0};
    int left = deadline.remaining();
    int r = ::poll(&p, 1, left < 0 ? 0 : left);
    if (r > 0) {
      if (p.revents & POLLNVAL) {
        setError(NETKIT_ENOTSOCK);
        return -1;
      }
      if (revents) *revents = p.revents;
      return 0;
    }
    if (r == 0) {
      setError(NETKIT_ETIMEDOUT);
      return -1;
    }
    if (errno != EINTR) {
      setSystemError();
      return -1;
    }
    if (deadline.expired()) {
      setError(NETKIT_ETIMEDOUT);
      return -1;
    }
  }
}

// After a non-blocking call failed (errno set): true when it may be tried again, because
// nothing was ready yet and time is left; otherwise the reason is set and false returned.
bool mayRetry(const netkit::Deadline& deadline) {
  if (errno != EAGAIN && errno != EINTR) {
    setSystemError();
    return false;
  }
  if (deadline.expired()) {
    setError(NETKIT_ETIMEDOUT);
    return false;
  }
  return true;
}

// IANA well-known ports of the service names the library knows, in lookup order. Where a name
// is a UDP-only service sharing a number range with TCP ones, the number the suite has always
// used is kept ("biff" and "login" 513, "who" and "cmd" 514).
struct ServicePort {
  const char* name;
  int port;
};
constexpr ServicePort kServices[] = {
    {"echo", 7},          {"discard", 9},      {"systat", 11},        {"daytime", 13},
    {"qotd", 17},         {"chargen", 19},     {"ftp-data", 20},      {"ftp", 21},
    {"telnet", 23},       {"smtp", 25},        {"time", 37},          {"rlp", 39},
    {"nameserver", 42},   {"nicname", 43},     {"domain", 53},        {"bootps", 67},
    {"bootpc", 68},       {"tftp", 69},        {"gopher", 70},        {"finger", 79},
    {"http", 80},         {"kerberos", 88},    {"hostname", 101},     {"iso-tsap", 102},
    {"rtelnet", 107},     {"pop2", 109},       {"pop3", 110},         {"sunrpc", 111},
    {"auth", 113},        {"uucp-path", 117},  {"nntp", 119},         {"ntp", 123},
    {"epmap", 135},       {"netbios-ns", 137}, {"netbios-dgm", 138},  {"netbios-ssn", 139},
    {"imap", 143},        {"pcmail-srv", 158}, {"snmp", 161},         {"snmptrap", 162},
    {"print-srv", 170},   {"bgp", 179},        {"irc", 194},          {"ipx", 213},
    {"ldap", 389},        {"https", 443},      {"microsoft-ds", 445}, {"kpasswd", 464},
    {"isakmp", 500},      {"exec", 512},       {"biff", 513},         {"login", 513},
    {"who", 514},         {"cmd", 514},        {"syslog", 514},       {"printer", 515},
    {"talk", 517},        {"ntalk", 518},      {"efs", 520},          {"router", 520},
    {"timed", 525},       {"tempo", 526},      {"courier", 530},      {"conference", 531},
    {"netnews", 532},     {"netwall", 533},    {"uucp", 540},         {"klogin", 543},
    {"kshell", 544},      {"new-rwho", 550},   {"remotefs", 556},     {"rmonitor", 560},
    {"monitor", 561},     {"ldaps", 636},      {"doom", 666},         {"kerberos-adm", 749},
    {"kerberos-iv", 750}, {"kpop", 1109},      {"phone", 1167},       {"ms-sql-s", 1433},
    {"ms-sql-m", 1434},   {"wins", 1512},      {"ingreslock", 1524},  {"l2tp", 1701},
    {"pptp", 1723},       {"radius", 1812},    {"radacct", 1813},     {"nfsd", 2049},
    {"knetd", 2053},      {"man", 9535},
};

}  // namespace

// Windows Sockets needs WSAStartup per user of the library; BSD sockets need nothing, and
// SIGPIPE is avoided per call with MSG_NOSIGNAL, so construction only sets the handle.
CNetkit::CNetkit() = default;

CNetkit::CNetkit(int handle) {
  attach(handle);
}

CNetkit::~CNetkit() {
  if (handle_ >= 0) ::close(handle_);
}

int CNetkit::closesocket() {
  if (handle_ < 0) return -1;
  ::close(handle_);
  handle_ = -1;
  return 0;
}

int CNetkit::getdatasize() {
  int n = 0;
  if (ioctl(handle_, FIONREAD, &n) != 0) {
    setSystemError();
    return -1;
  }
  return n;
}

int CNetkit::create(int family, int type, int protocol) {
  if (handle_ >= 0) closesocket();
  int fd = ::socket(family, type | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
  if (fd < 0) {
    setSystemError();
    return -1;
  }
  handle_ = fd;
  return fd;
}

int CNetkit::createtcp() {
  return create(AF_INET, SOCK_STREAM, IPPROTO_TCP);
}
int CNetkit::createudp() {
  return create(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
}

int CNetkit::createraw(int protocol, int includeHeader) {
  if (create(AF_INET, SOCK_RAW, protocol) < 0) return -1;
  // closesocket() leaves the last error as it is, so the reason survives the clean-up.
  if (includeHeader == 1 && sendipheader(1) != 0) {
    closesocket();
    return -1;
  }
  return handle_;
}

int CNetkit::createsniffer(uint32_t localAddress) {
  unsigned index = 0;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) {
    setSystemError();
    return -1;
  }
  for (ifaddrs* i = list; i; i = i->ifa_next) {
    if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
    if (reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr == localAddress) {
      index = if_nametoindex(i->ifa_name);
      break;
    }
  }
  freeifaddrs(list);
  if (index == 0) {
    setError(NETKIT_EADDRNOTAVAIL);
    return -1;
  }
  if (create(AF_PACKET, SOCK_DGRAM, htons(ETH_P_IP)) < 0) return -1;
  sockaddr_ll ll{};
  ll.sll_family = AF_PACKET;
  ll.sll_protocol = htons(ETH_P_IP);
  ll.sll_ifindex = int(index);
  if (::bind(handle_, reinterpret_cast<sockaddr*>(&ll), sizeof ll) != 0) {
    setSystemError();
    closesocket();
    return -1;
  }
  return handle_;
}

int CNetkit::sendipheader(int flag) {
  int on = flag ? 1 : 0;
  if (setsockopt(handle_, IPPROTO_IP, IP_HDRINCL, &on, sizeof on) != 0) {
    setSystemError();
    return -1;
  }
  return 0;
}

int CNetkit::detach() {
  int h = handle_;
  handle_ = -1;
  return h;
}

void CNetkit::attach(int handle) {
  if (handle == handle_) return;
  if (handle_ >= 0) closesocket();
  handle_ = handle;
  if (handle_ >= 0) makeNonBlocking(handle_);
}

int CNetkit::bind(uint32_t address, int port) {
  sockaddr_in sa = makeAddress(address, port);
  if (::bind(handle_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    setSystemError();
    return -1;
  }
  return 0;
}

int CNetkit::listen(int port) {
  if (handle_ < 0 && createtcp() < 0) return -1;
  int on = 1;
  setsockopt(handle_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (bind(htonl(INADDR_ANY), port) != 0) return -1;
  if (::listen(handle_, 5) != 0) {
    setSystemError();
    return -1;
  }
  return 0;
}

int CNetkit::accept(int timeout, uint32_t* outAddress, uint16_t* outPort) {
  netkit::Deadline deadline(timeout);
  for (;;) {
    if (waitforread(deadline.remaining()) != 0) return -1;
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    int fd =
        ::accept4(handle_, reinterpret_cast<sockaddr*>(&sa), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd >= 0) {
      if (outAddress) *outAddress = ntohl(sa.sin_addr.s_addr);
      if (outPort) *outPort = ntohs(sa.sin_port);
      return fd;
    }
    // A connection that was reset between poll and accept leaves nothing to accept: wait on.
    if (errno != ECONNABORTED && !mayRetry(deadline)) return -1;
  }
}

int CNetkit::connect(const char* host, int port, int timeout) {
  uint32_t address = 0;
  if (!parseDotted(host, &address)) {
    address = hosttoip(host);
    if (address == 0xFFFFFFFFu) {
      setError(NETKIT_HOST_NOT_FOUND);
      return -1;
    }
  }
  if (handle_ < 0 && createtcp() < 0) return -1;
  sockaddr_in sa = makeAddress(address, port);
  if (::connect(handle_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) return 0;
  if (errno != EINPROGRESS && errno != EAGAIN) {
    setSystemError();
    return -1;
  }
  if (waitforwrite(timeout) != 0) return -1;
  // Writable also means "the attempt ended"; whether it succeeded is in SO_ERROR. On Windows a
  // refused attempt shows up in the exception set, which the wait alone would miss.
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(handle_, SOL_SOCKET, SO_ERROR, &err, &len) != 0) {
    setSystemError();
    return -1;
  }
  if (err != 0) {
    setError(mapsystemerror(err));
    return -1;
  }
  return 0;
}

int CNetkit::recv(void* buffer, int size, int timeout) {
  netkit::Deadline deadline(timeout);
  for (;;) {
    if (waitforread(deadline.remaining()) != 0) return -1;
    ssize_t n = ::recv(handle_, buffer, size_t(size < 0 ? 0 : size), 0);
    if (n > 0) return int(n);
    if (n == 0) {
      setError(NETKIT_ESHUTDOWN);
      return -1;
    }
    // Readiness can be spurious (a datagram dropped for a bad checksum): wait again.
    if (!mayRetry(deadline)) return -1;
  }
}

int CNetkit::recvfrom(void* buffer, int size, int timeout, uint32_t* outAddress,
                      uint16_t* outPort) {
  netkit::Deadline deadline(timeout);
  for (;;) {
    if (waitforread(deadline.remaining()) != 0) return -1;
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    ssize_t n = ::recvfrom(handle_, buffer, size_t(size < 0 ? 0 : size), 0,
                           reinterpret_cast<sockaddr*>(&sa), &len);
    if (n >= 0) {
      if (outAddress) *outAddress = ntohl(sa.sin_addr.s_addr);
      if (outPort) *outPort = ntohs(sa.sin_port);
      return int(n);
    }
    if (!mayRetry(deadline)) return -1;
  }
}

int CNetkit::recv_size(void* buffer, int size, int timeout) {
  if (size <= 0) return size;
  auto* out = static_cast<char*>(buffer);
  netkit::Deadline deadline(timeout);
  int count = 0;
  int last = -1;
  while (count < size && !deadline.expired()) {
    last = recv(out + count, size - count, deadline.remaining());
    if (last < 1) break;
    count += last;
  }
  // Ending on the clock rather than on a failed receive still leaves the reason behind.
  if (count < size && last != -1) setError(NETKIT_ETIMEDOUT);
  if (count == 0 && last == -1 && timeout <= 0) setError(NETKIT_ETIMEDOUT);
  return count > 0 ? count : last;
}

int CNetkit::recv_substr(void* buffer, int size, int timeout, const char* pattern) {
  if (timeout <= 0 || size <= 0 || !pattern || !*pattern) {
    if (timeout <= 0) setError(NETKIT_ETIMEDOUT);
    return -1;
  }
  auto* out = static_cast<char*>(buffer);
  const size_t patternLength = std::strlen(pattern);
  netkit::Deadline deadline(timeout);
  ssize_t seen = -1;
  for (;;) {
    short revents = 0;
    if (waitFor(handle_, POLLIN | POLLRDHUP, deadline.remaining(), &revents) != 0) return -1;
    ssize_t n = ::recv(handle_, out, size_t(size), MSG_PEEK);
    if (n == 0) {
      setError(NETKIT_ESHUTDOWN);
      return -1;
    }
    if (n < 0) {
      if (errno != EAGAIN && errno != EINTR) {
        setSystemError();
        return -1;
      }
      n = 0;
    }
    out[n] = 0;
    if (const void* hit = memmem(out, size_t(n), pattern, patternLength)) {
      const int take = int(static_cast<const char*>(hit) - out + long(patternLength));
      // The bytes were peeked, so they are in the socket buffer and one receive consumes them.
      ssize_t got = ::recv(handle_, out, size_t(take), 0);
      if (got != take) {
        if (got < 0) setSystemError();
        return -1;
      }
      out[take] = 0;
      return take;
    }
    if (n >= size) {
      setError(NETKIT_EMSGSIZE);
      return -1;
    }
    if (n == seen) {
      // Nothing new since the last look. A peer that closed after a partial line will never
      // complete it; otherwise pause briefly instead of spinning on data that is already there.
      if (revents & (POLLRDHUP | POLLHUP)) {
        setError(NETKIT_ESHUTDOWN);
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    seen = n;
    if (deadline.expired()) {
      setError(NETKIT_ETIMEDOUT);
      return -1;
    }
  }
}

int CNetkit::recv_all(char** outBuffer, int* outLength, int timeout) {
  constexpr int kChunk = 1024;
  constexpr int kStep = 2048;
  *outBuffer = nullptr;
  *outLength = 0;
  if (timeout < 1) return 0;
  char chunk[kChunk];
  int capacity = 0;
  int last = -1;
  netkit::Deadline deadline(timeout);
  while (!deadline.expired()) {
    last = recv(chunk, kChunk, deadline.remaining());
    if (last < 1) break;
    if (!*outBuffer || *outLength + last > capacity) {
      int grown = ((*outLength + last) / kStep + 1) * kStep;
      char* bigger = new char[size_t(grown)];
      if (*outBuffer) {
        std::memcpy(bigger, *outBuffer, size_t(*outLength));
        delete[] * outBuffer;
      }
      *outBuffer = bigger;
      capacity = grown;
    }
    std::memcpy(*outBuffer + *outLength, chunk, size_t(last));
    *outLength += last;
  }
  return *outLength > 0 ? *outLength : last;
}

int CNetkit::send(const void* data, int length, int timeout) {
  if (timeout <= 0) {
    setError(NETKIT_ETIMEDOUT);
    return -1;
  }
  const auto* in = static_cast<const char*>(data);
  netkit::Deadline deadline(timeout);
  int count = 0;
  while (count < length) {
    if (waitforwrite(deadline.remaining()) != 0) break;
    ssize_t n = ::send(handle_, in + count, size_t(length - count), MSG_NOSIGNAL);
    if (n > 0) {
      count += int(n);
    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
      setSystemError();
      break;
    }
    if (count < length && deadline.expired()) {
      setError(NETKIT_ETIMEDOUT);
      break;
    }
  }
  return count > 0 ? count : -1;
}

int CNetkit::sendto(const char* host, int port, const void* data, int length, int timeout) {
  uint32_t address = hosttoip(host);
  uint32_t dotted = 0;
  if (address == 0xFFFFFFFFu && !parseDotted(host, &dotted)) {
    setError(NETKIT_HOST_NOT_FOUND);
    return -1;
  }
  sockaddr_in sa = makeAddress(address, port);
  netkit::Deadline deadline(timeout);
  for (;;) {
    if (waitforwrite(deadline.remaining()) != 0) return -1;
    ssize_t n = ::sendto(handle_, data, size_t(length < 0 ? 0 : length), MSG_NOSIGNAL,
                         reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    if (n >= 0) return int(n);
    if (!mayRetry(deadline)) return -1;
  }
}

int CNetkit::waitforread(int timeout) {
  return waitFor(handle_, POLLIN, timeout);
}
int CNetkit::waitforwrite(int timeout) {
  return waitFor(handle_, POLLOUT, timeout);
}

int CNetkit::errorno() const {
  return tlsLastError;
}

int CNetkit::isclosed() const {
  switch (tlsLastError) {
    case NETKIT_EINVAL:
    case NETKIT_ENETRESET:
    case NETKIT_ECONNABORTED:
    case NETKIT_ECONNRESET:
    case NETKIT_ESHUTDOWN:
      return 1;
    default:
      return 0;
  }
}

int CNetkit::istimeout() const {
  return tlsLastError == NETKIT_ETIMEDOUT ? 1 : 0;
}

void CNetkit::setlasterror(int code) {
  setError(code);
}

uint32_t CNetkit::hosttoip(const char* host) {
  uint32_t address = 0;
  if (parseDotted(host, &address)) return address;
  if (!host || !*host) return 0xFFFFFFFFu;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &result) != 0 || !result) return 0xFFFFFFFFu;
  address = reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_addr.s_addr;
  freeaddrinfo(result);
  return address;
}

std::string CNetkit::iptohost(uint32_t address) {
  sockaddr_in sa = makeAddress(address, 0);
  char name[NI_MAXHOST];
  if (getnameinfo(reinterpret_cast<sockaddr*>(&sa), sizeof sa, name, sizeof name, nullptr, 0,
                  NI_NAMEREQD) == 0)
    return name;
  return iptodot(address);
}

const char* CNetkit::iptodot(uint32_t address) {
  thread_local char text[INET_ADDRSTRLEN];
  in_addr a{};
  a.s_addr = address;
  inet_ntop(AF_INET, &a, text, sizeof text);
  return text;
}

NETKIT_TIME CNetkit::now() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm utc{};
  gmtime_r(&ts.tv_sec, &utc);
  return NETKIT_TIME{utc.tm_hour, utc.tm_min, utc.tm_sec, int(ts.tv_nsec / 1000000)};
}

int CNetkit::millisecondsbetween(const NETKIT_TIME& start, const NETKIT_TIME& end) {
  auto ms = [](const NETKIT_TIME& t) {
    return ((t.hour * 60 + t.minute) * 60 + t.second) * 1000 + t.milliseconds;
  };
  int d = ms(end) - ms(start);
  return d < 0 ? d + 86400000 : d;
}

int CNetkit::millisecondsafter(const NETKIT_TIME& start) {
  return millisecondsbetween(start, now());
}

int CNetkit::protocoltoport(const char* name) {
  if (!name) return 0;
  for (const auto& s : kServices)
    if (strcasecmp(s.name, name) == 0) return s.port;
  return 0;
}

uint16_t CNetkit::checksum(const void* words, int length) {
  // RFC 1071: one's-complement sum of the 16-bit words as they lie in memory; the result is in
  // the same byte order, so it can be stored into a header as it is.
  const auto* p = static_cast<const uint8_t*>(words);
  uint32_t sum = 0;
  int i = 0;
  for (; i + 1 < length; i += 2) {
    uint16_t w;
    std::memcpy(&w, p + i, 2);
    sum += w;
  }
  if (i < length) {
    uint8_t last[2] = {p[i], 0};
    uint16_t w;
    std::memcpy(&w, last, 2);
    sum += w;
  }
  sum = (sum >> 16) + (sum & 0xFFFF);
  sum += sum >> 16;
  return uint16_t(~sum & 0xFFFF);
}

int CNetkit::mapsystemerror(int err) {
  switch (err) {
    case 0:
      return 0;
    case EINTR:
      return NETKIT_EINTR;
    case EBADF:
      return NETKIT_EBADF;
    case EACCES:
    case EPERM:
      return NETKIT_EACCES;
    case EFAULT:
      return NETKIT_EFAULT;
    case EINVAL:
      return NETKIT_EINVAL;
    case EMFILE:
    case ENFILE:
      return NETKIT_EMFILE;
    case EAGAIN:
      return NETKIT_EWOULDBLOCK;
    case EINPROGRESS:
      return NETKIT_EWOULDBLOCK;
    case EALREADY:
      return NETKIT_EALREADY;
    case ENOTSOCK:
      return NETKIT_ENOTSOCK;
    case EDESTADDRREQ:
      return NETKIT_EDESTADDRREQ;
    case EMSGSIZE:
      return NETKIT_EMSGSIZE;
    case EPROTOTYPE:
      return NETKIT_EPROTOTYPE;
    case ENOPROTOOPT:
      return NETKIT_ENOPROTOOPT;
    case EPROTONOSUPPORT:
    case ESOCKTNOSUPPORT:
      return NETKIT_EPROTONOSUPPORT;
    case EOPNOTSUPP:
      return NETKIT_EOPNOTSUPP;
    case EAFNOSUPPORT:
    case EPFNOSUPPORT:
      return NETKIT_EAFNOSUPPORT;
    case EADDRINUSE:
      return NETKIT_EADDRINUSE;
    case EADDRNOTAVAIL:
      return NETKIT_EADDRNOTAVAIL;
    case ENETDOWN:
      return NETKIT_ENETDOWN;
    case ENETUNREACH:
      return NETKIT_ENETUNREACH;
    case ENETRESET:
      return NETKIT_ENETRESET;
    case ECONNABORTED:
      return NETKIT_ECONNABORTED;
    case ECONNRESET:
      return NETKIT_ECONNRESET;
    case ENOBUFS:
    case ENOMEM:
      return NETKIT_ENOBUFS;
    case EISCONN:
      return NETKIT_EISCONN;
    case ENOTCONN:
      return NETKIT_ENOTCONN;
    case EPIPE:
    case ESHUTDOWN:
      return NETKIT_ESHUTDOWN;
    case ETIMEDOUT:
      return NETKIT_ETIMEDOUT;
    case ECONNREFUSED:
      return NETKIT_ECONNREFUSED;
    case EHOSTDOWN:
      return NETKIT_EHOSTDOWN;
    case EHOSTUNREACH:
      return NETKIT_EHOSTUNREACH;
    default:
      return NETKIT_EINVAL;
  }
}
