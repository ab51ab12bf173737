// The web site over HTTP on loopback with the delivery service in the same process: registration
// followed by a sign-in through Svclink, password recovery arriving as a short message, the fee
// page, the virtual phone's pages and files, and clients that misbehave.
#include "service-server/web/site.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "platform/fs.h"
#include "platform/gbk.h"
#include "service-server/server.h"
#include "service/svclink.h"
#include "tests/service-e2e/peers.h"

namespace {

using hv::service::DeliveryService;
using hv::service::Store;
using hv::service::WebSite;

class SiteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = *hv::fs::createTempDirectory();
    std::string error;
    store_ = Store::open(dir_ + "/service.db", error);
    ASSERT_TRUE(store_) << error;
    hv::service::ServiceConfig sc;
    sc.regionPort = sc.authPort = sc.sendPort = 0;
    sc.dataFolder = dir_;
    service_ = std::make_unique<DeliveryService>(sc, *store_);
    ASSERT_TRUE(service_->start(error)) << error;
    ASSERT_TRUE(hv::fs::writeFileAtomic(
        dir_ + "/confee.dll",
        hv::T("[YEWU_LIST]\r\nITEM1=SMS_FEE;短信通信费;0;1;FMT\r\nITEM2=LOGO;图标<b>费;10;0;FMT\r\n"
              "[FORMAT]\r\nFMT=%s：%.1f元\r\n[INFOTYPE2YEWU]\r\ntext=SMS_FEE\r\n"
              "nokia_op_logo=SMS_FEE;LOGO\r\n")));
    web_.dataFolder = dir_;
    web_.feeConfig = dir_ + "/confee.dll";
    web_.readTimeoutMs = 1000;
    web_.threads = 4;
  }
  void startSite() {
    site_ = std::make_unique<WebSite>(
        web_, *store_, [this] { return now_; }, [this] { return nextRandom_; });
    std::string error;
    ASSERT_TRUE(site_->start(error)) << error;
    client_ = std::make_unique<httplib::Client>("127.0.0.1", site_->port());
    client_->set_read_timeout(10, 0);
  }
  void TearDown() override {
    client_.reset();
    site_.reset();
    service_.reset();
    store_.reset();
    hv::fs::removeAll(dir_);
  }
  int signIn(const std::string& user, const std::string& password) {
    NET_UserLogout();
    if (int r = NET_Initialize("", 0, "", "", 0)) return r;
    if (int r = NET_RegionRecognize(user.c_str(), "127.0.0.1", service_->regionPort())) return r;
    return NET_UserAuthentication(user.c_str(), password.c_str());
  }
  httplib::Result post(const std::string& path, const httplib::Params& form) {
    return client_->Post(path.c_str(), form);
  }
  std::string get(const std::string& path, int expect = 200) {
    auto r = client_->Get(path.c_str());
    EXPECT_TRUE(r) << path;
    if (!r) return {};
    EXPECT_EQ(r->status, expect) << path;
    return r->body;
  }

  std::string dir_;
  std::unique_ptr<Store> store_;
  std::unique_ptr<DeliveryService> service_;
  hv::service::WebConfig web_;
  std::unique_ptr<WebSite> site_;
  std::unique_ptr<httplib::Client> client_;
  int64_t now_ = 1000000;
  uint32_t nextRandom_ = 4242;
};

TEST_F(SiteTest, RegisteredAccountSignsInAtOnce) {
  startSite();
  EXPECT_NE(signIn("13911112222", "秘密pw"), 0);
  auto r = post("/register.asp",
                {{"phone", "13911112222"}, {"password", "秘密pw"}, {"password2", "秘密pw"}});
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  EXPECT_NE(r->body.find("注册成功"), std::string::npos);
  // The password is the GBK text the login dialog would send.
  EXPECT_EQ(signIn("13911112222", hv::T("秘密pw")), 0);
  EXPECT_NE(signIn("13911112222", "wrong"), 0);

  // A second registration of the number is refused and the first password stays.
  r = post("/register.asp", {{"phone", "13911112222"}, {"password", "x"}, {"password2", "x"}});
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 400);
  EXPECT_NE(r->body.find("已经注册"), std::string::npos);
  EXPECT_EQ(signIn("13911112222", hv::T("秘密pw")), 0);
  NET_UserLogout();
}

