// The whole path in a real browser: handvane-service started as a program, Chromium driven
// headless through chromedriver (WebDriver over HTTP on loopback). An account registers in the
// browser and signs in through Svclink; a recovered password read off the virtual phone signs in;
// a text, a flash text, an operator logo, a picture message, a ringing tone and a GIF animation
// sent through Svclink appear on the recipient's phone without a reload. Pictures are left in
// $HV_SCREENSHOT_DIR (default "screenshots" in the test's folder).
// httplib.h first: Magick++ pulls <assert.h> into its own namespace, after which a later
// <cassert> adds nothing and httplib's assert() finds no __assert_fail in a Debug build.
// clang-format off
#include <httplib.h>
#include <Magick++.h>
// clang-format on
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <regex>

#include "platform/fs.h"
#include "platform/gbk.h"
#include "platform/kernel.h"
#include "platform/messages.h"
#include "ringtone/nokia.h"
#include "ringtone/song.h"
#include "service/svclink.h"
#include "tests/service-e2e/peers.h"

namespace {

using namespace hv::e2e;
using Bytes = std::vector<uint8_t>;

constexpr char kSender[] = "13800138000";
constexpr char kPassword[] = "handvane";
constexpr char kPhone[] = "13900000000";

std::string screenshotDir() {
  const char* env = std::getenv("HV_SCREENSHOT_DIR");
  std::string dir = env && *env ? env : "screenshots";
  hv::fs::makeDirectories(dir);
  return dir;
}

std::string jsonString(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// The string value of the first "key" in a JSON text (escapes \" \\ \/ \n and \uXXXX of the BMP).
std::string jsonField(const std::string& json, const std::string& key) {
  const std::string k = "\"" + key + "\":";
  size_t at = json.find(k);
  if (at == std::string::npos) return {};
  at = json.find('"', at + k.size());
  if (at == std::string::npos) return {};
  std::string out;
  for (size_t i = at + 1; i < json.size() && json[i] != '"'; ++i) {
    if (json[i] != '\\' || i + 1 >= json.size()) {
      out += json[i];
      continue;
    }
    const char e = json[++i];
    if (e == 'n')
      out += '\n';
    else if (e == 'u' && i + 4 < json.size()) {
      const unsigned cp = unsigned(std::stoul(json.substr(i + 1, 4), nullptr, 16));
      i += 4;
      if (cp < 0x80)
        out += char(cp);
      else if (cp < 0x800)
        out += char(0xC0 | cp >> 6), out += char(0x80 | (cp & 63));
      else
        out += char(0xE0 | cp >> 12), out += char(0x80 | (cp >> 6 & 63)),
            out += char(0x80 | (cp & 63));
    } else
      out += e;
  }
  return out;
}

std::string base64Decode(const std::string& in) {
  static const std::string chars =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  unsigned v = 0;
  int bits = 0;
  for (char c : in) {
    const size_t p = chars.find(c);
    if (p == std::string::npos) continue;
    v = v << 6 | unsigned(p);
    bits += 6;
    if (bits >= 8) out += char(v >> (bits -= 8) & 0xFF);
  }
  return out;
}

// One Chromium session through chromedriver.
class Browser {
 public:
  Browser() {
    const int port = freePort();
    profile_ = *hv::fs::createTempDirectory();
    hv::Process::Options o;
    o.outputFile = profile_ + "/chromedriver.log";
    driver_ = hv::Process::start({"/usr/bin/chromedriver", "--port=" + std::to_string(port)}, o);
    if (!driver_ || !peer::waitListening(uint16_t(port), "127.0.0.1", 20000)) return;
    http_ = std::make_unique<httplib::Client>("127.0.0.1", port);
    http_->set_read_timeout(60, 0);
    const std::string caps =
        R"({"capabilities":{"alwaysMatch":{"goog:chromeOptions":{"binary":"/usr/bin/chromium",)"
        R"("args":["--headless=new","--no-sandbox","--disable-gpu","--disable-dev-shm-usage",)"
        R"("--window-size=480,1800","--lang=zh-CN","--user-data-dir=)" +
        profile_ + R"(/chromium"]}}}})";
    auto r = http_->Post("/session", caps, "application/json");
    if (r) session_ = jsonField(r->body, "sessionId");
  }
  ~Browser() {
    if (http_ && !session_.empty()) http_->Delete(("/session/" + session_).c_str());
    if (driver_) {
      driver_->kill(15);
      driver_->wait(std::chrono::seconds(10));
    }
    if (!profile_.empty()) hv::fs::removeAll(profile_);
  }
  bool ready() const { return !session_.empty(); }
  std::string call(const char* method, const std::string& path, const std::string& body = "{}") {
    const std::string p = "/session/" + session_ + path;
    auto r = std::string(method) == "GET" ? http_->Get(p.c_str())
                                          : http_->Post(p.c_str(), body, "application/json");
    return r ? r->body : std::string();
  }
  void go(const std::string& url) { call("POST", "/url", "{\"url\":" + jsonString(url) + "}"); }
  std::string find(const std::string& css) {
    auto body =
        call("POST", "/element", "{\"using\":\"css selector\",\"value\":" + jsonString(css) + "}");
    return jsonField(body, "element-6066-11e4-a52e-4f735466cecf");
  }
  void type(const std::string& css, const std::string& text) {
    call("POST", "/element/" + find(css) + "/value", "{\"text\":" + jsonString(text) + "}");
  }
  void click(const std::string& css) { call("POST", "/element/" + find(css) + "/click"); }
  std::string script(const std::string& js) {
    return jsonField(
        call("POST", "/execute/sync", "{\"script\":" + jsonString(js) + ",\"args\":[]}"), "value");
  }
  std::string text(const std::string& css) {
    return script("var e=document.querySelector(" + jsonString(css) + ");return e?e.innerText:'';");
  }
  // Waits up to 20 s for the script to return "1".
  bool waitFor(const std::string& js) {
    for (int i = 0; i < 100; ++i) {
      if (script(js) == "1") return true;
      hv::pumpMessagesFor(std::chrono::milliseconds(200));
    }
    return false;
  }
  bool screenshot(const std::string& name, const std::string& css = "") {
    const std::string path = css.empty() ? "/screenshot" : "/element/" + find(css) + "/screenshot";
    const std::string png = base64Decode(jsonField(call("GET", path), "value"));
    return png.size() > 8 && png.compare(1, 3, "PNG") == 0 &&
           hv::fs::writeFileAtomic(screenshotDir() + "/" + name, png);
  }

 private:
  std::optional<hv::Process> driver_;
  std::unique_ptr<httplib::Client> http_;
  std::string session_, profile_;
};

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

