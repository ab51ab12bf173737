// CProxyClient against real SOCKS servers (microsocks, Dante) started on loopback, and a scripted
// SOCKS server of our own for SOCKS4a and for replies that are short, wrong or slow.
#include <gtest/gtest.h>

#include "transport/netkit.h"
#include "transport/tests/peer.h"

using namespace std::chrono_literals;

namespace {

std::string roundTrip(CNetkit& s, const std::string& text) {
  if (s.send(text.data(), int(text.size()), 1000) != int(text.size())) return "<send failed>";
  std::string back(text.size(), '\0');
  int n = s.recv_size(back.data(), int(back.size()), 3000);
  return n > 0 ? back.substr(0, size_t(n)) : "<recv failed>";
}

class Microsocks {
 public:
  explicit Microsocks(const std::vector<std::string>& auth = {}) {
    port_ = peer::freePort();
    std::vector<std::string> argv = {"microsocks", "-i", "127.0.0.1", "-p", std::to_string(port_)};
    argv.insert(argv.end(), auth.begin(), auth.end());
    daemon_ = peer::Daemon(argv);
    ready_ = daemon_.started() && peer::waitListening(port_);
  }
  bool ready() const { return ready_; }
  uint16_t port() const { return port_; }

 private:
  uint16_t port_ = 0;
  peer::Daemon daemon_;
  bool ready_ = false;
};

class Dante {
 public:
  explicit Dante(const std::string& socksMethod) {
    port_ = peer::freePort();
    dir_.write("danted.conf",
               "logoutput: stderr\ninternal: 127.0.0.1 port = " + std::to_string(port_) +
                   "\nexternal: 127.0.0.1\nclientmethod: none\nsocksmethod: " + socksMethod +
                   "\nuser.privileged: root\nuser.unprivileged: nobody\n"
                   "client pass {\n from: 127.0.0.0/8 to: 0.0.0.0/0\n}\n"
                   "socks pass {\n from: 127.0.0.0/8 to: 0.0.0.0/0\n"
                   " protocol: tcp udp\n}\n");
    daemon_ = peer::Daemon({"danted", "-f", dir_.file("danted.conf"), "-p", dir_.file("pid")},
                           dir_.file("log"));
    ready_ = daemon_.started() && peer::waitListening(port_);
  }
  bool ready() const { return ready_; }
  uint16_t port() const { return port_; }
  std::string log() const { return dir_.read("log"); }

