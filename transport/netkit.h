#pragma once
// Netkit: the suite's network library.
//
//   CNetkit              one socket with time-outs on every blocking-style operation
//   CProxyClient         TCP connections through SOCKS4 / SOCKS4a / SOCKS5 proxies (or direct)
//   CProxyUDPSocket      a UDP socket relayed through a SOCKS5 proxy (RFC 1928 UDP ASSOCIATE)
//   CSimpleURLParse      splits "proto://host:port/resource"
//   CSimpleHTTPClient    a minimal HTTP/1.x client that never reads ahead of its caller
//   CSimpleHTTPChannel   a tunnel through an HTTP proxy with the CONNECT method
//   CSimpleDNSResolver   a small RFC 1035 client that asks one name server directly
//   CBroadcastSocket     UDP broadcast / multicast sender and receiver on one port
//
// Result convention (kept from the Windows Sockets design the suite was written for): operations
// return a byte count, handle or 0 on success and -1 on failure; the reason is read afterwards
// with errorno(), isclosed() or istimeout(). Error numbers are the Windows Sockets codes
// (NETKIT_ETIMEDOUT and friends below); errno values of the system are mapped onto them. The last
// error is kept per thread, like WSAGetLastError.
//
// Addresses: an "IPv4 address" argument or result is in network byte order unless a comment says
// "host order". Ports are plain numbers (host order) everywhere.
#include <cstdint>
#include <memory>
#include <string>

#include "include/handvane/export.h"

class CHeader;

// Windows Sockets error codes that the library reports.
enum : int {
  NETKIT_EINTR = 10004,
  NETKIT_EBADF = 10009,
  NETKIT_EACCES = 10013,
  NETKIT_EFAULT = 10014,
  NETKIT_EINVAL = 10022,
  NETKIT_EMFILE = 10024,
  NETKIT_EWOULDBLOCK = 10035,
  NETKIT_EINPROGRESS = 10036,
  NETKIT_EALREADY = 10037,
  NETKIT_ENOTSOCK = 10038,
  NETKIT_EDESTADDRREQ = 10039,
  NETKIT_EMSGSIZE = 10040,
  NETKIT_EPROTOTYPE = 10041,
  NETKIT_ENOPROTOOPT = 10042,
  NETKIT_EPROTONOSUPPORT = 10043,
  NETKIT_EOPNOTSUPP = 10045,
  NETKIT_EAFNOSUPPORT = 10047,
  NETKIT_EADDRINUSE = 10048,
  NETKIT_EADDRNOTAVAIL = 10049,
  NETKIT_ENETDOWN = 10050,
  NETKIT_ENETUNREACH = 10051,
  NETKIT_ENETRESET = 10052,
  NETKIT_ECONNABORTED = 10053,
  NETKIT_ECONNRESET = 10054,
  NETKIT_ENOBUFS = 10055,
  NETKIT_EISCONN = 10056,
  NETKIT_ENOTCONN = 10057,
  NETKIT_ESHUTDOWN = 10058,
  NETKIT_ETIMEDOUT = 10060,
  NETKIT_ECONNREFUSED = 10061,
  NETKIT_EHOSTDOWN = 10064,
  NETKIT_EHOSTUNREACH = 10065,
  NETKIT_HOST_NOT_FOUND = 11001,
};

// A time of day in UTC, as the Windows SYSTEMTIME fields that millisecondsafter() uses.
struct NETKIT_TIME {
  int hour = 0;
  int minute = 0;
  int second = 0;
  int milliseconds = 0;
};

// One socket handle (a file descriptor; -1 when none) with time-outs in milliseconds on every
// waiting operation. Sockets are non-blocking from creation; all waiting happens in poll(2), and a
// time-out covers the whole call, not each partial transfer.
//
// Every object owns its handle and closes it on destruction. Objects are passed by pointer, never
// copied. One object is used by one thread at a time.
class HV_EXPORT CNetkit {
 public:
  CNetkit();
  // Adopts an existing handle (see attach).
  explicit CNetkit(int handle);
  CNetkit(const CNetkit&) = delete;
  CNetkit& operator=(const CNetkit&) = delete;
  virtual ~CNetkit();