TEST_F(SiteTest, RegistrationRefusesWhatCannotSignIn) {
  startSite();
  struct Case {
    const char *phone, *password, *again, *why;
  } cases[] = {
      {"", "a", "a", "正确的手机号"},
      {"1391111a", "a", "a", "正确的手机号"},
      {"12345678901234567890", "a", "a", "正确的手机号"},  // 20 digits: over the user id field
      {"13900000001", "", "", "请输入密码"},
      {"13900000001", "a", "b", "不一致"},
      {"13900000001", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80", "无法使用"},  // not in GBK
      {"13900000001", "0123456789012345678901234567890123456789",
       "0123456789012345678901234567890123456789", "太长"},
  };
  for (const auto& c : cases) {
    auto r = post("/register.asp",
                  {{"phone", c.phone}, {"password", c.password}, {"password2", c.again}});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 400) << c.phone << " " << c.password;
    EXPECT_NE(r->body.find(c.why), std::string::npos) << c.why;
  }
  EXPECT_TRUE(store_->accounts().empty());
  // What was typed comes back escaped in the form.
  auto r = post("/register.asp", {{"phone", "\"><script>x</script>"}, {"password", "a"}});
  ASSERT_TRUE(r);
  EXPECT_EQ(r->body.find("<script>x"), std::string::npos);
  EXPECT_NE(r->body.find("&quot;&gt;&lt;script&gt;x&lt;/script&gt;"), std::string::npos);
}

TEST_F(SiteTest, RecoveredPasswordArrivesOnTheNumbersPhoneAndSignsIn) {
  ASSERT_TRUE(store_->addAccount("13800138000", "old"));
  startSite();
  nextRandom_ = 7654321;  // the new password is its last six digits
  auto r = post("/forgetpass.asp", {{"phone", "13800138000"}});
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  EXPECT_EQ(signIn("13800138000", "old"), 3);
  EXPECT_EQ(signIn("13800138000", "654321"), 0);
  NET_UserLogout();

  auto messages = store_->messagesTo("13800138000");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].sender, "Lumoi");
  ASSERT_EQ(messages[0].texts.size(), 1u);
  EXPECT_NE(messages[0].texts[0].find("654321"), std::string::npos);
  const std::string phone = get("/phone/13800138000");
  EXPECT_NE(phone.find("您的Lumoi新密码是：654321"), std::string::npos);
  EXPECT_NE(get("/phone/").find("/phone/13800138000"), std::string::npos);

  // Again within the interval: refused, the password stays. After it: a new one.
  nextRandom_ = 111111;
  r = post("/forgetpass.asp", {{"phone", "13800138000"}});
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 429);
  EXPECT_EQ(signIn("13800138000", "654321"), 0);
  now_ += 61;
  r = post("/forgetpass.asp", {{"phone", "13800138000"}});
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  EXPECT_EQ(signIn("13800138000", "111111"), 0);
  NET_UserLogout();

  // A number without an account gets the same answer and no message.
  r = post("/forgetpass.asp", {{"phone", "13700000000"}});
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  EXPECT_TRUE(store_->messagesTo("13700000000").empty());
}

TEST_F(SiteTest, PagesOfTheSuitesLinksAndTheFeeTable) {
  startSite();
  for (const char* path : {"/", "/register.asp", "/forgetpass.asp", "/service.asp",
                           "/inc/service/zfsm.asp", "/download.asp", "/nrlm", "/phone/"}) {
    auto r = client_->Get(path);
    ASSERT_TRUE(r) << path;
    EXPECT_EQ(r->status, 200) << path;
    EXPECT_EQ(r->get_header_value("Content-Type"), "text/html; charset=utf-8") << path;
    EXPECT_NE(r->body.find("<html lang=\"zh-CN\">"), std::string::npos);
    EXPECT_NE(r->get_header_value("Content-Security-Policy").find("script-src 'self'"),
              std::string::npos);
  }
  const std::string fees = get("/inc/service/zfsm.asp");
  // One message of each kind: the file's formats filled in, its texts escaped.
  EXPECT_NE(fees.find("文字短信</td><td>短信通信费：0.1元<br>"), std::string::npos);
  EXPECT_NE(fees.find("nokia_op_logo</td><td>短信通信费：0.1元<br>图标&lt;b&gt;费：1.0元<br>"),
            std::string::npos);
  EXPECT_EQ(fees.find("<b>"), std::string::npos);
  get("/no-such-page.asp", 404);
}