 private:
  peer::TempDir dir_;
  uint16_t port_ = 0;
  peer::Daemon daemon_;
  bool ready_ = false;
};

#define REQUIRE_PEER(p, name)                                             \
  if (!peer::haveProgram(name)) GTEST_SKIP() << name " is not installed"; \
  ASSERT_TRUE((p).ready()) << name " did not start"

TEST(ProxyDirect, ConnectsStraightToTheDestination) {
  peer::ScriptedServer echo(peer::echo);
  CProxyClient client;
  client.SetProxy(PROXY_NONE, "", 0, "", "");
  EXPECT_EQ(client.IsProxyUsed(), 0);
  uint32_t address = 0;
  uint16_t port = 0;
  auto s = client.connect("127.0.0.1", echo.port(), 2000, &address, &port);
  ASSERT_TRUE(s);
  EXPECT_EQ(address, 0x7F000001u);
  EXPECT_EQ(port, echo.port());
  EXPECT_EQ(roundTrip(*s, "direct"), "direct");
}

TEST(ProxyMicrosocks, Socks5WithoutAuthenticationByAddressAndByName) {
  Microsocks proxy;
  REQUIRE_PEER(proxy, "microsocks");
  peer::ScriptedServer echo(peer::echo);
  CProxyClient client;
  client.SetProxy(PROXY_SOCKS5, "127.0.0.1", proxy.port(), "", "");
  auto a = client.connect("127.0.0.1", echo.port(), 3000);
  ASSERT_TRUE(a) << client.errorno();
  EXPECT_EQ(roundTrip(*a, "by address"), "by address");
  auto b = client.connect("localhost", echo.port(), 3000);
  ASSERT_TRUE(b) << client.errorno();
  EXPECT_EQ(roundTrip(*b, "by name"), "by name");
  peer::ClosedPort closed;
  EXPECT_FALSE(client.connect("127.0.0.1", closed.port(), 3000));
  EXPECT_EQ(client.errorno(), 5);  // RFC 1928 REP 5: connection refused
}

TEST(ProxyMicrosocks, Socks5UsernamePasswordAcceptedRefusedAndNotOffered) {
  Microsocks proxy({"-u", "alice", "-P", "s3cret"});
  REQUIRE_PEER(proxy, "microsocks");
  peer::ScriptedServer echo(peer::echo);
  CProxyClient client;
  client.SetProxy(PROXY_SOCKS5, "127.0.0.1", proxy.port(), "alice", "s3cret");
  auto s = client.connect("127.0.0.1", echo.port(), 3000);
  ASSERT_TRUE(s) << client.errorno();
  EXPECT_EQ(roundTrip(*s, "authenticated"), "authenticated");

  client.SetProxy(PROXY_SOCKS5, "127.0.0.1", proxy.port(), "alice", "wrong");
  EXPECT_FALSE(client.connect("127.0.0.1", echo.port(), 3000));
  EXPECT_NE(client.errorno(), 0);
  EXPECT_NE(client.errorno(), 255);

  client.SetProxy(PROXY_SOCKS5, "127.0.0.1", proxy.port(), "", "");
  EXPECT_FALSE(client.connect("127.0.0.1", echo.port(), 3000));
  EXPECT_EQ(client.errorno(), 255);  // no acceptable method
}

TEST(ProxyMicrosocks, Socks4RequestToASocks5OnlyServerIsAShortReply) {
  // microsocks answers a SOCKS4 request with the two bytes 05 ff and closes.
  Microsocks proxy;
  REQUIRE_PEER(proxy, "microsocks");
  CProxyClient client;
  client.SetProxy(PROXY_SOCKS4, "127.0.0.1", proxy.port(), "bob", "");
  EXPECT_FALSE(client.connect("127.0.0.1", 9, 3000));
  EXPECT_EQ(client.errorno(), NETKIT_ESHUTDOWN);
}

TEST(ProxyDante, Socks4AndSocks5WithoutAuthentication) {
  Dante proxy("none");
  REQUIRE_PEER(proxy, "danted");
  peer::ScriptedServer echo(peer::echo);
  CProxyClient client;
  client.SetProxy(PROXY_SOCKS4, "127.0.0.1", proxy.port(), "bob", "");
  uint32_t address = 0;
  uint16_t port = 0;
  auto s4 = client.connect("127.0.0.1", echo.port(), 3000, &address, &port);
  ASSERT_TRUE(s4) << client.errorno() << proxy.log();
  EXPECT_EQ(address, 0x7F000001u);  // Dante reports its real outgoing address
  EXPECT_NE(port, 0);
  EXPECT_EQ(roundTrip(*s4, "socks4"), "socks4");

  peer::ClosedPort closed;
  EXPECT_FALSE(client.connect("127.0.0.1", closed.port(), 3000));
  EXPECT_EQ(client.errorno(), 91);

  client.SetProxy(PROXY_SOCKS5, "127.0.0.1", proxy.port(), "", "");
  auto s5 = client.connect("127.0.0.1", echo.port(), 3000, &address, &port);
  ASSERT_TRUE(s5) << client.errorno();
  EXPECT_EQ(address, 0x7F000001u);
  EXPECT_EQ(roundTrip(*s5, "socks5"), "socks5");
  EXPECT_FALSE(client.connect("127.0.0.1", closed.port(), 3000));
  EXPECT_EQ(client.errorno(), 5);
}

TEST(ProxyDante, Socks5UsernamePasswordAgainstASystemAccount) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to create a throw-away system account";
  const std::string user = "nktest" + std::to_string(getpid());
  ASSERT_EQ(std::system(("useradd --no-create-home --shell /usr/sbin/nologin " + user +
                         " && echo '" + user + ":s3cret' | chpasswd")
                            .c_str()),
            0);
  struct Remove {
    std::string user;
    ~Remove() { std::system(("userdel " + user + " 2>/dev/null").c_str()); }
  } remove{user};
  Dante proxy("username");
  REQUIRE_PEER(proxy, "danted");
  peer::ScriptedServer echo(peer::echo);
  CProxyClient client;
  client.SetProxy(PROXY_SOCKS5, "127.0.0.1", proxy.port(), user, "s3cret");
  auto s = client.connect("127.0.0.1", echo.port(), 3000);
  ASSERT_TRUE(s) << client.errorno() << proxy.log();
  EXPECT_EQ(roundTrip(*s, "dante auth"), "dante auth");
  client.SetProxy(PROXY_SOCKS5, "127.0.0.1", proxy.port(), user, "nope");
  EXPECT_FALSE(client.connect("127.0.0.1", echo.port(), 3000));
  EXPECT_EQ(client.errorno(), 1);  // Dante's RFC 1929 failure status
}