  // Closes the handle and marks it invalid. 0, or -1 when there was no handle.
  virtual int closesocket();
  // Bytes waiting to be read, or -1.
  virtual int getdatasize();
  // Waits for data, then receives up to size bytes: 1..size, or -1. A peer that closed the
  // connection gives -1 with the last error NETKIT_ESHUTDOWN; a time-out gives NETKIT_ETIMEDOUT.
  virtual int recv(void* buffer, int size, int timeout);
  // Receives one datagram (at most size bytes). outAddress/outPort (host order, optional) receive
  // the sender.
  virtual int recvfrom(void* buffer, int size, int timeout, uint32_t* outAddress = nullptr,
                       uint16_t* outPort = nullptr);
  // Receives until size bytes arrived, the peer closed or the time ran out. Returns the count
  // received when above 0 (callers needing exactly size compare), else the last recv() result.
  // A size of 0 or less is returned unchanged without reading.
  virtual int recv_size(void* buffer, int size, int timeout);
  // Receives up to and including the first occurrence of pattern, consuming nothing after it
  // (the bytes are peeked first). buffer must hold size + 1 bytes; the result is NUL-terminated.
  // Returns the count consumed, or -1 (time-out, closed, error, or size bytes without the
  // pattern; in that last case nothing is consumed).
  virtual int recv_substr(void* buffer, int size, int timeout, const char* pattern);
  // Receives everything until the peer closes or the time runs out into a buffer that grows in
  // 2048-byte steps. *outBuffer is allocated with new[] (free it with delete[]; nullptr when
  // nothing arrived) and *outLength set. Returns the length when above 0, else the last recv().
  virtual int recv_all(char** outBuffer, int* outLength, int timeout);
  // Sends the whole buffer within the time-out. Returns the count sent when above 0 (a partial
  // count is possible: compare it with length), else -1. A time-out of 0 or less sends nothing.
  virtual int send(const void* data, int length, int timeout);
  // Sends one datagram to host (name or dotted address):port. Bytes sent, or the last result.
  virtual int sendto(const char* host, int port, const void* data, int length, int timeout);

  // Creates a new non-blocking socket (closing an earlier one first). The handle, or -1.
  int create(int family, int type, int protocol);
  int createtcp();
  int createudp();
  // A raw IPv4 socket; includeHeader 1 sets IP_HDRINCL (failure closes the socket).
  int createraw(int protocol, int includeHeader);
  // A socket receiving every IPv4 packet of the interface that holds localAddress (network
  // order): the Linux counterpart of a raw socket in SIO_RCVALL mode is a packet socket
  // (AF_PACKET, SOCK_DGRAM, ETH_P_IP) bound to that interface; each recv() gives one IP packet
  // starting with its header. The handle, or -1 on any failure.
  int createsniffer(uint32_t localAddress);
  // Sets or clears IP_HDRINCL. 0 or -1.
  int sendipheader(int flag);
  // Returns the handle and forgets it without closing.
  int detach();
  int gethandle() const { return handle_; }
  // Adopts handle (closing an earlier one first). The handle is switched to non-blocking mode.
  void attach(int handle);
  // bind(2) to address (network order) and port. 0 or -1.
  int bind(uint32_t address, int port);
  // Binds to any address on port and listens with a backlog of 5. 0 or -1.
  int listen(int port);
  // Waits up to timeout for a connection. The accepted handle (non-blocking) or -1; the peer's
  // address and port (host order) when asked.
  int accept(int timeout, uint32_t* outAddress = nullptr, uint16_t* outPort = nullptr);
  // Connects to host (name or dotted address):port within the time-out. 0 when connected, -1
  // otherwise; a refused connection is a failure (NETKIT_ECONNREFUSED). Creates a TCP socket
  // first when the object has none.
  int connect(const char* host, int port, int timeout);

  // The last Windows Sockets error of this thread.
  int errorno() const;
  // 1 when the last error means closed or reset (10022, 10052, 10053, 10054, 10058), else 0.
  int isclosed() const;
  // 1 when the last error is NETKIT_ETIMEDOUT.
  int istimeout() const;

