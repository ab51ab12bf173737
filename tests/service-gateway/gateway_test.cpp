// Short messages to an SMS gateway: against a loopback stand-in that refuses before it accepts,
// and against real Kannel (bearerbox, smsbox and the fake SMSC, in a private network namespace
// because the fake SMSC listens on every address) with the gateway stopped in the middle.
#include "service-server/gateway/gateway.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <thread>

#include "platform/fs.h"
#include "platform/kernel.h"
#include "platform/messages.h"
#include "service-server/server.h"
#include "service-server/web/site.h"
#include "service/protocol/packet.h"
#include "service/svclink.h"
#include "tests/service-e2e/kannel.h"
#include "tests/service-e2e/peers.h"

namespace {

using namespace hv::service;
using Bytes = std::vector<uint8_t>;
constexpr char kSender[] = "13800138000";
constexpr char kPassword[] = "s3cret";
constexpr char kPhone[] = "13900000000";

bool eventually(const std::function<bool()>& pred, int ms = 20000) {
  return peer::waitUntil(pred, ms);
}

std::string hex(const Bytes& b) {
  static const char* d = "0123456789ABCDEF";
  std::string out;
  for (uint8_t c : b) out += {d[c >> 4], d[c & 15]};
  return out;
}

hv::svc::DecodedPacket decoded(const std::string& service, const std::string& kind,
                               std::vector<std::string> texts, std::vector<std::string> to) {
  hv::svc::DecodedPacket d;
  d.serviceCode = service;
  d.contentClass = kind == "sms_text" || kind == "sms_fireflag" ? "TEXTG" : "IMAGE";
  d.contentKind = kind;
  d.sender = kSender;
  d.recipients = std::move(to);
  d.texts = std::move(texts);
  return d;
}

TEST(ShortMessages, TextsBinaryDataAndQuery) {
  // A GBK text goes as UTF-8 in UCS-2, an ASCII one in the default alphabet; one per recipient.
  auto sms =
      shortMessagesOf("u", decoded("SMS", "sms_text", {"hi", "\xC4\xE3\xBA\xC3"}, {"1", "2"}));
  ASSERT_EQ(sms.size(), 4u);
  EXPECT_EQ(sms[0].recipient, "1");
  EXPECT_EQ(sms[0].coding, 0);
  EXPECT_EQ(std::string(sms[1].data.begin(), sms[1].data.end()), "你好");
  EXPECT_EQ(sms[1].coding, 2);
  EXPECT_EQ(sms[3].recipient, "2");
  EXPECT_EQ(shortMessagesOf("u", decoded("SMS", "sms_fireflag", {"x"}, {"1"}))[0].mclass, 0);

  // Binary user data: the header by its length byte, the rest as 8-bit data; a length byte that
  // runs past the end makes it all data.
  auto bin = shortMessagesOf("u", decoded("SMS", "nokia_op_logo",
                                          {std::string("\x06\x05\x04\x15\x82\x00\x00\x01\x02", 9),
                                           std::string("\x09\x01", 2)},
                                          {"1"}));
  ASSERT_EQ(bin.size(), 2u);
  EXPECT_EQ(hex(bin[0].udh), "06050415820000");
  EXPECT_EQ(hex(bin[0].data), "0102");
  EXPECT_EQ(bin[0].coding, 1);
  EXPECT_TRUE(bin[1].udh.empty());
  EXPECT_EQ(hex(bin[1].data), "0901");

  // A colour picture is not a short message.
  auto gif = decoded("WAP", "flash", {}, {"1"});
  gif.content = {'G', 'I', 'F'};
  EXPECT_TRUE(shortMessagesOf("u", gif).empty());

  GatewayConfig c;
  c.username = "a b";
  c.password = "p&w";
  std::string q = sendSmsQuery(c, bin[0], "http://h/d?id=1&status=%d");
  EXPECT_NE(q.find("username=a%20b&password=p%26w&from=13800138000&to=1&text=%01%02&coding=1"),
            std::string::npos)
      << q;
  EXPECT_NE(q.find("&udh=%06%05%04%15%82%00%00"), std::string::npos) << q;
  EXPECT_NE(q.find("&dlr-url=http%3A%2F%2Fh%2Fd%3Fid%3D1%26status%3D%25d"), std::string::npos) << q;

  // The back-off doubles and stops at its cap.
  c.retryFirstMs = 100;
  c.retryMaxMs = 1000;
  EXPECT_EQ(retryDelayMs(c, 1), 100);
  EXPECT_EQ(retryDelayMs(c, 2), 200);
  EXPECT_EQ(retryDelayMs(c, 4), 800);
  EXPECT_EQ(retryDelayMs(c, 5), 1000);
  EXPECT_EQ(retryDelayMs(c, 60), 1000);
}

// A stand-in for smsbox that answers 503 to the first requests, then 202.
TEST(SmsGateway, RefusedSendsAreRetriedUntilAcceptedAndSurviveARestart) {
  const std::string dir = *hv::fs::createTempDirectory();
  std::mutex m;
  std::vector<std::string> queries;
  int refuse = 3;
  httplib::Server standIn;
  standIn.Get("/cgi-bin/sendsms", [&](const httplib::Request& req, httplib::Response& res) {
    std::lock_guard lock(m);
    queries.push_back(req.get_param_value("text"));
    if (refuse > 0) {
      --refuse;
      res.status = 503;
      res.set_content("busy", "text/plain");
      return;
    }
    res.status = 202;
    res.set_content("0: Accepted for delivery", "text/plain");
  });
  const int port = standIn.bind_to_any_port("127.0.0.1");
  std::thread serving([&] { standIn.listen_after_bind(); });
  ASSERT_TRUE(peer::waitListening(uint16_t(port)));

  GatewayConfig config;
  config.sendSmsUrl = "http://127.0.0.1:" + std::to_string(port) + "/cgi-bin/sendsms";
  config.retryFirstMs = 20;
  config.retryMaxMs = 100;
  std::string error;
  {
    auto store = Store::open(dir + "/service.db", error);
    ASSERT_TRUE(store) << error;
    store->setOutbound(shortMessagesOf, {});
    auto d = decoded("SMS", "sms_text", {"one", "two"}, {kPhone});
    ASSERT_GT(store->storeMessage(kSender, d, Bytes{1}), 0);
    // The service stops before anything was sent: the queue is in the file.
  }
  auto store = Store::open(dir + "/service.db", error);
  ASSERT_TRUE(store) << error;
  ASSERT_EQ(store->dueSms(INT64_MAX, 10).size(), 2u);
  SmsGateway gateway(config, *store, "");
  gateway.start();
  ASSERT_TRUE(eventually([&] {
    auto all = store->allSms();
    return all.size() == 2 && all[0].accepted && all[1].accepted;
  }));
  gateway.stop();
  auto all = store->allSms();
  // Three refusals spread over the two, then one acceptance each; nothing sent after that.
  EXPECT_EQ(all[0].attempts + all[1].attempts, 5);
  {
    std::lock_guard lock(m);
    EXPECT_EQ(queries.size(), 5u);
    EXPECT_EQ(std::count(queries.begin(), queries.end(), "one") +
                  std::count(queries.begin(), queries.end(), "two"),
              5);
  }
  standIn.stop();
  serving.join();
  hv::fs::removeAll(dir);
}

// --- Real Kannel -------------------------------------------------------------------------

using hv::e2e::Kannel;
using hv::e2e::PrivateNetwork;

// The gateway tests read what bearerbox sent from its access log.
constexpr int kKannelLogLevel = 0;
constexpr bool kKannelAccessLogs = true;

class Results {
 public:
  Results() : window_([this](const hv::WindowMessage& m) { codes_.push_back(int(m.lparam)); }) {}
  hv::SendNotice notice() const { return {window_.id(), hv::kSendCompleteMessage, 0, 0}; }
  std::vector<int> wait(size_t n) {
    for (int i = 0; i < 600 && codes_.size() < n; ++i)
      hv::pumpMessagesFor(std::chrono::milliseconds(50));
    return codes_;
  }