TEST(ProxyDante, UdpAssociateRelaysDatagramsBothWays) {
  Dante proxy("none");
  REQUIRE_PEER(proxy, "danted");
  int target = peer::bound(SOCK_DGRAM);
  uint16_t targetPort = peer::boundPort(target);
  CProxyClient client;
  client.SetProxy(PROXY_SOCKS5, "127.0.0.1", proxy.port(), "", "");
  uint16_t relayPort = 0;
  auto udp = client.udpassociate(0, nullptr, &relayPort);
  ASSERT_TRUE(udp) << client.errorno() << proxy.log();
  EXPECT_NE(relayPort, 0);
  EXPECT_EQ(udp->sendto("127.0.0.1", targetPort, "over the relay", 14, 1000), 14);
  char buf[64];
  sockaddr_in from{};
  socklen_t len = sizeof from;
  pollfd p{target, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 10000), 1) << proxy.log();
  ssize_t n = ::recvfrom(target, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
  ASSERT_EQ(n, 14);
  EXPECT_EQ(std::string(buf, 14), "over the relay");
  ::sendto(target, "reply", 5, 0, reinterpret_cast<sockaddr*>(&from), len);
  uint32_t address = 0;
  uint16_t port = 0;
  char small[3];
  EXPECT_EQ(udp->recvfrom(small, sizeof small, 3000, &address, &port), 3);  // cut to the buffer
  EXPECT_EQ(std::string(small, 3), "rep");
  EXPECT_EQ(address, 0x7F000001u);
  EXPECT_EQ(port, targetPort);
  ::close(target);
}

TEST(ProxyDante, BindWaitsForTheInboundPeerThroughSocks4AndSocks5) {
  Dante proxy("none");
  REQUIRE_PEER(proxy, "danted");
  for (PROXY_TYPE type : {PROXY_SOCKS4, PROXY_SOCKS5}) {
    CProxyClient client;
    client.SetProxy(type, "127.0.0.1", proxy.port(), "bob", "");
    uint32_t address = 0;
    uint16_t port = 0;
    auto listener = client.bind(0, &address, &port);
    ASSERT_TRUE(listener) << type << " " << client.errorno() << proxy.log();
    EXPECT_EQ(address, 0x7F000001u) << type;  // Dante's external address
    ASSERT_NE(port, 0) << type;
    // The peer that the proxy waits for connects to the announced address and speaks first.
    CNetkit inboundPeer;
    ASSERT_EQ(inboundPeer.connect("127.0.0.1", port, 2000), 0) << type;
    ASSERT_EQ(inboundPeer.send("from the peer", 13, 1000), 13);
    uint32_t peerAddress = 0;
    uint16_t peerPort = 0;
    auto inbound = client.accept(listener.get(), 3000, &peerAddress, &peerPort);
    ASSERT_TRUE(inbound) << type << " " << client.errorno() << proxy.log();
    EXPECT_EQ(listener->gethandle(), -1);  // the connection moved into the result
    EXPECT_EQ(peerAddress, 0x7F000001u) << type;
    sockaddr_in local{};
    socklen_t len = sizeof local;
    getsockname(inboundPeer.gethandle(), reinterpret_cast<sockaddr*>(&local), &len);
    EXPECT_EQ(peerPort, ntohs(local.sin_port)) << type;
    char buf[13];
    ASSERT_EQ(inbound->recv_size(buf, 13, 2000), 13) << type;
    EXPECT_EQ(std::string(buf, 13), "from the peer");
    EXPECT_EQ(inbound->send("back", 4, 1000), 4);
    ASSERT_EQ(inboundPeer.recv_size(buf, 4, 2000), 4) << type;
    EXPECT_EQ(std::string(buf, 4), "back");
  }
}