hv::MessageHeader header(const char* service, const char* cls, const char* kind,
                         const char* model = "standard") {
  hv::MessageHeader h(1);
  h.setServiceCode(service);
  h.setContentClass(cls);
  h.setRecipient(0, kPhone);
  h.setSender(kSender);
  h.setModel(model);
  h.setContentKind(kind);
  h.setContentType("BMP");
  return h;
}

// A picture from libLogopack.so as the image module sends it: the packed message file.
std::string packedPicture(const std::string& dir, const char* format, int w, int h) {
  const char* env = std::getenv("HV_SUITE_DIR");
  void* lib =
      dlopen((std::string(env && *env ? env : HV_SUITE_DIR) + "/libLogopack.so").c_str(), RTLD_NOW);
  if (!lib) return {};
  auto fn = reinterpret_cast<int (*)(char*, const char*, int, int, const unsigned char*)>(
      dlsym(lib, "DoProcess"));
  std::vector<uint8_t> rgb;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      // A border, a smiling face and the letters' worth of stripes.
      const int cx = x - w / 2, cy = y - h / 2;
      const bool ink =
          x == 0 || y == 0 || x == w - 1 || y == h - 1 ||
          (cx * cx + cy * cy * 4 < (h * h) / 5 && cx * cx + cy * cy * 4 > (h * h) / 9) ||
          (x % 9 == 3 && y > 2 && y < h - 3 && (x < w / 4 || x > 3 * w / 4));
      rgb.insert(rgb.end(), 3, ink ? 0 : 255);
    }
  char path[260] = {};
  std::strncpy(path, dir.c_str(), sizeof path - 1);
  return fn && fn(path, format, w, h, rgb.data()) == 0 ? std::string(path) : std::string();
}

Bytes animatedGif() {
  std::vector<Magick::Image> frames;
  const char* colours[] = {"#d33", "#3a3", "#33d"};
  for (int i = 0; i < 3; ++i) {
    Magick::Image f(Magick::Geometry(96, 64), Magick::Color("white"));
    f.fillColor(Magick::Color(colours[i]));
    f.draw(Magick::DrawableCircle(20 + i * 28, 32, 20 + i * 28, 18));
    f.animationDelay(30);
    f.magick("GIF");
    frames.push_back(f);
  }
  Magick::Blob blob;
  Magick::writeImages(frames.begin(), frames.end(), &blob);
  auto p = static_cast<const uint8_t*>(blob.data());
  return Bytes(p, p + blob.length());
}

class BrowserEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!hv::fs::exists("/usr/bin/chromium") || !hv::fs::exists("/usr/bin/chromedriver"))
      GTEST_SKIP() << "chromium and chromium-driver are not installed (scripts/deps.sh)";
    ASSERT_EQ(service_.command({"add-account", kSender, kPassword}), 0);
    ASSERT_TRUE(service_.start());
    ASSERT_GT(service_.web, 0);
    site_ = "http://127.0.0.1:" + std::to_string(service_.web);
  }
  int signIn(const std::string& user, const std::string& password) {
    NET_UserLogout();
    NET_Initialize("", 0, "", "", 0);
    if (int r = NET_RegionRecognize(user.c_str(), "127.0.0.1", service_.region)) return r;
    return NET_UserAuthentication(user.c_str(), password.c_str());
  }
  LocalService service_{"[web]\r\nFeeConfig=" + suiteProgram("DATA/confee.dll") + "\r\n"};
  std::string site_;
};

TEST_F(BrowserEndToEnd, RegisterRecoverAndEverythingSentAppearsOnThePhone) {
  Magick::InitializeMagick(nullptr);
  Browser b;
  ASSERT_TRUE(b.ready()) << "chromedriver did not start a session";

  // Registration in the browser; the account signs in at once.
  b.go(site_ + "/register.asp");
  ASSERT_TRUE(b.screenshot("service-web-register.png"));
  b.type("#phone", "13955556666");
  b.type("#password", "新密码1");
  b.type("#password2", "新密码1");
  b.click("#submit");
  ASSERT_TRUE(b.waitFor("return document.getElementById('done')?'1':'0';")) << b.text("main");
  EXPECT_NE(b.text("#done").find("注册成功"), std::string::npos);
  EXPECT_EQ(signIn("13955556666", hv::T("新密码1")), 0);

  // Password recovery: the new password arrives on that number's phone.
  b.go(site_ + "/forgetpass.asp");
  b.type("#phone", "13955556666");
  b.click("#submit");
  ASSERT_TRUE(b.waitFor("return document.getElementById('done')?'1':'0';"));
  b.go(site_ + "/phone/13955556666");
  const std::string shown = b.text(".screen");
  std::smatch m;
  std::string text = shown;
  ASSERT_TRUE(std::regex_search(text, m, std::regex("新密码是：([0-9]{6})"))) << shown;
  EXPECT_EQ(signIn("13955556666", m[1].str()), 0);
  EXPECT_NE(signIn("13955556666", hv::T("新密码1")), 0);
  ASSERT_TRUE(b.screenshot("service-web-recovery.png", ".phone"));

  // Everything sent to 13900000000 from the suite's sender.
  ASSERT_EQ(signIn(kSender, kPassword), 0);
  b.go(site_ + "/phone/" + kPhone);
  ASSERT_TRUE(b.waitFor("return document.querySelector('.empty')?'1':'0';"));
  Results results;
  auto notice = results.notice();
  auto textHeader = header("SMS", "TEXTG", "sms_text");
  auto batch = hv::encodeTextBatch({hv::T("(1/2)\n你好！这是从 Lumoi 发来的短信，"),
                                    hv::T("(2/2)\n<script>alert(1)</script> & 再见。")});
  ASSERT_EQ(NET_SendMessageContent(&notice, textHeader.data(), batch.data(), int(batch.size())), 0);
  ASSERT_EQ(results.wait(1), std::vector<int>{0});
  // The open page notices the new message by itself.
  ASSERT_TRUE(b.waitFor("return document.querySelectorAll('.msg').length==1?'1':'0';"));
  EXPECT_NE(
      b.text(".screen").find("你好！这是从 Lumoi 发来的短信，<script>alert(1)</script> & 再见。"),
      std::string::npos);
  EXPECT_EQ(b.script("return document.querySelectorAll('.screen script').length+'';"), "0");

  auto flashHeader = header("SMS", "TEXTG", "sms_fireflag");
  auto flash = hv::encodeTextBatch({hv::T("闪信：马上回电话")});
  ASSERT_EQ(NET_SendMessageContent(&notice, flashHeader.data(), flash.data(), int(flash.size())),
            0);
  ASSERT_EQ(results.wait(2).size(), 2u);  // one at a time, so that they arrive in this order

  const std::string dir = service_.directory();
  const std::string logo = packedPicture(dir, "nokia_op_logo", 72, 14);
  const std::string picture = packedPicture(dir, "nokia_picture", 72, 28);
  ASSERT_FALSE(logo.empty());
  ASSERT_FALSE(picture.empty());
  auto logoHeader = header("SMS", "IMAGE", "nokia_op_logo", "Nokia 3310");
  ASSERT_EQ(NET_SendMessage(&notice, logoHeader.data(), logo.c_str()), 0);
  ASSERT_EQ(results.wait(3).size(), 3u);
  auto pictureHeader = header("SMS", "IMAGE", "nokia_picture", "Nokia 3310");
  ASSERT_EQ(NET_SendMessage(&notice, pictureHeader.data(), picture.c_str()), 0);
  ASSERT_EQ(results.wait(4).size(), 4u);

  hv::tunecast::Song song;
  ASSERT_TRUE(hv::tunecast::parseRtttl(
                  "fur:d=8,o=5,b=125:e6,d#6,e6,d#6,e6,b,d6,c6,4a,p,c,e,a,4b,p,e,g#,b,4c6", song)
                  .ok());
  auto tone = hv::tunecast::encodeNokia(song, 0, 0);
  auto split = hv::tunecast::splitNokia(tone, 3, song.notes.size(), 9);
  std::vector<std::string> streams;
  for (auto& s : split.streams) streams.emplace_back(s.begin(), s.end());
  auto toneBatch = hv::encodeTextBatch(streams);
  auto toneHeader = header("SMS", "MUSIC", "nokia_ringtone", "Nokia 3310");
  ASSERT_EQ(
      NET_SendMessageContent(&notice, toneHeader.data(), toneBatch.data(), int(toneBatch.size())),
      0);
  ASSERT_EQ(results.wait(5).size(), 5u);

  Bytes gif = animatedGif();
  ASSERT_GT(gif.size(), 100u);
  auto gifHeader = header("WAP", "FLASH", "flash", "Nokia 7650");
  ASSERT_EQ(NET_SendMessageContent(&notice, gifHeader.data(), gif.data(), int(gif.size())), 0);
  ASSERT_EQ(results.wait(6), (std::vector<int>{0, 0, 0, 0, 0, 0}));
  NET_UserLogout();

  ASSERT_TRUE(b.waitFor("return document.querySelectorAll('.msg').length==6?'1':'0';"));
  // Every picture loaded (PNG decoded by the browser at its size), the tone lists its notes.
  ASSERT_TRUE(
      b.waitFor("var i=document.querySelectorAll('.screen img');return i.length==3&&"
                "Array.from(i).every(function(x){return x.complete&&x.naturalWidth>0;})?'1':'0';"));
  EXPECT_EQ(b.script("return document.querySelector('img.lcd').naturalWidth+'x'+"
                     "document.querySelector('img.lcd').naturalHeight;"),
            "72x14");
  EXPECT_EQ(b.script("return document.querySelectorAll('img.lcd')[1].naturalHeight+'';"), "28");
  EXPECT_EQ(b.script("return document.querySelector('img.colour').naturalWidth+'';"), "96");
  const std::string notes = b.text(".notes");
  EXPECT_EQ(notes.rfind("8E6 8D#6 8E6 8D#6 8E6 8B5", 0), 0u) << notes;
  EXPECT_NE(b.text(".screen").find("运营商图标"), std::string::npos);
  EXPECT_NE(b.text(".screen").find("MCC 460 MNC 00"), std::string::npos);
  EXPECT_NE(b.text(".screen").find("闪信"), std::string::npos);
  // The tone's WAV plays: the browser reads its duration.
  b.script(
      "document.querySelector('audio').preload='auto';document.querySelector('audio').load();"
      "return '';");
  EXPECT_TRUE(b.waitFor("return document.querySelector('audio').duration>1?'1':'0';"));

  ASSERT_TRUE(b.screenshot("service-web-phone.png", ".phone"));
  ASSERT_TRUE(b.screenshot("service-web-text.png", ".msg:nth-child(1)"));
  ASSERT_TRUE(b.screenshot("service-web-logo.png", ".msg:nth-child(3)"));
  ASSERT_TRUE(b.screenshot("service-web-picture.png", ".msg:nth-child(4)"));
  ASSERT_TRUE(b.screenshot("service-web-ringtone.png", ".msg:nth-child(5)"));
  ASSERT_TRUE(b.screenshot("service-web-gif.png", ".msg:nth-child(6)"));
  b.go(site_ + "/phone/");
  EXPECT_NE(b.text("main").find(kPhone), std::string::npos);
  ASSERT_TRUE(b.screenshot("service-web-index.png"));
  b.go(site_ + "/inc/service/zfsm.asp");
  ASSERT_TRUE(b.screenshot("service-web-fees.png"));
}

}  // namespace