 private:
  std::vector<int> codes_;
  hv::MessageWindow window_;
};

hv::MessageHeader header(const char* cls, const char* kind) {
  hv::MessageHeader h(1);
  h.setServiceCode("SMS");
  h.setContentClass(cls);
  h.setRecipient(0, kPhone);
  h.setSender(kSender);
  h.setModel("Nokia 3310");
  h.setContentKind(kind);
  h.setContentType("TXT");
  return h;
}

// The service with its web site and gateway, all in this process; reopened on the same folder.
struct Service {
  Service(const std::string& dir, const GatewayConfig& config) {
    std::string error;
    store = Store::open(dir + "/service.db", error);
    if (!store) return;
    store->setOutbound(shortMessagesOf, [this] {
      if (gateway) gateway->wake();
    });
    ServiceConfig sc;
    sc.regionPort = sc.authPort = sc.sendPort = 0;
    sc.dataFolder = dir;
    server = std::make_unique<DeliveryService>(sc, *store);
    WebConfig wc;
    wc.dataFolder = dir;
    wc.threads = 4;
    site = std::make_unique<WebSite>(wc, *store);
    if (!server->start(error) || !site->start(error)) return;
    gateway = std::make_unique<SmsGateway>(config, *store, site->base());
    gateway->start();
    ok = true;
  }
  ~Service() {
    if (gateway) gateway->stop();
    if (site) site->stop();
    if (server) server->stop();
  }
  std::unique_ptr<Store> store;
  std::unique_ptr<DeliveryService> server;
  std::unique_ptr<WebSite> site;
  std::unique_ptr<SmsGateway> gateway;
  bool ok = false;
};

TEST(Kannel, TextAndLogoReachTheSmscAndNothingIsLostWhileTheGatewayIsAway) {
  PrivateNetwork net("hv-gw-");
  if (!net.entered()) GTEST_SKIP() << "needs root, iproute2 and kannel-extras (fakesmsc)";
  const std::string dir = *hv::fs::createTempDirectory();
  GatewayConfig config;
  config.sendSmsUrl = "http://127.0.0.1:13013/cgi-bin/sendsms";
  config.username = "tester";
  config.password = "testpw";
  config.retryFirstMs = 100;
  config.retryMaxMs = 500;

  auto service = std::make_unique<Service>(dir, config);
  ASSERT_TRUE(service->ok);
  ASSERT_TRUE(service->store->addAccount(kSender, kPassword));
  auto signIn = [&] {
    NET_UserLogout();
    return NET_Initialize("", 0, "", "", 0) == 0 &&
           NET_RegionRecognize(kSender, "127.0.0.1", service->server->regionPort()) == 0 &&
           NET_UserAuthentication(kSender, kPassword) == 0;
  };
  Results results;
  auto notice = results.notice();
  auto sendText = [&](const std::string& text, size_t nth) {
    auto h = header("TEXTG", "sms_text");
    auto batch = hv::encodeTextBatch({text});
    ASSERT_EQ(NET_SendMessageContent(&notice, h.data(), batch.data(), int(batch.size())), 0);
    ASSERT_EQ(results.wait(nth).size(), nth);
    EXPECT_EQ(results.wait(nth).back(), 0);
  };

  // A 72 x 14 operator logo in two concatenated parts, application port 0x1582.
  Bytes logo = {0x64, 0xF0, 0x00, 0x0A, 0x00, 0x48, 0x0E, 0x01};
  for (int i = 0; i < 126; ++i) logo.push_back(uint8_t(i * 37 + 11));
  std::vector<std::string> parts;
  std::vector<std::string> expected;
  for (int p = 0; p < 2; ++p) {
    Bytes udh = {0x0B, 0x05, 0x04, 0x15, 0x82, 0x00, 0x00, 0x00, 0x03, 0x7A, 0x02, uint8_t(p + 1)};
    Bytes data(logo.begin() + p * 100, p == 0 ? logo.begin() + 100 : logo.end());
    Bytes ud = udh;
    ud.insert(ud.end(), data.begin(), data.end());
    parts.emplace_back(ud.begin(), ud.end());
    expected.push_back("1 " + hex(udh) + " " + hex(data));
  }

  hv::fs::makeDirectories(dir + "/k1");
  hv::fs::makeDirectories(dir + "/k2");
  {
    auto kannel = std::make_unique<Kannel>(dir + "/k1", kKannelLogLevel, kKannelAccessLogs);
    ASSERT_TRUE(kannel->ready()) << kannel->logs();
    ASSERT_TRUE(signIn());
    sendText("Hello gateway", 1);
    auto h = header("IMAGE", "nokia_op_logo");
    auto batch = hv::encodeTextBatch(parts);
    ASSERT_EQ(NET_SendMessageContent(&notice, h.data(), batch.data(), int(batch.size())), 0);
    ASSERT_EQ(results.wait(2), (std::vector<int>{0, 0}));

    ASSERT_TRUE(eventually([&] { return kannel->sent().size() >= 3 && kannel->received() >= 3; }))
        << kannel->logs();
    auto sent = kannel->sent();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0], "0  Hello gateway");
    EXPECT_EQ(sent[1], expected[0]);
    EXPECT_EQ(sent[2], expected[1]);
    // The delivery reports come back to the web site and show on the virtual phone.
    ASSERT_TRUE(eventually([&] {
      auto all = service->store->allSms();
      return all.size() == 3 && std::all_of(all.begin(), all.end(), [](const OutgoingSms& m) {
               return m.accepted && m.reportStatus != 0;
             });
    })) << kannel->logs();
    httplib::Client web("127.0.0.1", service->site->port());
    auto page = web.Get(std::string("/phone/") + kPhone);
    ASSERT_TRUE(page);
    EXPECT_NE(page->body.find("网关已接收；送达报告："), std::string::npos) << page->body;
    // A report with the wrong key is not taken.
    auto forged = web.Get("/gateway/dlr?id=1&key=00&status=16");
    ASSERT_TRUE(forged);
    EXPECT_EQ(forged->status, 404);
  }

  // The gateway is away: the uploads are still accepted and their short messages wait.
  sendText("While away 1", 3);
  sendText("While away 2", 4);
  ASSERT_TRUE(eventually([&] {
    auto all = service->store->allSms();
    return all.size() == 5 && !all[3].accepted && all[3].attempts >= 1 && !all[4].accepted &&
           all[4].attempts >= 1;
  }));
  EXPECT_NE(service->store->allSms()[3].lastError.find("no answer"), std::string::npos);
  NET_UserLogout();

  // The service restarts (the queue is in its database), then the gateway comes back.
  service.reset();
  service = std::make_unique<Service>(dir, config);
  ASSERT_TRUE(service->ok);
  Kannel kannel(dir + "/k2", kKannelLogLevel, kKannelAccessLogs);
  ASSERT_TRUE(kannel.ready()) << kannel.logs();
  ASSERT_TRUE(eventually([&] {
    auto all = service->store->allSms();
    return std::all_of(all.begin(), all.end(), [](const OutgoingSms& m) { return m.accepted; });
  })) << kannel.logs();
  ASSERT_TRUE(eventually([&] { return kannel.received() >= 2; })) << kannel.logs();
  // Let anything sent twice show up before counting.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  // Each once; after retries their order is not kept.
  auto sent = kannel.sent();
  std::sort(sent.begin(), sent.end());
  EXPECT_EQ(sent, (std::vector<std::string>{"0  While away 1", "0  While away 2"}));
  EXPECT_EQ(kannel.received(), 2);
  service.reset();
  hv::fs::removeAll(dir);
}

}  // namespace