TEST(ProxySocks4, UdpAssociateIsNotAvailable) {
  CProxyClient client;
  client.SetProxy(PROXY_SOCKS4, "127.0.0.1", 1080, "", "");
  EXPECT_FALSE(client.udpassociate(0));
}

// A scripted SOCKS server: reads the request the test expects, records it, answers with
// `reply`, then echoes whatever follows (standing in for the destination).
struct Scripted {
  std::mutex lock;
  std::string request;
  bool sawClose = false;
  bool finished = false;  // the reply was sent and the client's close looked for
  bool isFinished() {
    std::lock_guard<std::mutex> g(lock);
    return finished;
  }
};

std::function<void(int)> socks4Server(Scripted& seen, size_t requestLength, std::string reply) {
  return [&seen, requestLength, reply](int fd) {
    std::string req = peer::recvExact(fd, requestLength);
    {
      std::lock_guard<std::mutex> g(seen.lock);
      seen.request = req;
    }
    peer::sendAll(fd, reply);
    char c;
    pollfd p{fd, POLLIN, 0};
    bool closed = ::poll(&p, 1, 10000) == 1 && ::recv(fd, &c, 1, MSG_PEEK) == 0;
    {
      std::lock_guard<std::mutex> g(seen.lock);
      seen.sawClose = closed;
      seen.finished = true;
    }
    if (!closed) peer::echo(fd);
  };
}

TEST(ProxyScripted, Socks4aRequestCarriesTheHostName) {
  Scripted seen;
  const std::string expected =
      std::string("\x04\x01\x1b\x59\x00\x00\x00\x01", 8) + std::string("uid\0localhost\0", 14);
  peer::ScriptedServer server(
      socks4Server(seen, expected.size(), std::string("\x00\x5a\x00\x00\x00\x00\x00\x00", 8)));
  CProxyClient client;
  client.SetProxy(PROXY_SOCKS4, "127.0.0.1", server.port(), "uid", "");
  auto s = client.connect("localhost", 7001, 2000);
  ASSERT_TRUE(s) << client.errorno();
  EXPECT_EQ(roundTrip(*s, "4a"), "4a");
  std::lock_guard<std::mutex> g(seen.lock);
  EXPECT_EQ(seen.request, expected);
}

TEST(ProxyScripted, Socks4ReplyOfZeroBytesIsNoGrant) {
  Scripted seen;
  peer::ScriptedServer server(socks4Server(seen, 9, std::string(8, '\0')));
  CProxyClient client;
  client.SetProxy(PROXY_SOCKS4, "127.0.0.1", server.port(), "", "");
  EXPECT_FALSE(client.connect("10.1.2.3", 80, 2000));
  EXPECT_EQ(client.errorno(), -1);
}

TEST(ProxyScripted, Socks4RejectionClosesTheControlConnection) {
  Scripted seen;
  peer::ScriptedServer server(
      socks4Server(seen, 9, std::string("\x00\x5b\x00\x00\x00\x00\x00\x00", 8)));
  CProxyClient client;
  client.SetProxy(PROXY_SOCKS4, "127.0.0.1", server.port(), "", "");
  EXPECT_FALSE(client.connect("10.1.2.3", 80, 2000));
  EXPECT_EQ(client.errorno(), 91);
  ASSERT_TRUE(peer::waitUntil([&] { return seen.isFinished(); }, 15000));
  std::lock_guard<std::mutex> g(seen.lock);
  EXPECT_EQ(seen.request, std::string("\x04\x01\x00\x50\x0a\x01\x02\x03\x00", 9));
  EXPECT_TRUE(seen.sawClose);
}

// SOCKS5: expects the method offer 05 01 00, answers 05 00, then reads a request of
// requestLength bytes and answers with `reply` (which may be short, wrong or missing).
std::function<void(int)> socks5Server(Scripted& seen, size_t requestLength, std::string reply) {
  return [&seen, requestLength, reply](int fd) {
    std::string offer = peer::recvExact(fd, 3);
    peer::sendAll(fd, std::string("\x05\x00", 2));
    std::string req = peer::recvExact(fd, requestLength);
    {
      std::lock_guard<std::mutex> g(seen.lock);
      seen.request = offer + req;
    }
    peer::sendAll(fd, reply);
    peer::echo(fd);
  };
}

