// Svclink against handvane-service on loopback, directly and through real SOCKS4, SOCKS5 and
// HTTP CONNECT proxies (danted, microsocks, tinyproxy).
#include <gtest/gtest.h>

#include <map>
#include <optional>

#include "platform/fs.h"
#include "platform/gbk.h"
#include "platform/messages.h"
#include "service-server/store.h"
#include "service/svclink.h"
#include "tests/service-e2e/peers.h"

namespace {

using namespace hv::e2e;
using Bytes = std::vector<uint8_t>;

constexpr char kUser[] = "13800138000";
constexpr char kPassword[] = "s3cret";

// Collects the result messages posted to one window.
class Results {
 public:
  Results() : window_([this](const hv::WindowMessage& m) { codes_.push_back(int(m.lparam)); }) {}
  hv::SendNotice notice(uint32_t show = 1) const {
    return {window_.id(), hv::kSendCompleteMessage, show, 0};
  }
  // Waits (up to 30 s) until n results arrived.
  std::vector<int> wait(size_t n) {
    for (int i = 0; i < 600 && codes_.size() < n; ++i)
      hv::pumpMessagesFor(std::chrono::milliseconds(50));
    return codes_;
  }

 private:
  std::vector<int> codes_;
  hv::MessageWindow window_;
};

hv::MessageHeader header(const char* service, const char* contentClass, const char* kind) {
  hv::MessageHeader h(1);
  h.setLaunchTag("e2e");
  h.setServiceCode(service);
  h.setContentClass(contentClass);
  h.setRecipient(0, "13900000000");
  h.setSender(kUser);
  h.setModel("standard");
  h.setContentKind(kind);
  h.setContentType("TXT");
  return h;
}

std::vector<hv::service::StoredMessage> storedMessages(const LocalService& service) {
  std::string error;
  auto store = hv::service::Store::open(service.databasePath(), error);
  return store ? store->messages() : std::vector<hv::service::StoredMessage>{};
}

class ServiceEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(service_.command({"add-account", kUser, kPassword}), 0);
    ASSERT_TRUE(service_.start());
  }
  // The login sequence as the login library drives it.
  int signIn(int proxyType = 0, const std::string& host = "", int port = 0,
             const std::string& user = "", const std::string& password = "",
             const char* secret = kPassword) {
    NET_UserLogout();
    if (int r = NET_Initialize(host.c_str(), port, user.c_str(), password.c_str(), proxyType))
      return r;
    if (int r = NET_RegionRecognize(kUser, "127.0.0.1", service_.region)) return r;
    return NET_UserAuthentication(kUser, secret);
  }
  LocalService service_;
};

TEST_F(ServiceEndToEnd, DirectSessionDeliversEveryKindOfSend) {
  ASSERT_EQ(signIn(), 0);
  Results results;
  auto notice = results.notice();

  auto text = header("SMS", "TEXTG", "sms_text");
  auto batch = hv::encodeTextBatch({"first part", hv::T("第二条"), std::string(160, 'z')});
  ASSERT_EQ(NET_SendMessageContent(&notice, text.data(), batch.data(), int(batch.size())), 0);

  // A packed message file: two short messages.
  Bytes packed = {2, 0, 0, 0, 3, 0, 0, 0, 0x0B, 0x05, 0x04, 0, 2, 0, 0, 0, 0xAA, 0x55, 0};
  std::string path = service_.directory() + "/picture.bin";
  ASSERT_TRUE(hv::fs::writeFileAtomic(path, std::string(packed.begin(), packed.end())));
  auto picture = header("WAP", "IMAGE", "nokia_op_logo");
  ASSERT_EQ(NET_SendMessage(&notice, picture.data(), path.c_str()), 0);

  Bytes blob(3000);
  for (size_t i = 0; i < blob.size(); ++i) blob[i] = uint8_t(i % 251);
  auto memory = header("WAP", "FLASH", "gif");
  ASSERT_EQ(NET_SendMessageContent(&notice, memory.data(), blob.data(), int(blob.size())), 0);

  ASSERT_EQ(NET_SendMobileTypeQuerySMS(&notice, "13700000000"), 0);

  EXPECT_EQ(results.wait(4), (std::vector<int>{0, 0, 0, 0}));

  auto stored = storedMessages(service_);
  ASSERT_EQ(stored.size(), 4u);
  std::map<std::string, hv::service::StoredMessage> byKind;
  for (auto& m : stored) byKind[m.contentKind + "/" + m.recipients.at(0)] = m;

  auto& t = byKind.at("sms_text/13900000000");
  EXPECT_EQ(t.user, kUser);
  EXPECT_EQ(t.texts,
            (std::vector<std::string>{"first part", hv::T("第二条"), std::string(160, 'z')}));
  // The text message as uploaded: 152 header bytes, T = 1 + 11 + 7 + 161, then the section.
  Bytes expected(text.bytes().begin(), text.bytes().end());
  hv::WireWriter(expected).u32(180);
  expected.insert(expected.end(), {3, 10});
  std::string parts = "first part";
  expected.insert(expected.end(), parts.begin(), parts.end());
  expected.push_back(6);
  std::string second = hv::T("第二条");
  expected.insert(expected.end(), second.begin(), second.end());
  expected.push_back(160);
  expected.insert(expected.end(), 160, 'z');
  EXPECT_EQ(t.packet, expected);

  auto& p = byKind.at("nokia_op_logo/13900000000");
  EXPECT_EQ(p.shortMessages, 2);
  EXPECT_EQ(p.contentSize, int64_t(packed.size()));
  auto& f = byKind.at("gif/13900000000");
  EXPECT_EQ(Bytes(f.packet.begin() + 156, f.packet.end()), blob);

  auto& q = byKind.at("sms_text/13700000000");
  EXPECT_EQ(q.texts,
            (std::vector<std::string>{hv::T("Lumoi用户13800138000询问您的手机型号，请直接回复")}));
  EXPECT_EQ(q.sender, kUser);
  EXPECT_EQ(q.contentType, "TXT");

  ASSERT_EQ(service_.command({"list-messages"}), 0);
  std::string listing = service_.lastOutput();
  EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), 4) << listing;
}

