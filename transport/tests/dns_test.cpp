// CSimpleDNSResolver against dnsmasq serving a private zone on 127.x.y.z port 53, and against a
// scripted name server for replies from the wrong port, with wrong IDs and malformed names.
// Expected replies are built here byte by byte after RFC 1035 section 4.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "transport/netkit.h"
#include "transport/tests/peer.h"
#include "transport/wire.h"

using namespace std::chrono_literals;

namespace {

using Bytes = std::vector<uint8_t>;

// A loopback address in 127.53.0.0/16 whose port 53 is free (UDP and TCP). The search starts at
// an address taken from the process id, so that test programs running side by side look at
// different addresses, and each call moves on from where the last one stopped.
std::string freeDnsAddress() {
  static unsigned next = unsigned(getpid());
  for (int i = 0; i < 200; ++i) {
    const unsigned n = next++ % (250 * 250);
    std::string a = "127.53." + std::to_string(n / 250 + 1) + "." + std::to_string(n % 250 + 2);
    int u = peer::bound(SOCK_DGRAM, 53, a.c_str());
    int t = peer::bound(SOCK_STREAM, 53, a.c_str());
    bool ok = u >= 0 && t >= 0;
    if (u >= 0) ::close(u);
    if (t >= 0) ::close(t);
    if (ok) return a;
  }
  return {};
}

uint32_t ip(const char* dotted) {
  return inet_addr(dotted);
}

class Dnsmasq {
 public:
  Dnsmasq() {
    // Another program may take the address between the look and dnsmasq's bind: then dnsmasq
    // ends, and the next address is tried.
    for (int attempt = 0; attempt < 3 && !ready_; ++attempt) start();
  }
  bool ready() const { return ready_; }
  const std::string& address() const { return address_; }
  std::string log() const { return dir_.read("log"); }
  // How often the log names a query, once dnsmasq has logged at least `atLeast` of them (it may
  // log a query answered over TCP only after the answer went out); waits at most 10 s.
  size_t queriesLogged(const std::string& query, size_t atLeast) const {
    size_t count = 0;
    peer::waitUntil([&] {
      const std::string text = log();
      count = 0;
      for (size_t at = text.find(query); at != std::string::npos; at = text.find(query, at + 1))
        ++count;
      return count >= atLeast;
    });
    return count;
  }

 private:
  void start() {
    daemon_.stop();
    address_ = freeDnsAddress();
    std::string conf =
        "listen-address=" + address_ +
        "\nbind-interfaces\nport=53\nno-resolv\nno-hosts\n"
        "no-poll\nno-negcache\nlog-queries\nlocal-ttl=300\nuser=nobody\ngroup=nogroup\n"
        "local=/test.example/\nlocal=/10.in-addr.arpa/\n"
        "host-record=www.test.example,10.1.2.3\nhost-record=mail.test.example,10.1.2.4\n"
        "cname=alias1.test.example,www.test.example\n"
        "cname=alias2.test.example,alias1.test.example\n"
        "ptr-record=9.9.9.10.in-addr.arpa,printer.test.example\n"
        "mx-host=test.example,mail.test.example,10\nmx-host=test.example,mx2.test.example,20\n"
        "host-record=mx2.test.example,10.1.2.5\n";
    // 40 addresses for one name: the answer exceeds 512 bytes, so UDP replies are truncated.
    for (int i = 1; i <= 40; ++i)
      conf += "host-record=big.test.example,10.2.0." + std::to_string(i) + "\n";
    dir_.write("dnsmasq.conf", conf);
    if (address_.empty()) return;
    // A pid file of its own: the default one in /var/run is shared by every dnsmasq that test
    // programs running side by side start.
    daemon_ = peer::Daemon(
        {"dnsmasq", "--keep-in-foreground", "--log-facility=-",
         "--pid-file=" + dir_.file("dnsmasq.pid"), "--conf-file=" + dir_.file("dnsmasq.conf")},
        dir_.file("log"));
    ready_ = daemon_.started() && peer::waitListening(53, address_.c_str()) && daemon_.running();
  }