TEST(ProxyScripted, Socks5RequestForAnAddressAndAReplyNamingADomain) {
  Scripted seen;
  // REP 0, ATYP 3, "relay.example" (13 bytes), port 0x1234.
  std::string reply = std::string("\x05\x00\x00\x03\x0d", 5) + "relay.example" + "\x12\x34";
  peer::ScriptedServer server(socks5Server(seen, 10, reply));
  CProxyClient client;
  client.SetProxy(PROXY_SOCKS5, "127.0.0.1", server.port(), "", "");
  uint32_t address = 99;
  uint16_t port = 0;
  auto s = client.connect("10.1.2.3", 80, 2000, &address, &port);
  ASSERT_TRUE(s) << client.errorno();
  EXPECT_EQ(address, 0u);
  EXPECT_EQ(port, 0x1234);
  EXPECT_EQ(client.boundname(), "relay.example");
  EXPECT_EQ(roundTrip(*s, "after reply"), "after reply");
  std::lock_guard<std::mutex> g(seen.lock);
  EXPECT_EQ(seen.request, std::string("\x05\x01\x00"
                                      "\x05\x01\x00\x01\x0a\x01\x02\x03\x00\x50",
                                      13));
}

TEST(ProxyScripted, MalformedSocks5RepliesFailWithTheirCodes) {
  struct Case {
    const char* what;
    std::string reply;
    int error;
  };
  const Case cases[] = {
      {"short head then close", std::string("\x05\x00\x00", 3), NETKIT_ESHUTDOWN},
      {"not version 5", "HTTP/1.0 400 Bad\r\n\r\n", -1},
      {"IPv6 address type", std::string("\x05\x00\x00\x04", 4) + std::string(18, '\0'), -2},
      {"address cut short", std::string("\x05\x00\x00\x01\x7f\x00", 6), -1},
      {"general failure", std::string("\x05\x01\x00\x01", 4) + std::string(6, '\0'), 1},
  };
  for (const auto& c : cases) {
    peer::ScriptedServer server([reply = c.reply](int fd) {
      peer::recvExact(fd, 3);
      peer::sendAll(fd, std::string("\x05\x00", 2));
      peer::recvExact(fd, 10);
      peer::sendAll(fd, reply);
      // Closing makes a reply that is cut short visible at once.
    });
    CProxyClient client;
    client.SetProxy(PROXY_SOCKS5, "127.0.0.1", server.port(), "", "");
    EXPECT_FALSE(client.connect("10.1.2.3", 80, 2000)) << c.what;
    EXPECT_EQ(client.errorno(), c.error) << c.what;
  }
}

// Waits up to 10 s for the client to close its end: true when it did.
bool clientCloses(int fd) {
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 10000) != 1) return false;
    char c;
    ssize_t n = ::recv(fd, &c, 1, 0);
    if (n == 0) return true;
    if (n < 0) return errno == ECONNRESET;
  }
}