TEST_F(ServiceEndToEnd, TextBatchLimitsReachTheService) {
  ASSERT_EQ(signIn(), 0);
  Results results;
  auto notice = results.notice(0);
  auto h = header("SMS", "TEXTG", "sms_text");
  std::vector<std::string> twenty;
  for (int i = 0; i < 20; ++i) twenty.push_back("text " + std::to_string(i));
  auto batch = hv::encodeTextBatch(twenty);
  ASSERT_EQ(NET_SendMessageContent(&notice, h.data(), batch.data(), int(batch.size())), 0);
  EXPECT_EQ(results.wait(1), (std::vector<int>{0}));
  auto tooLong = hv::encodeTextBatch({"fine", std::string(161, 'y')});
  ASSERT_EQ(NET_SendMessageContent(&notice, h.data(), tooLong.data(), int(tooLong.size())), 0);
  EXPECT_EQ(results.wait(2), (std::vector<int>{0, -9}));
  auto stored = storedMessages(service_);
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].texts, std::vector<std::string>(twenty.begin(), twenty.begin() + 15));
}

TEST_F(ServiceEndToEnd, ServiceStatusesPassThroughTheLogin) {
  EXPECT_EQ(signIn(0, "", 0, "", "", "wrong"), 3);  // wrong password
  NET_UserLogout();
  ASSERT_EQ(NET_Initialize("", 0, "", "", 0), 0);
  EXPECT_EQ(NET_RegionRecognize("13999999999", "127.0.0.1", service_.region), 2);  // no account
  EXPECT_EQ(NET_RegionRecognize(std::string(20, '1').c_str(), "127.0.0.1", service_.region), -1);
  ASSERT_EQ(service_.command({"set-password", kUser, "changed"}), 0);
  EXPECT_EQ(signIn(0, "", 0, "", "", "changed"), 0);
}

TEST_F(ServiceEndToEnd, EntryPointsRefuseBeforeAuthenticationAndBadArguments) {
  Results results;
  auto notice = results.notice();
  auto h = header("WAP", "IMAGE", "x");
  uint8_t byte = 1;
  NET_UserLogout();
  ASSERT_EQ(NET_Initialize("", 0, "", "", 0), 0);
  ASSERT_EQ(NET_RegionRecognize(kUser, "127.0.0.1", service_.region), 0);
  EXPECT_EQ(NET_SendMessageContent(&notice, h.data(), &byte, 1), -1);  // RegionKnown only
  ASSERT_EQ(NET_UserAuthentication(kUser, kPassword), 0);
  EXPECT_EQ(NET_SendMessageContent(&notice, h.data(), &byte, 0), -1);
  EXPECT_EQ(NET_SendMessageContent(&notice, h.data(), nullptr, 1), -1);
  Bytes bad = h.bytes();
  bad[hv::header::attachType(1)] = 3;
  EXPECT_EQ(NET_SendMessageContent(&notice, bad.data(), &byte, 1), -1);
  EXPECT_EQ(NET_SendMessageContent(&notice, h.data(), &byte, 1), 0);
  EXPECT_EQ(results.wait(1), (std::vector<int>{0}));
  EXPECT_EQ(storedMessages(service_).size(), 1u);
}

TEST_F(ServiceEndToEnd, SendsRacingLogoutKeepTheirCredentials) {
  ASSERT_EQ(signIn(), 0);
  Results results;
  auto notice = results.notice(0);
  auto h = header("WAP", "IMAGE", "x");
  Bytes content(5000, 7);
  for (int i = 0; i < 6; ++i)
    ASSERT_EQ(NET_SendMessageContent(&notice, h.data(), content.data(), int(content.size())), 0);
  EXPECT_EQ(NET_UserLogout(), 0);
  EXPECT_EQ(NET_SendMessageContent(&notice, h.data(), content.data(), int(content.size())), -1);
  EXPECT_EQ(results.wait(6), std::vector<int>(6, 0));
  auto stored = storedMessages(service_);
  ASSERT_EQ(stored.size(), 6u);
  for (auto& m : stored) EXPECT_EQ(m.user, kUser);
}