  peer::TempDir dir_;
  std::string address_;
  peer::Daemon daemon_;
  bool ready_ = false;
};

class DnsmasqTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (peer::haveProgram("dnsmasq") && geteuid() == 0) server_ = new Dnsmasq;
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override {
    if (!server_)
      GTEST_SKIP() << "dnsmasq needs to be installed and the tests run as root (port 53)";
    ASSERT_TRUE(server_->ready()) << server_->log();
  }
  static Dnsmasq* server_;
};
Dnsmasq* DnsmasqTest::server_ = nullptr;

TEST_F(DnsmasqTest, AddressesCnameChainsAndMissingNamesOverUdp) {
  CSimpleDNSResolver dns;
  ASSERT_TRUE(dns.ConnectToDNS(server_->address()));
  EXPECT_EQ(dns.GetIP("www.test.example"), ip("10.1.2.3"));
  EXPECT_EQ(dns.GetIP("alias2.test.example"), ip("10.1.2.3"));  // alias2 -> alias1 -> www
  EXPECT_EQ(dns.GetIP("nothere.test.example"), 0u);             // NXDOMAIN, rcode 3
  EXPECT_EQ(dns.GetIP("www.other.example"), 0u);                // REFUSED, rcode 5
}

TEST_F(DnsmasqTest, PointerAndMailExchangerQueries) {
  CSimpleDNSResolver dns;
  ASSERT_TRUE(dns.ConnectToDNS(server_->address()));
  EXPECT_EQ(dns.GetDomainName(ip("10.1.2.3")), "www.test.example");
  EXPECT_EQ(dns.GetDomainName(ip("10.9.9.9")), "printer.test.example");
  EXPECT_EQ(dns.GetDomainName(ip("10.7.7.7")), "");
  EXPECT_EQ(dns.GetDomainName(std::string("4.2.1.10.in-addr.arpa")), "mail.test.example");
  // dnsmasq does not keep the configured order of the two exchangers.
  std::string mx = dns.GetMX("test.example");
  EXPECT_TRUE(mx == "mail.test.example" || mx == "mx2.test.example") << mx;
  EXPECT_EQ(dns.GetMX("www.test.example"), "");  // no data
}

TEST_F(DnsmasqTest, TruncatedUdpAnswerIsAskedAgainOverTcp) {
  CSimpleDNSResolver dns;
  ASSERT_TRUE(dns.ConnectToDNS(server_->address()));
  uint32_t a = ntohl(dns.GetIP("big.test.example"));
  EXPECT_EQ(a >> 8, 0x0A0200u);  // 10.2.0.x
  EXPECT_GE(a & 0xFF, 1u);
  EXPECT_LE(a & 0xFF, 40u);
  // Asked twice: once over UDP (truncated), once more over TCP.
  EXPECT_EQ(server_->queriesLogged("query[A] big.test.example", 2), 2u) << server_->log();
}

TEST_F(DnsmasqTest, QueriesOverTcp) {
  CSimpleDNSResolver dns(6);
  ASSERT_TRUE(dns.ConnectToDNS(server_->address()));
  EXPECT_EQ(dns.GetIP("alias2.test.example"), ip("10.1.2.3"));
  EXPECT_EQ(dns.GetDomainName(ip("10.1.2.4")), "mail.test.example");
  EXPECT_EQ(dns.GetIP("nothere.test.example"), 0u);
}

// A scripted name server on address:53 answering each query through `answer`, which returns the
// replies to send and whether each comes from a socket on another port.
struct Reply {
  Bytes bytes;
  bool fromWrongPort = false;
};