TEST(ProxyScripted, ShortAndGarbageRepliesFailWithTheirCodesAndCloseTheConnection) {
  // The proxy keeps its end open after the bad reply, so a reply that is cut short ends on the
  // client's clock, and the close seen afterwards is the client's own. Replies that decide by
  // their bytes get a time-out far beyond any delay of the scripted server, so that only the
  // bytes can decide them.
  struct Case {
    const char* what;
    PROXY_TYPE type;
    std::string methodReply;  // SOCKS5 only
    std::string reply;
    int error;
    bool endsOnTheClock;
  };
  const std::string granted5("\x05\x00", 2);
  const Case cases[] = {
      {"SOCKS4 reply of 3 bytes", PROXY_SOCKS4, "", std::string("\x00\x5a\x00", 3),
       NETKIT_ETIMEDOUT, true},
      {"SOCKS4 garbage: byte 1 is the code", PROXY_SOCKS4, "", "HTTP/1.0", 'T', false},
      {"SOCKS5 method reply of 1 byte", PROXY_SOCKS5, "\x05", "", NETKIT_ETIMEDOUT, true},
      {"SOCKS5 method reply of another version", PROXY_SOCKS5, std::string("\x04\x00", 2), "", -1,
       false},
      {"SOCKS5 reply head of 3 bytes", PROXY_SOCKS5, granted5, std::string("\x05\x00\x00", 3),
       NETKIT_ETIMEDOUT, true},
      {"SOCKS5 garbage reply", PROXY_SOCKS5, granted5, "<html>", -1, false},
      {"SOCKS5 IPv4 reply cut after the address", PROXY_SOCKS5, granted5,
       std::string("\x05\x00\x00\x01\x7f\x00\x00\x01", 8), -1, true},
      {"SOCKS5 IPv6 address type", PROXY_SOCKS5, granted5,
       std::string("\x05\x00\x00\x04", 4) + std::string(18, '\0'), -2, false},
  };
  for (const auto& c : cases) {
    std::atomic<bool> closed{false};
    peer::ScriptedServer server([&c, &closed](int fd) {
      if (c.type == PROXY_SOCKS4) {
        peer::recvExact(fd, 9);
      } else {
        peer::recvExact(fd, 3);
        peer::sendAll(fd, c.methodReply);
        if (c.methodReply == std::string("\x05\x00", 2)) peer::recvExact(fd, 10);
      }
      peer::sendAll(fd, c.reply);
      closed = clientCloses(fd);
    });
    CProxyClient client;
    client.SetProxy(c.type, "127.0.0.1", server.port(), "", "");
    EXPECT_FALSE(client.connect("10.1.2.3", 80, c.endsOnTheClock ? 2000 : 30000)) << c.what;
    EXPECT_EQ(client.errorno(), c.error) << c.what;
    EXPECT_TRUE(peer::waitUntil([&] { return closed.load(); }, 15000)) << c.what;
  }
}

TEST(ProxyScripted, ReplyArrivingByteByByteWithinTheTimeOutIsAccepted) {
  const std::string reply("\x05\x00\x00\x01\x0a\x00\x00\x05\x1f\x90", 10);  // 10.0.0.5:8080
  peer::ScriptedServer server([&reply](int fd) {
    peer::recvExact(fd, 3);
    for (char c : std::string("\x05\x00", 2)) {
      peer::sendAll(fd, &c, 1);
      std::this_thread::sleep_for(20ms);
    }
    peer::recvExact(fd, 10);
    for (char c : reply) {
      peer::sendAll(fd, &c, 1);
      std::this_thread::sleep_for(20ms);
    }
    peer::echo(fd);
  });
  CProxyClient client;
  client.SetProxy(PROXY_SOCKS5, "127.0.0.1", server.port(), "", "");
  uint32_t address = 0;
  uint16_t port = 0;
  auto s = client.connect("10.1.2.3", 80, 30000, &address, &port);
  ASSERT_TRUE(s) << client.errorno();
  EXPECT_EQ(address, 0x0A000005u);
  EXPECT_EQ(port, 8080);
  EXPECT_EQ(roundTrip(*s, "slow proxy"), "slow proxy");
}

TEST(ProxyScripted, Socks5UsernamePasswordLayoutAndRefusal) {
  // RFC 1929: VER 1, ULEN 5, "alice", PLEN 6, "s3cret"; status 0 accepts, anything else refuses.
  for (uint8_t status : {0, 2}) {
    std::mutex lock;
    std::string seen;
    peer::ScriptedServer server([&](int fd) {
      std::string offer = peer::recvExact(fd, 4);
      peer::sendAll(fd, std::string("\x05\x02", 2));
      std::string login = peer::recvExact(fd, 14);
      {
        std::lock_guard<std::mutex> g(lock);
        seen = offer + login;
      }
      peer::sendAll(fd, std::string("\x01", 1) + char(status));
      if (status != 0) return;
      peer::recvExact(fd, 10);
      peer::sendAll(fd, std::string("\x05\x00\x00\x01\x7f\x00\x00\x01\x00\x50", 10));
      peer::echo(fd);
    });
    CProxyClient client;
    client.SetProxy(PROXY_SOCKS5, "127.0.0.1", server.port(), "alice", "s3cret");
    auto s = client.connect("10.1.2.3", 80, 2000);
    if (status == 0) {
      ASSERT_TRUE(s) << client.errorno();
      EXPECT_EQ(roundTrip(*s, "logged in"), "logged in");
    } else {
      EXPECT_FALSE(s);
      EXPECT_EQ(client.errorno(), 2);
    }
    std::lock_guard<std::mutex> g(lock);
    EXPECT_EQ(seen, std::string("\x05\x02\x02\x00"
                                "\x01\x05"
                                "alice"
                                "\x06"
                                "s3cret",
                                18));
  }
}