  // IPv4 address (network order) of host: the dotted form if it parses, else the first address
  // the system resolver returns, else 0xFFFFFFFF.
  static uint32_t hosttoip(const char* host);
  // The resolver's name for address (network order), or its dotted form.
  static std::string iptohost(uint32_t address);
  // Dotted-decimal text of address (network order). The text lives in a per-thread buffer that
  // stays valid until this thread's next call.
  static const char* iptodot(uint32_t address);
  // The current time of day in UTC.
  static NETKIT_TIME now();
  // Milliseconds from start to now, ignoring the date (one wrap past midnight is allowed for).
  static int millisecondsafter(const NETKIT_TIME& start);
  // The same rule between two given times (what millisecondsafter computes against now()).
  static int millisecondsbetween(const NETKIT_TIME& start, const NETKIT_TIME& end);
  // Well-known port of a service name ("http" -> 80; case ignored), or 0.
  static int protocoltoport(const char* name);
  // Internet checksum (RFC 1071) of length bytes starting at words.
  static uint16_t checksum(const void* words, int length);

  // Sets this thread's last error (what WSASetLastError does).
  static void setlasterror(int code);
  // Maps an errno value onto the Windows Sockets code.
  static int mapsystemerror(int err);

 protected:
  // Wait up to timeout ms for the handle to become readable / writable. 0 ready, -1 otherwise
  // (a time-out sets NETKIT_ETIMEDOUT).
  int waitforread(int timeout);
  int waitforwrite(int timeout);

  int handle_ = -1;
};

enum PROXY_TYPE { PROXY_NONE = 0, PROXY_SOCKS4 = 1, PROXY_SOCKS5 = 2 };

// Opens TCP connections (and, with SOCKS5, UDP relays and inbound connections) through a SOCKS4
// (with the 4a extension for host names), SOCKS5 (RFC 1928, with the RFC 1929 username/password
// method) proxy, or directly when no proxy is set. Each successful operation hands the caller a
// socket that already talks to the destination; a failure closes the connection to the proxy and
// leaves the reason in errorno():
//   a Windows Sockets code, a SOCKS4 reply code (91..93), a SOCKS5 reply code (1..8), the SOCKS5
//   method the proxy chose when it is not usable (255: none acceptable), a non-zero RFC 1929
//   status, -1 (unknown proxy type, short or malformed reply) or -2 (unsupported address type).
class HV_EXPORT CProxyClient {
 public:
  CProxyClient();
  ~CProxyClient();
  CProxyClient(const CProxyClient&) = delete;
  CProxyClient& operator=(const CProxyClient&) = delete;

  // user is the SOCKS4 user id or the SOCKS5 user name (empty: no authentication offered).
  void SetProxy(PROXY_TYPE type, const std::string& host, int port, const std::string& user,
                const std::string& password);
  // Uses handle, already connected to the proxy, for the next operation.
  void SetProxy(PROXY_TYPE type, int handle, const std::string& user, const std::string& password);
  int IsProxyUsed() const { return type_ != PROXY_NONE; }
  int errorno() const { return lastError_; }

  // A socket connected to host:port (through the proxy), or nullptr. outAddress (host order) and
  // outPort receive what the proxy reports as bound (direct: the destination). When a SOCKS5
  // proxy reports a domain name, outAddress is 0 and boundname() holds the name.
  std::unique_ptr<CNetkit> connect(const std::string& host, int port, int timeout,
                                   uint32_t* outAddress = nullptr, uint16_t* outPort = nullptr);
  // Prepares to accept one inbound connection on port. Returns the listening socket (through a
  // proxy: the control connection), reporting the address and port where peers connect.
  std::unique_ptr<CNetkit> bind(int port, uint32_t* outAddress = nullptr,
                                uint16_t* outPort = nullptr);
  // Waits for the inbound connection that bind() prepared; takes over listener's handle when a
  // proxy is used. Reports the connecting peer.
  std::unique_ptr<CNetkit> accept(CNetkit* listener, int timeout, uint32_t* outAddress = nullptr,
                                  uint16_t* outPort = nullptr);
  // A UDP socket for port: direct, a bound UDP socket; SOCKS5, a CProxyUDPSocket relayed by the
  // proxy (reporting the relay's address and port); SOCKS4 has no UDP: nullptr.
  std::unique_ptr<CNetkit> udpassociate(int port, uint32_t* outAddress = nullptr,
                                        uint16_t* outPort = nullptr);

  // The bound name of the last SOCKS5 reply that carried a domain name (address type 3).
  const std::string& boundname() const { return boundName_; }

 protected:
  // Each returns 0 or the error code described above.
  int SOCK4Command(int command, const std::string& host, int port, int timeout);
  int SOCK4Result(int timeout, uint32_t* outAddress, uint16_t* outPort);
  int SOCK5AuthMethod(const std::string& user, const std::string& password, int timeout);
  int SOCK5Command(int command, const std::string& host, int port, int timeout);
  int SOCK5Result(int timeout, uint32_t* outAddress, uint16_t* outPort);