class ScriptedDns {
 public:
  explicit ScriptedDns(std::function<std::vector<Reply>(const Bytes&)> answer)
      : answer_(std::move(answer)) {
    address_ = freeDnsAddress();
    if (address_.empty()) return;
    fd_ = peer::bound(SOCK_DGRAM, 53, address_.c_str());
    other_ = peer::bound(SOCK_DGRAM, 0, address_.c_str());
    thread_ = std::thread([this] { run(); });
  }
  ~ScriptedDns() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) ::close(fd_);
    if (other_ >= 0) ::close(other_);
  }
  const std::string& address() const { return address_; }
  int queries() const { return queries_; }

 private:
  void run() {
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      uint8_t buf[1024];
      sockaddr_in from{};
      socklen_t len = sizeof from;
      ssize_t n = ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
      if (n <= 0) continue;
      ++queries_;
      for (const auto& r : answer_(Bytes(buf, buf + n)))
        ::sendto(r.fromWrongPort ? other_ : fd_, r.bytes.data(), r.bytes.size(), 0,
                 reinterpret_cast<sockaddr*>(&from), len);
    }
  }
  std::function<std::vector<Reply>(const Bytes&)> answer_;
  std::string address_;
  int fd_ = -1;
  int other_ = -1;
  std::atomic<bool> stop_{false};
  std::atomic<int> queries_{0};
  std::thread thread_;
};

// A response to `query`: its ID and question, flags QR|AA|RD|RA (0x8580) with rcode, `answers`
// resource records given as raw bytes.
Bytes response(const Bytes& query, int answerCount, const Bytes& answers, int rcode = 0) {
  Bytes r(query.begin(), query.end());
  r[2] = 0x85;
  r[3] = uint8_t(0x80 | rcode);
  r[6] = 0;
  r[7] = uint8_t(answerCount);
  r.insert(r.end(), answers.begin(), answers.end());
  return r;
}

// A resource record: owner (raw name bytes), type, class IN, TTL 300, data.
Bytes record(const Bytes& owner, uint16_t type, const Bytes& data) {
  Bytes r = owner;
  Bytes fixed = {uint8_t(type >> 8),        uint8_t(type),       0, 1, 0, 0, 1, 0x2c,
                 uint8_t(data.size() >> 8), uint8_t(data.size())};
  r.insert(r.end(), fixed.begin(), fixed.end());
  r.insert(r.end(), data.begin(), data.end());
  return r;
}

const Bytes kQuestionName = {0xc0, 0x0c};  // pointer to the question's name at offset 12
const Bytes kAddress1234 = {1, 2, 3, 4};

bool skipWithoutRoot() {
  return geteuid() != 0;
}

#define REQUIRE_SCRIPTED(s)                                    \
  if (skipWithoutRoot()) GTEST_SKIP() << "port 53 needs root"; \
  ASSERT_FALSE((s).address().empty()) << "no free 127.53.x.y:53 address"

TEST(DnsScripted, QueryLayoutAndReplyFromTheWrongPortIsIgnored) {
  std::mutex lock;
  std::vector<Bytes> seen;
  ScriptedDns server([&](const Bytes& q) {
    std::lock_guard<std::mutex> g(lock);
    seen.push_back(q);
    if (seen.size() == 1)
      return std::vector<Reply>{{response(q, 1, record(kQuestionName, 1, kAddress1234)), true}};
    return std::vector<Reply>{{response(q, 1, record(kQuestionName, 1, {5, 6, 7, 8})), false}};
  });
  REQUIRE_SCRIPTED(server);
  CSimpleDNSResolver dns;
  ASSERT_TRUE(dns.ConnectToDNS(server.address()));
  EXPECT_EQ(dns.GetIP("www.test.example"), ip("5.6.7.8"));
  std::lock_guard<std::mutex> g(lock);
  ASSERT_EQ(seen.size(), 2u);
  // flags 0, QDCOUNT 1, then 3www4test7example0, type A, class IN.
  Bytes expected = {seen[0][0], seen[0][1], 0,   0,   0,   1,   0,   0,   0,   0, 0,   0,
                    3,          'w',        'w', 'w', 4,   't', 'e', 's', 't', 7, 'e', 'x',
                    'a',        'm',        'p', 'l', 'e', 0,   0,   1,   0,   1};
  EXPECT_EQ(seen[0], expected);
  EXPECT_EQ(seen[1], seen[0]);  // the same message is sent again, with the same ID
}