// ---- through proxies

struct ProxyCase {
  const char* name;
  int type;
  bool withUser;
};

void PrintTo(const ProxyCase& c, std::ostream* os) {
  *os << c.name;
}

class ThroughProxy : public ServiceEndToEnd, public ::testing::WithParamInterface<ProxyCase> {};

std::unique_ptr<Peer> startProxy(const ProxyCase& c, const std::string& dir, int port) {
  std::string p = std::to_string(port);
  std::string name = c.name;
  if (name == "socks5-microsocks")
    return std::make_unique<Peer>(
        std::vector<std::string>{"microsocks", "-i", "127.0.0.1", "-p", p}, port,
        dir + "/proxy.log");
  if (name == "socks5-microsocks-user")
    return std::make_unique<Peer>(std::vector<std::string>{"microsocks", "-i", "127.0.0.1", "-p", p,
                                                           "-u", "alice", "-P", "s3cret"},
                                  port, dir + "/proxy.log");
  if (name == "socks4-dante" || name == "socks5-dante") {
    std::string conf = dir + "/danted.conf";
    hv::fs::writeFileAtomic(
        conf, "logoutput: stderr\ninternal: 127.0.0.1 port = " + p +
                  "\nexternal: 127.0.0.1\n"
                  "clientmethod: none\nsocksmethod: none\nuser.privileged: root\n"
                  "user.unprivileged: nobody\nclient pass {\n from: 127.0.0.0/8 to: 0.0.0.0/0\n}\n"
                  "socks pass {\n from: 127.0.0.0/8 to: 0.0.0.0/0\n protocol: tcp\n}\n");
    // A pid file of its own: the default one in /run is shared with every other danted.
    return std::make_unique<Peer>(
        std::vector<std::string>{"danted", "-N", "1", "-f", conf, "-p", dir + "/danted.pid"}, port,
        dir + "/proxy.log");
  }
  std::string conf = dir + "/tinyproxy.conf";
  hv::fs::writeFileAtomic(conf, "Port " + p +
                                    "\nListen 127.0.0.1\nTimeout 30\nMaxClients 20\n"
                                    "Allow 127.0.0.1\nDisableViaHeader Yes\n" +
                                    std::string(c.withUser ? "BasicAuth alice s3cret\n" : ""));
  return std::make_unique<Peer>(std::vector<std::string>{"tinyproxy", "-d", "-c", conf}, port,
                                dir + "/proxy.log");
}

TEST_P(ThroughProxy, LoginAndSendThroughTheProxy) {
  const auto& c = GetParam();
  if (getuid() != 0 && std::string(c.name).find("dante") != std::string::npos)
    GTEST_SKIP() << "danted needs root here";
  int port = freePort();
  auto proxy = startProxy(c, service_.directory(), port);
  ASSERT_TRUE(proxy->ready()) << c.name << " did not start";
  std::string user = c.withUser ? "alice" : (c.type == 1 ? "bob" : "");
  std::string password = c.withUser ? "s3cret" : "";
  ASSERT_EQ(signIn(c.type, "127.0.0.1", port, user, password), 0);
  Results results;
  auto notice = results.notice();
  auto h = header("WAP", "IMAGE", c.name);
  Bytes content(1500, 3);
  ASSERT_EQ(NET_SendMessageContent(&notice, h.data(), content.data(), int(content.size())), 0);
  EXPECT_EQ(results.wait(1), (std::vector<int>{0}));
  auto stored = storedMessages(service_);
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].contentKind, c.name);
}

TEST_F(ServiceEndToEnd, ProxyRefusingTheCredentialsFailsTheLogin) {
  int port = freePort();
  auto proxy = startProxy({"http-tinyproxy-user", 3, true}, service_.directory(), port);
  ASSERT_TRUE(proxy->ready());
  EXPECT_EQ(signIn(3, "127.0.0.1", port, "alice", "wrong"), -1);
  EXPECT_EQ(signIn(2, "127.0.0.1", port, "", ""), -1);  // not a SOCKS proxy
}

INSTANTIATE_TEST_SUITE_P(Proxies, ThroughProxy,
                         ::testing::Values(ProxyCase{"socks4-dante", 1, false},
                                           ProxyCase{"socks5-dante", 2, false},
                                           ProxyCase{"socks5-microsocks", 2, false},
                                           ProxyCase{"socks5-microsocks-user", 2, true},
                                           ProxyCase{"http-tinyproxy", 3, false},
                                           ProxyCase{"http-tinyproxy-user", 3, true}),
                         [](const auto& info) {
                           std::string n = info.param.name;
                           std::replace(n.begin(), n.end(), '-', '_');
                           return n;
                         });

}  // namespace