TEST_F(SiteTest, StaticFoldersServeTheirFilesAndNothingOutside) {
  startSite();
  ASSERT_TRUE(hv::fs::writeFileAtomic(dir_ + "/web/updates/manifest.ini", "[update]\r\n"));
  ASSERT_TRUE(hv::fs::writeFileAtomic(dir_ + "/web/download/Lumoi-1.2.tar.gz", "archive"));
  EXPECT_EQ(get("/updates/manifest.ini"), "[update]\r\n");
  // Where the suite's update check looks, and the files its manifest names relative to itself.
  ASSERT_TRUE(hv::fs::makeDirectories(dir_ + "/web/updates/files/1.3"));
  ASSERT_TRUE(hv::fs::writeFileAtomic(dir_ + "/web/updates/manifest.txt", "handvane-update 1\n"));
  ASSERT_TRUE(hv::fs::writeFileAtomic(dir_ + "/web/updates/files/1.3/tips.txt", "tips"));
  EXPECT_EQ(get("/update/manifest.txt"), "handvane-update 1\n");
  EXPECT_EQ(get("/update/files/1.3/tips.txt"), "tips");
  EXPECT_EQ(get("/download/Lumoi-1.2.tar.gz"), "archive");
  EXPECT_NE(get("/download.asp").find("href=\"/download/Lumoi-1.2.tar.gz\""), std::string::npos);
  ASSERT_TRUE(hv::fs::writeFileAtomic(dir_ + "/web/download/logo.hdv", "URL=//h/logo.png;ID=1"));
  auto offer = client_->Get("/download/logo.hdv");
  ASSERT_TRUE(offer);
  EXPECT_EQ(offer->get_header_value("Content-Type"), "application/x-handvane-handoff");
  for (const char* path : {"/updates/../service.db", "/updates/%2e%2e/service.db",
                           "/updates/..%2fservice.db", "/download/%2e%2e%2f%2e%2e%2fetc/passwd",
                           "/updates//etc/passwd", "/update/../service.db", "/phone/x/m/1/0.png"}) {
    auto r = client_->Get(path);
    ASSERT_TRUE(r) << path;
    EXPECT_GE(r->status, 400) << path;
    EXPECT_EQ(r->body.find("SQLite"), std::string::npos) << path;
  }
}

// A raw connection to the site.
class Raw {
 public:
  explicit Raw(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ok_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    timeval tv{10, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  }
  ~Raw() { ::close(fd_); }
  bool ok() const { return ok_; }
  bool send(const std::string& s) {
    return ::send(fd_, s.data(), s.size(), MSG_NOSIGNAL) == ssize_t(s.size());
  }
  // Everything until the peer closes (or 10 s without a byte).
  std::string readAll() {
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = ::recv(fd_, buf, sizeof buf, 0)) > 0;) out.append(buf, size_t(n));
    return out;
  }

 private:
  int fd_ = -1;
  bool ok_ = false;
};

TEST_F(SiteTest, ASecondSiteCannotShareThePort) {
  startSite();
  auto config = web_;
  config.port = site_->port();
  WebSite second(config, *store_);
  std::string error;
  EXPECT_FALSE(second.start(error));
  EXPECT_NE(error.find(std::to_string(site_->port())), std::string::npos);
}

TEST_F(SiteTest, HostileRequestsAreRefusedAndTheSiteStaysUp) {
  startSite();
  {  // A header line far over the limit.
    Raw c(site_->port());
    ASSERT_TRUE(c.ok());
    c.send("GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(100000, 'a') + "\r\n\r\n");
    EXPECT_EQ(c.readAll().find("200 OK"), std::string::npos);
  }
  {  // A path far over the limit.
    Raw c(site_->port());
    c.send("GET /" + std::string(20000, 'p') + " HTTP/1.1\r\nHost: x\r\n\r\n");
    const std::string reply = c.readAll();
    EXPECT_EQ(reply.find("200 OK"), std::string::npos);
  }
  {  // A form body over the limit.
    Raw c(site_->port());
    c.send(
        "POST /register.asp HTTP/1.1\r\nHost: x\r\nContent-Type: application/x-www-form-"
        "urlencoded\r\nContent-Length: 10000000\r\n\r\nphone=1");
    EXPECT_NE(c.readAll().find("413"), std::string::npos);
  }
  {  // Garbage instead of a request line.
    Raw c(site_->port());
    c.send(std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xFC\x03\x03", 11) + "\r\n\r\n");
    EXPECT_EQ(c.readAll().find("200 OK"), std::string::npos);
  }
  // Slow clients, more than the site has threads, that send half a request and wait: each is
  // dropped after the read time-out with a 400, and a normal client is served meanwhile or right
  // after.
  std::vector<std::unique_ptr<Raw>> slow;
  for (int i = 0; i < 8; ++i) {
    slow.push_back(std::make_unique<Raw>(site_->port()));
    slow.back()->send("GET / HTTP/1.1\r\nHost: x\r\n");
  }
  auto r = client_->Get("/service.asp");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  for (auto& c : slow) {  // answered 400 (or nothing) and closed: readAll() returns
    const std::string reply = c->readAll();
    EXPECT_TRUE(reply.empty() || reply.rfind("HTTP/1.1 400 ", 0) == 0) << reply.substr(0, 40);
  }
  EXPECT_EQ(get("/"), get("/"));
}

}  // namespace