TEST(DnsScripted, GivesUpAfterThreeSendsWhenNoReplyCounts) {
  ScriptedDns server([](const Bytes& q) {
    Bytes wrongId = response(q, 1, record(kQuestionName, 1, kAddress1234));
    wrongId[1] ^= 0xFF;
    return std::vector<Reply>{{response(q, 1, record(kQuestionName, 1, kAddress1234)), true},
                              {wrongId, false}};
  });
  REQUIRE_SCRIPTED(server);
  CSimpleDNSResolver dns;
  ASSERT_TRUE(dns.ConnectToDNS(server.address()));
  EXPECT_EQ(dns.GetIP("www.test.example"), 0u);
  // The server may not have read the last send yet.
  EXPECT_TRUE(peer::waitUntil([&] { return server.queries() >= 3; }));
  EXPECT_EQ(server.queries(), 3);
}

TEST(DnsScripted, CnameFollowedByAddressInOneAnswerNeedsOneQuery) {
  // www.test.example CNAME host.test.example (written with a pointer to "test.example" at
  // offset 16), then host.test.example A 10.0.0.9 whose owner points into the CNAME's data.
  ScriptedDns server([](const Bytes& q) {
    Bytes cname = record(kQuestionName, 5, {4, 'h', 'o', 's', 't', 0xc0, 0x10});
    size_t cnameData = q.size() + 12;  // where the CNAME's data starts in the reply
    Bytes a = record({uint8_t(0xc0 | cnameData >> 8), uint8_t(cnameData)}, 1, {10, 0, 0, 9});
    Bytes both = cname;
    both.insert(both.end(), a.begin(), a.end());
    return std::vector<Reply>{{response(q, 2, both), false}};
  });
  REQUIRE_SCRIPTED(server);
  CSimpleDNSResolver dns;
  ASSERT_TRUE(dns.ConnectToDNS(server.address()));
  EXPECT_EQ(dns.GetIP("www.test.example"), ip("10.0.0.9"));
  EXPECT_EQ(server.queries(), 1);
}

TEST(DnsScripted, CnameLoopEndsAfterABoundedNumberOfQueries) {
  ScriptedDns server([](const Bytes& q) {
    // Every name is an alias of "loop.example".
    Bytes target = {4, 'l', 'o', 'o', 'p', 7, 'e', 'x', 'a', 'm', 'p', 'l', 'e', 0};
    return std::vector<Reply>{{response(q, 1, record(kQuestionName, 5, target)), false}};
  });
  REQUIRE_SCRIPTED(server);
  CSimpleDNSResolver dns;
  ASSERT_TRUE(dns.ConnectToDNS(server.address()));
  EXPECT_EQ(dns.GetIP("loop.example"), 0u);
  EXPECT_LE(server.queries(), 10);
}