 private:
  int openControl(int timeout);
  std::unique_ptr<CNetkit> fail(int error);
  std::unique_ptr<CNetkit> handOver();

  PROXY_TYPE type_ = PROXY_NONE;
  std::string host_;
  int port_ = 0;
  std::string user_;
  std::string password_;
  CNetkit control_;
  int lastError_ = 0;
  int attached_ = 0;
  std::string boundName_;
};

// A UDP socket that talks to a SOCKS5 proxy's relay, and the TCP control connection that must
// stay open while the relay is used. sendto() prepends the RFC 1928 UDP request header and
// recvfrom() removes it.
class HV_EXPORT CProxyUDPSocket : public CNetkit {
 public:
  // Takes over control (the TCP connection to the proxy) and udpHandle (a UDP socket connected
  // to the relay).
  CProxyUDPSocket(std::unique_ptr<CNetkit> control, int udpHandle);
  ~CProxyUDPSocket() override;
  // Closes both the UDP socket and the control connection.
  int closesocket() override;
  // Receives one relayed datagram and returns its payload (at most size bytes); outAddress/outPort
  // (host order) receive the original sender as the relay reports it (0 for a domain name).
  int recvfrom(void* buffer, int size, int timeout, uint32_t* outAddress = nullptr,
               uint16_t* outPort = nullptr) override;
  // Sends data to host:port through the relay (address type 1 when host is dotted, else 3).
  int sendto(const char* host, int port, const void* data, int length, int timeout) override;

 private:
  std::unique_ptr<CNetkit> control_;
};

// Splits a URL into protocol (text before "://", or empty), host, port (0 when none) and
// resource (from the first "/" after the host, or empty).
class HV_EXPORT CSimpleURLParse {
 public:
  // Non-zero when a host was found.
  int ParseURL(const std::string& url);
  const std::string& GetProtocol() const { return protocol_; }
  const std::string& GetHost() const { return host_; }
  int GetPort() const { return port_; }
  const std::string& GetResource() const { return resource_; }

 private:
  std::string protocol_;
  std::string host_;
  int port_ = 0;
  std::string resource_;
};

// A minimal HTTP/1.x client. It reads the response header line by line and never reads ahead,
// so the body (or the tunnelled protocol after a CONNECT) stays in the socket for the caller.
// No redirects, chunked transfer or keep-alive handling.
class HV_EXPORT CSimpleHTTPClient : public CNetkit {
 public:
  CSimpleHTTPClient();
  // "HTTP/1.0" when version is exactly that text, otherwise "HTTP/1.1".
  void SetHTTPVersion(const std::string& version);
  const std::string& GetHTTPVersion() const { return version_; }
  void SetHTTPProxy(const std::string& host, int port, const std::string& user,
                    const std::string& password);
  void CancelHTTPProxy() { proxyHost_.clear(); }
  // Connects to the proxy when one is set, else to host:port. 0 when connected, -1 otherwise.
  int Connect(const std::string& host, int port, int timeout);
  // Sends "<METHOD> <url> <version>\r\nHOST:<host[:port]>\r\n", the headers, an empty line and
  // the body. 0 when everything was sent, -1 otherwise (also when url has no host).
  int SendRequest(const std::string& method, const std::string& url, const CHeader* headers,
                  const void* body, int bodyLength);
  // Reads the status line and the header lines up to the empty line. 0, -1 (no usable status
  // line) or -2 (broken header: time-out, closed connection, over-long line). Any optional
  // output may be nullptr. On -1 and -2 the connection is closed.
  int RecvReponseHeader(std::string* version, int* status, std::string* reason, CHeader* headers,
                        int timeout);
  // One recv() of the body.
  int RecvReponseData(void* buffer, int size, int timeout);
  int Close();

  // Adds "Authorization" (code 401) or "Proxy-Authorization" (code 407): "Basic " and the
  // Base64 of "user:password" (RFC 7617). Other codes add nothing.
  static void AddBasicAuthorizationHeader(int code, CHeader* headers, const std::string& user,
                                          const std::string& password);
  // Digest authentication is not supported: adds nothing.
  static void AddDegistAuthorizationHeader(int code, CHeader* headers, const std::string& user,
                                           const std::string& password, const std::string& realm);