TEST(ProxyScripted, SilentProxyTimesOut) {
  // The proxy takes the request and never answers; it waits for the client to give up.
  peer::ScriptedServer server([](int fd) {
    peer::recvExact(fd, 3);
    peer::sendAll(fd, std::string("\x05\x00", 2));
    peer::recvExact(fd, 10);
    clientCloses(fd);
  });
  CProxyClient client;
  client.SetProxy(PROXY_SOCKS5, "127.0.0.1", server.port(), "", "");
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(client.connect("10.1.2.3", 80, 400));
  EXPECT_EQ(client.errorno(), NETKIT_ETIMEDOUT);
  auto spent = std::chrono::steady_clock::now() - start;
  EXPECT_GE(spent, 350ms);
  EXPECT_LT(spent, 5000ms);  // the 400 ms, not the 10 s the proxy would wait
}

TEST(ProxyScripted, Socks5BindReportsTheListeningAddressThenThePeer) {
  Scripted seen;
  std::string first = std::string("\x05\x00\x00\x01\x7f\x00\x00\x01\x30\x39", 10);  // :12345
  std::string second =
      std::string("\x05\x00\x00\x01\x0a\x00\x00\x07\x04\xd2", 10);  // 10.0.0.7:1234
  peer::ScriptedServer server([&](int fd) {
    std::string offer = peer::recvExact(fd, 3);
    peer::sendAll(fd, std::string("\x05\x00", 2));
    std::string req = peer::recvExact(fd, 10);
    {
      std::lock_guard<std::mutex> g(seen.lock);
      seen.request = req;
    }
    peer::sendAll(fd, first);
    std::this_thread::sleep_for(100ms);
    peer::sendAll(fd, second + "inbound data");
    peer::recvExact(fd, 1, 10000);
  });
  CProxyClient client;
  client.SetProxy(PROXY_SOCKS5, "127.0.0.1", server.port(), "", "");
  uint32_t address = 0;
  uint16_t port = 0;
  auto listener = client.bind(5555, &address, &port);
  ASSERT_TRUE(listener) << client.errorno();
  EXPECT_EQ(address, 0x7F000001u);
  EXPECT_EQ(port, 12345);
  auto inbound = client.accept(listener.get(), 10000, &address, &port);
  ASSERT_TRUE(inbound) << client.errorno();
  EXPECT_EQ(address, 0x0A000007u);
  EXPECT_EQ(port, 1234);
  char buf[12];
  EXPECT_EQ(inbound->recv_size(buf, 12, 1000), 12);
  EXPECT_EQ(std::string(buf, 12), "inbound data");
  std::lock_guard<std::mutex> g(seen.lock);
  EXPECT_EQ(seen.request, std::string("\x05\x02\x00\x01\x00\x00\x00\x00\x15\xb3", 10));
}

TEST(ProxyDirect, BindAndAcceptWithoutAProxy) {
  CProxyClient client;
  uint16_t port = 0;
  auto listener = client.bind(0, nullptr, &port);
  ASSERT_TRUE(listener);
  ASSERT_NE(port, 0);
  std::atomic<bool> read{false};
  std::thread dial([port, &read] {
    CNetkit c;
    c.connect("127.0.0.1", port, 10000);
    c.send("hi", 2, 1000);
    peer::waitUntil([&] { return read.load(); });
  });
  auto inbound = client.accept(listener.get(), 10000);
  char buf[2];
  const int got = inbound ? inbound->recv_size(buf, 2, 10000) : -1;
  read = true;
  dial.join();
  ASSERT_TRUE(inbound);
  EXPECT_EQ(got, 2);
}

}  // namespace