TEST(DnsScripted, MalformedRepliesFailCleanly) {
  struct Case {
    const char* what;
    std::function<Bytes(const Bytes&)> make;
  };
  const Case cases[] = {
      {"pointer to itself",
       [](const Bytes& q) {
         size_t at = q.size();
         return response(q, 1, record({uint8_t(0xc0 | at >> 8), uint8_t(at)}, 1, kAddress1234));
       }},
      {"pointer past the end",
       [](const Bytes& q) {
         return response(q, 1, record({0xc3, 0xff}, 1, kAddress1234));
       }},
      {"label past the end",
       [](const Bytes& q) {
         return response(q, 1, {60, 'a', 'b'});
       }},
      {"more answers than present",
       [](const Bytes& q) { return response(q, 5, record(kQuestionName, 1, kAddress1234)); }},
      {"data length past the end",
       [](const Bytes& q) {
         Bytes r = response(q, 1, record(kQuestionName, 1, kAddress1234));
         r[r.size() - 5] = 0x40;
         return r;
       }},
      {"label type 0x40",
       [](const Bytes& q) {
         return response(q, 1, record({0x41, 0}, 1, kAddress1234));
       }},
      {"name error",
       [](const Bytes& q) { return response(q, 1, record(kQuestionName, 1, kAddress1234), 3); }},
      {"header only", [](const Bytes& q) { return Bytes(q.begin(), q.begin() + 11); }},
  };
  for (const auto& c : cases) {
    ScriptedDns server([&](const Bytes& q) { return std::vector<Reply>{{c.make(q), false}}; });
    REQUIRE_SCRIPTED(server);
    CSimpleDNSResolver dns;
    ASSERT_TRUE(dns.ConnectToDNS(server.address()));
    EXPECT_EQ(dns.GetIP("www.test.example"), 0u) << c.what;
  }
}

TEST(DnsScripted, ReverseNameListsTheOctetsLastFirst) {
  std::mutex lock;
  std::string asked;
  ScriptedDns server([&](const Bytes& q) {
    std::string name;
    size_t next = 0;
    netkit::readDnsName(q, 12, &name, &next);
    {
      std::lock_guard<std::mutex> g(lock);
      asked = name;
    }
    Bytes target = {3, 'w', 'w', 'w', 7, 'e', 'x', 'a', 'm', 'p', 'l', 'e', 0};
    return std::vector<Reply>{{response(q, 1, record(kQuestionName, 12, target)), false}};
  });
  REQUIRE_SCRIPTED(server);
  CSimpleDNSResolver dns;
  ASSERT_TRUE(dns.ConnectToDNS(server.address()));
  EXPECT_EQ(dns.GetDomainName(ip("10.1.2.3")), "www.example");
  std::lock_guard<std::mutex> g(lock);
  EXPECT_EQ(asked, "3.2.1.10.IN-ADDR.ARPA");
}

TEST(DnsWire, ParsesAHandMadeCnameChainWithCompressedNames) {
  // tests/corpus/dns/cname_chain: the 116-byte answer for alias2.test.example laid out as
  // dnsmasq sends it: owners as pointers to 12 (question), 49 (alias1 data), 82 (www data).
  std::ifstream in(std::string(HV_SOURCE_DIR) + "/transport/tests/corpus/dns/cname_chain",
                   std::ios::binary);
  Bytes m((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(m.size(), 116u);
  auto msg = netkit::parseDnsMessage(m);
  ASSERT_TRUE(msg);
  EXPECT_EQ(msg->id, 0x1234);
  ASSERT_EQ(msg->answers.size(), 3u);
  EXPECT_EQ(msg->answers[0].name, "alias2.test.example");
  EXPECT_EQ(msg->answers[1].name, "alias1.test.example");
  EXPECT_EQ(msg->answers[2].name, "www.test.example");
  EXPECT_EQ(msg->answers[2].type, 1);
  EXPECT_EQ(msg->answers[2].dataOffset, 112u);
  // Cut anywhere inside the records, the message no longer parses.
  for (size_t cut = 37; cut < m.size(); ++cut)
    EXPECT_FALSE(netkit::parseDnsMessage(Bytes(m.begin(), m.begin() + long(cut)))) << cut;
}

TEST(DnsWire, QueryBuilderRejectsBadNames) {
  EXPECT_TRUE(netkit::buildDnsQuery(1, "a..b", 1).empty());
  EXPECT_TRUE(netkit::buildDnsQuery(1, std::string(64, 'a') + ".example", 1).empty());
  EXPECT_FALSE(netkit::buildDnsQuery(1, std::string(63, 'a') + ".example.", 1).empty());
  // A final dot adds nothing: same bytes as without it.
  EXPECT_EQ(netkit::buildDnsQuery(7, "x.example.", 15), netkit::buildDnsQuery(7, "x.example", 15));
}

}  // namespace