 private:
  std::string serverHost_;
  int serverPort_ = 0;
  std::string proxyHost_;
  int proxyPort_ = 0;
  std::string proxyUser_;
  std::string proxyPassword_;
  std::string version_ = "HTTP/1.1";
};

// A tunnel through an HTTP proxy: Connect() reaches the proxy, CreateHTTPChannel() sends
// "CONNECT host:port" (with Basic proxy authorization when a user is set) and, on status 200,
// hands the connection over as a plain socket that then carries the caller's protocol.
class HV_EXPORT CSimpleHTTPChannel {
 public:
  CSimpleHTTPChannel();
  // Stores the proxy settings and connects to the proxy. 0 on success, -1 otherwise.
  int Connect(const std::string& proxyHost, int proxyPort, const std::string& user,
              const std::string& password, int timeout);
  // The tunnel socket to host:port (owned by the caller; the channel then has no connection), or
  // nullptr. On a status other than 200 the channel keeps its connection to the proxy.
  std::unique_ptr<CNetkit> CreateHTTPChannel(const std::string& host, int port, int timeout);
  // The status of the proxy's last CONNECT answer (0 when none was read), e.g. 407 or 401.
  int GetLastStatus() const { return lastStatus_; }
  void attach(int handle) { client_.attach(handle); }
  int detach() { return client_.detach(); }

 private:
  std::string proxyHost_;
  int proxyPort_ = 80;
  std::string proxyUser_;
  std::string proxyPassword_;
  CSimpleHTTPClient client_;
  int lastStatus_ = 0;
};

// A small DNS client (RFC 1035) that asks one name server on port 53 directly, over UDP (three
// attempts; a reply counts only from the server's address and port 53 with the query's ID; a
// truncated reply is asked again over TCP) or TCP (2-byte length prefix).
class HV_EXPORT CSimpleDNSResolver {
 public:
  // protocol: 17 UDP (default) or 6 TCP.
  explicit CSimpleDNSResolver(int protocol = 17);
  ~CSimpleDNSResolver();
  CSimpleDNSResolver(const CSimpleDNSResolver&) = delete;
  CSimpleDNSResolver& operator=(const CSimpleDNSResolver&) = delete;

  // Non-zero when a socket exists: UDP, a new UDP socket; TCP, a connection to server port 53
  // made within 5000 ms. server is a dotted address or a name the system resolves.
  int ConnectToDNS(const std::string& server);
  // IPv4 address (network order) of name, following CNAME chains, or 0.
  uint32_t GetIP(const std::string& name);
  // The host name of address (network order) from its IN-ADDR.ARPA pointer record, or "".
  std::string GetDomainName(uint32_t address);
  // The name in the first PTR answer for name, or "".
  std::string GetDomainName(const std::string& name);
  // The exchange name of the first MX answer for domain, or "".
  std::string GetMX(const std::string& domain);
  void CloseConnection();
  void attach(int handle);
  int detach();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// A pair of UDP sockets on one port: this object receives (bound to any address on the port);
// a second socket sends broadcasts and multicasts.
class HV_EXPORT CBroadcastSocket : public CNetkit {
 public:
  CBroadcastSocket();
  ~CBroadcastSocket() override;
  // 1 when both sockets are ready, else 0.
  int CreateBroadcastSocket(int port);
  // group is an IPv4 address (network order). Non-zero on success.
  int JoinMulticastGroup(uint32_t group);
  int LeaveMulticastGroup(uint32_t group);
  // The group SendMulticastData uses when given 0 (network order; 0 when not set).
  void SetDefaultGroup(uint32_t group) { defaultGroup_ = group; }
  // Sends to 255.255.255.255:port (0: the port given at creation) within 1000 ms.
  int SendBroadcastData(const void* data, int length, int port);
  // Sends to group:port (0: the default group / the port given at creation) within 1000 ms.
  int SendMulticastData(const void* data, int length, uint32_t group, int port);
  // One datagram from the receiving socket, or -1; the sender in host order.
  int RecvData(int timeout, void* buffer, int size, uint32_t* outAddress = nullptr,
               uint16_t* outPort = nullptr);
  // Closes both sockets. 1.
  int CloseBroadcastSocket();

 private:
  CNetkit sender_;
  uint32_t defaultGroup_ = 0;
  int port_ = 0;
};
