#include "service-server/web/site.h"

#include <httplib.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <random>

#include "platform/fs.h"
#include "platform/gbk.h"
#include "platform/profile.h"
#include "service-server/phone/decode.h"
#include "service-server/phone/media.h"
#include "service-server/web/html.h"
#include "service/protocol/packet.h"
#include "service/protocol/protocol.h"
#include "tables/fees/feeconfig.h"

namespace hv::service {
namespace {

using httplib::Request;
using httplib::Response;
using web::escape;

constexpr size_t kMaxPasswordBytes = 39;  // the sign-in settings keep 39 bytes and a NUL

bool validNumber(const std::string& s) {
  return !s.empty() && s.size() <= svc::kMaxUserIdLength &&
         std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string param(const Request& req, const char* name) {
  return req.has_param(name) ? req.get_param_value(name) : std::string();
}

void html(Response& res, const std::string& body, int status = 200) {
  res.status = status;
  res.set_content(body, "text/html; charset=utf-8");
}

std::string when(int64_t seconds) {
  std::time_t t = std::time_t(seconds);
  std::tm tm{};
  localtime_r(&t, &tm);
  char out[32];
  std::strftime(out, sizeof out, "%Y-%m-%d %H:%M:%S", &tm);
  return out;
}

// GBK header fields and texts to UTF-8, invalid bytes shown as \xNN.
std::string u8(const std::string& gbk) {
  return gbkToUtf8Escaped(gbk);
}

std::string percent(const std::string& s) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '+') {
      out += char(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

phone::Received receivedOf(const StoredMessage& m) {
  phone::Received r;
  r.serviceCode = m.serviceCode;
  r.contentClass = m.contentClass;
  r.contentKind = m.contentKind;
  r.contentType = m.contentType;
  r.texts = m.texts;
  if (m.serviceCode != "SMS") {
    auto d = svc::decodeMessagePacket(m.packet);
    if (d.packet) {
      r.content = d.packet->content;
      r.shortMessages = d.packet->shortMessages;
    }
  }
  return r;
}

std::string noteToken(const phone::Note& n) {
  return std::to_string(n.duration) + n.name + n.special +
         (n.name == "P" ? "" : std::to_string(n.octave));
}

std::string hexDump(const phone::Bytes& b) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < b.size(); ++i) {
    if (i) out += (i % 16 == 0) ? '\n' : ' ';
    out += hex[b[i] >> 4];
    out += hex[b[i] & 15];
  }
  return out;
}

// One received message as the phone shows it.
// What the SMS gateway did with a message's short messages to this number.
std::string gatewayHtml(Store& store, int64_t messageId, const std::string& number) {
  std::string out;
  int n = 0;
  for (const auto& sms : store.smsOf(messageId)) {
    if (sms.recipient != number) continue;
    ++n;
    std::string state;
    if (sms.accepted)
      state = "网关已接收";
    else if (sms.attempts == 0)
      state = "等待发往网关";
    else
      state = "等待重试（已试 " + std::to_string(sms.attempts) + " 次：" + sms.lastError + "）";
    std::string reports;
    static const std::pair<int, const char*> kReports[] = {
        {1, "已送达"}, {2, "发送失败"}, {4, "已缓存"}, {8, "短信中心已接收"}, {16, "短信中心拒收"}};
    for (auto& [bit, name] : kReports)
      if (sms.reportStatus & bit) reports += std::string(reports.empty() ? "" : "、") + name;
    out += "<li data-sms=\"" + std::to_string(sms.id) + "\" data-report=\"" +
           std::to_string(sms.reportStatus) + "\">短信 " + std::to_string(n) + "：" +
           escape(state) + (reports.empty() ? "" : "；送达报告：" + escape(reports)) + "</li>";
  }
  return out.empty() ? out : "<ul class=\"gateway\">" + out + "</ul>";
}

std::string messageHtml(const StoredMessage& m, const std::string& number, Store& store) {
  const auto items = phone::decode(receivedOf(m));
  const std::string base = "/phone/" + percent(number) + "/m/" + std::to_string(m.id) + "/";
  std::string out = "<div class=\"msg\" id=\"m" + std::to_string(m.id) + "\">";
  out += "<div class=\"meta\"><span class=\"from\">" + escape(u8(m.sender)) + "</span> <span>" +
         escape(when(m.receivedAt)) + "</span>";
  if (!m.model.empty() && m.model != "standard")
    out += " <span class=\"model\">" + escape(u8(m.model)) + "</span>";
  out += "</div>";
  for (size_t k = 0; k < items.size(); ++k) {
    const auto& it = items[k];
    const std::string key = std::to_string(k);
    out += "<div class=\"item kind-" + std::to_string(int(it.kind)) + "\" data-kind=\"" +
           escape(phone::kindName(it.kind)) + "\">";
    out += "<div class=\"kind\">" + escape(phone::kindName(it.kind)) + "</div>";
    switch (it.kind) {
      case phone::Kind::Text:
      case phone::Kind::FlashText:
        out += "<div class=\"text\">" + escape(it.text, true) + "</div>";
        break;
      case phone::Kind::NokiaRingtone:
      case phone::Kind::IMelody: {
        out += "<div class=\"tone\">速度 " + std::to_string(it.melody.bpm) + " 拍/分，" +
               std::to_string(it.melody.notes.size()) + " 个音符</div><div class=\"notes\">";
        for (const auto& n : it.melody.notes) out += "<span>" + escape(noteToken(n)) + "</span> ";
        out += "</div><audio controls preload=\"none\" src=\"" + base + key + ".wav\"></audio>";
        break;
      }
      case phone::Kind::Undecodable:
        out += "<div class=\"problem\">" + escape(it.problem) + "</div><pre class=\"hex\">" +
               escape(hexDump(it.raw)) + "</pre>";
        break;
      default:
        if (!it.text.empty()) out += "<div class=\"text\">" + escape(it.text, true) + "</div>";
        if (it.bitmap.width > 0) {
          out += "<img class=\"lcd\" alt=\"" + escape(phone::kindName(it.kind)) + "\" src=\"" +
                 base + key + ".png\" width=\"" + std::to_string(it.bitmap.width * 3) +
                 "\" height=\"" + std::to_string(it.bitmap.height * 3) + "\">";
        } else if (!it.raw.empty()) {
          out += "<img class=\"colour\" alt=\"" + escape(phone::kindName(it.kind)) + "\" src=\"" +
                 base + key + ".bin\">";
        }
        break;
    }
    out += "</div>";
  }
  out += gatewayHtml(store, m.id, number);
  out += "</div>";
  return out;
}

int64_t newestFor(Store& store, const std::string& number) {
  auto r = store.recipients();
  auto it = r.find(number);
  return it == r.end() ? 0 : it->second;
}

const char* kindTitle(const std::string& kind) {
  if (kind == "text") return "文字短信";
  if (kind == "flash") return "动画";
  return nullptr;
}

}  // namespace

WebConfig loadWebConfig(const std::string& path, const std::string& serviceBindAddress,
                        const std::string& dataFolder) {
  auto p = Profile::load(path);
  WebConfig c;
  c.bindAddress = serviceBindAddress;
  c.dataFolder = dataFolder;
  auto num = [&](const char* key, int& out) {
    if (auto v = p.get("web", key)) {
      try {
        out = std::stoi(*v);
      } catch (const std::exception&) {
      }
    }
  };
  int enabled = 1;
  num("Enabled", enabled);
  c.enabled = enabled != 0;
  if (auto v = p.get("web", "BindAddress")) c.bindAddress = *v;
  num("Port", c.port);
  num("RecoveryIntervalSeconds", c.recoveryIntervalSeconds);
  num("Threads", c.threads);
  num("ReadTimeoutMs", c.readTimeoutMs);
  if (auto v = p.get("web", "SmsSender")) c.smsSender = *v;
  std::string fee = p.get("web", "FeeConfig").value_or("confee.dll");
  if (!fee.empty() && fee[0] != '/') {
    const std::string dir = fs::directoryOf(path);
    fee = (dir.empty() ? std::string("./") : dir) + fee;
  }
  c.feeConfig = fs::resolveOrKeep(fee);
  return c;
}

std::vector<uint8_t> serviceTextPacket(const std::string& sender, const std::string& recipient,
                                       const std::string& gbkText) {
  MessageHeader h(1);
  h.setServiceCode("SMS");
  h.setContentClass("TEXTG");
  h.setRecipient(0, recipient);
  h.setSender(sender);
  h.setModel("standard");
  h.setContentKind("sms_text");
  h.setContentType("TXT");
  std::vector<uint8_t> p(h.bytes().begin(), h.bytes().begin() + long(svc::headerPartSize(1)));
  const std::string text = std::string(gbkCut(gbkText, 160));
  const uint32_t t = uint32_t(2 + text.size());
  for (int s = 24; s >= 0; s -= 8) p.push_back(uint8_t(t >> s));
  p.push_back(1);
  p.push_back(uint8_t(text.size()));
  p.insert(p.end(), text.begin(), text.end());
  return p;
}

WebSite::WebSite(WebConfig config, Store& store, Clock clock, Random random)
    : config_(std::move(config)),
      store_(store),
      clock_(std::move(clock)),
      random_(std::move(random)) {
  if (!clock_) clock_ = [] { return int64_t(std::time(nullptr)); };
  if (!random_) {
    auto device = std::make_shared<std::random_device>();
    random_ = [device] { return uint32_t((*device)()); };
  }
}

WebSite::~WebSite() {
  stop();
}

std::string WebSite::base() const {
  return "http://" + config_.bindAddress + ":" + std::to_string(port_) + "/";
}

bool WebSite::start(std::string& error) {
  server_ = std::make_unique<httplib::Server>();
  auto& s = *server_;
  const int threads = std::clamp(config_.threads, 2, 256);
  // SO_REUSEADDR only: cpp-httplib also sets SO_REUSEPORT by default, which lets a second
  // service (or any program of the same user) bind the same port and take half the requests.
  s.set_socket_options([](int sock) {
    int yes = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  s.new_task_queue = [threads] { return new httplib::ThreadPool(size_t(threads)); };
  s.set_read_timeout(config_.readTimeoutMs / 1000, (config_.readTimeoutMs % 1000) * 1000);
  s.set_write_timeout(5, 0);
  s.set_keep_alive_timeout(2);
  s.set_keep_alive_max_count(100);
  s.set_payload_max_length(config_.maxFormBytes);
  s.set_default_headers({
      {"X-Content-Type-Options", "nosniff"},
      {"Content-Security-Policy",
       "default-src 'self'; img-src 'self'; media-src 'self'; script-src 'self'; "
       "style-src 'self'; frame-ancestors 'none'"},
      {"Referrer-Policy", "no-referrer"},
  });
  for (const char* sub : {"/web/download", "/web/updates"}) {
    const std::string dir = config_.dataFolder + sub;
    if (!fs::makeDirectories(dir)) {
      error = "cannot create " + dir;
      return false;
    }
  }
  s.set_mount_point("/download", config_.dataFolder + "/web/download");
  s.set_mount_point("/updates", config_.dataFolder + "/web/updates");
  // A browser hands a downloaded hand-off file to the program registered for its type: Handvane.
  s.set_file_extension_and_mimetype_mapping("hdv", "application/x-handvane-handoff");
  // The suite asks for "update/manifest.txt" below the site's base: the same folder.
  s.set_mount_point("/update", config_.dataFolder + "/web/updates");
  routes();
  if (config_.port == 0) {
    port_ = s.bind_to_any_port(config_.bindAddress);
  } else {
    port_ = s.bind_to_port(config_.bindAddress, config_.port) ? config_.port : -1;
  }
  if (port_ <= 0) {
    error =
        "web site: cannot listen on " + config_.bindAddress + ":" + std::to_string(config_.port);
    server_.reset();
    return false;
  }
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  // stop() only reaches a server that runs its accept loop already: wait for it (bounded).
  for (int i = 0; i < 5000 && !server_->is_running(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return true;
}

void WebSite::stop() {
  if (!server_) return;
  server_->stop();
  if (thread_.joinable()) thread_.join();
  server_.reset();
}

void WebSite::routes() {
  auto& s = *server_;
  s.Get("/static/site.css", [](const Request&, Response& res) {
    res.set_content(web::kStyle, "text/css; charset=utf-8");
  });
  s.Get("/static/phone.js", [](const Request&, Response& res) {
    res.set_content(web::kPhoneScript, "text/javascript; charset=utf-8");
  });
  s.Get("/", [](const Request&, Response& res) { html(res, web::homePage()); });
  s.Get("/service.asp", [](const Request&, Response& res) { html(res, web::helpPage()); });
  s.Get("/nrlm", [](const Request&, Response& res) {
    html(res, web::page("Lumoi", "<p>Lumoi 客户端通道。</p>"));
  });

  s.Get("/register.asp",
        [](const Request&, Response& res) { html(res, web::registerPage("", "")); });
  s.Post("/register.asp", [this](const Request& req, Response& res) {
    const std::string number = param(req, "phone");
    const std::string password = param(req, "password");
    auto refuse = [&](const char* why) { html(res, web::registerPage(number, why), 400); };
    if (!validNumber(number)) return refuse("请输入正确的手机号（1 到 19 位数字）。");
    if (password.empty()) return refuse("请输入密码。");
    if (password != param(req, "password2")) return refuse("两次输入的密码不一致。");
    auto gbk = utf8ToGbk(password);
    if (!gbk || gbk->find('\0') != std::string::npos) return refuse("密码含有无法使用的字符。");
    if (gbk->size() > kMaxPasswordBytes) return refuse("密码太长（最多 39 个字节）。");
    if (!store_.addAccount(number, *gbk)) return refuse("该手机号已经注册。");
    html(res, web::page("注册成功",
                        "<p class=\"ok\" id=\"done\">注册成功！现在可以用手机号 " + escape(number) +
                            " 和您的密码登录 Lumoi 客户端。</p><p><a href=\"/\">返回首页</a></p>"));
  });

  s.Get("/forgetpass.asp",
        [](const Request&, Response& res) { html(res, web::recoverPage("", "")); });
  s.Post("/forgetpass.asp", [this](const Request& req, Response& res) {
    const std::string number = param(req, "phone");
    if (!validNumber(number))
      return html(res, web::recoverPage(number, "请输入正确的手机号（1 到 19 位数字）。"), 400);
    const std::string done =
        "<p class=\"ok\" id=\"done\">如果该手机号已经注册，新密码已经以短信发送到这个手机，请查收。"
        "</p><p><a href=\"/\">返回首页</a></p>";
    if (!store_.hasAccount(number)) return html(res, web::page("找回密码", done));
    {
      std::lock_guard lock(recoveryMutex_);
      const int64_t now = clock_();
      auto it = lastRecovery_.find(number);
      if (it != lastRecovery_.end() && now - it->second < config_.recoveryIntervalSeconds)
        return html(res, web::recoverPage(number, "请求过于频繁，请稍后再试。"), 429);
      lastRecovery_[number] = now;
    }
    char password[8];
    std::snprintf(password, sizeof password, "%06u", random_() % 1000000u);
    const std::string text = T("您的Lumoi新密码是：") + password + T("。请登录后妥善保管。");
    auto packet = serviceTextPacket(config_.smsSender, number, text);
    auto decoded = svc::decodeMessagePacket(packet);
    if (!decoded.packet || !store_.setPassword(number, password) ||
        store_.storeMessage("", *decoded.packet, packet) == 0)
      return html(res, web::recoverPage(number, "服务暂时不可用，请稍后再试。"), 500);
    html(res, web::page("找回密码", done));
  });

  s.Get("/inc/service/zfsm.asp", [this](const Request&, Response& res) {
    std::string body = "<p>下面是各类内容以一条短信发送时的资费；多条短信按条数另计通信费。</p>";
    CFeeConfig fee;
    fee.Init(config_.feeConfig);
    auto profile = Profile::load(config_.feeConfig);
    body +=
        "<h2>业务</h2><table><tr><th>业务</th><th>固定费用（元）</th><th>每条短信（元）</th></tr>";
    for (const auto& item : fee.items()) {
      char fixed[32], per[32];
      std::snprintf(fixed, sizeof fixed, "%.1f", item.fixedCharge * 0.1);
      std::snprintf(per, sizeof per, "%.2f", double(item.perMessage) * 0.1);
      body += "<tr><td>" + escape(u8(item.shownName)) + "</td><td>" + fixed + "</td><td>" + per +
              "</td></tr>";
    }
    body += "</table><h2>各类内容</h2><table><tr><th>内容</th><th>一条短信的资费</th></tr>";
    for (const auto& kind : profile.keys("INFOTYPE2YEWU")) {
      const char* title = kindTitle(kind);
      body += "<tr><td>" + escape(title ? std::string(title) : u8(kind)) + "</td><td>" +
              escape(u8(fee.ConstructFee(kind, 1)), true) + "</td></tr>";
    }
    body += "</table>";
    if (fee.items().empty()) body = "<p>暂无资费信息。</p>";
    html(res, web::page("资费说明", body));
  });

  s.Get("/download.asp", [this](const Request&, Response& res) {
    std::string body = "<p>最新版本的 Lumoi 客户端可在这里下载：</p><ul>";
    auto names = fs::list(config_.dataFolder + "/web/download");
    std::sort(names.begin(), names.end());
    for (const auto& n : names)
      body += "<li><a href=\"/download/" + percent(n) + "\">" + escape(n) + "</a></li>";
    if (names.empty()) body += "<li>暂无可下载的文件。</li>";
    html(res, web::page("下载", body + "</ul>"));
  });

  // Delivery reports of the SMS gateway (its dlr-url): the short message, its key, the type.
  s.Get("/gateway/dlr", [this](const Request& req, Response& res) {
    int64_t id = 0;
    int status = 0;
    try {
      id = std::stoll(param(req, "id"));
      status = std::stoi(param(req, "status"));
    } catch (const std::exception&) {
      id = 0;
    }
    res.set_header("Cache-Control", "no-store");
    if (id <= 0 || status <= 0 || status > 255 ||
        !store_.smsReport(id, param(req, "key"), status, clock_())) {
      res.status = 404;
      res.set_content("unknown short message\n", "text/plain");
      return;
    }
    res.set_content("recorded\n", "text/plain");
  });

  // The virtual phones.
  s.Get("/phone/latest", [this](const Request&, Response& res) {
    int64_t newest = 0;
    for (auto& [n, id] : store_.recipients()) newest = std::max(newest, id);
    res.set_header("Cache-Control", "no-store");
    res.set_content(std::to_string(newest), "text/plain");
  });
  s.Get("/phone/?", [this](const Request&, Response& res) {
    auto numbers = store_.recipients();
    int64_t newest = 0;
    std::string body = "<ul class=\"numbers\">";
    for (auto& [n, id] : numbers) {
      newest = std::max(newest, id);
      body += "<li><a href=\"/phone/" + percent(n) + "\">" + escape(u8(n)) + "</a></li>";
    }
    if (numbers.empty()) body += "<li>还没有收到任何消息。</li>";
    body += "</ul>";
    html(res, web::page("虚拟手机", body, "/phone/latest", newest));
  });
  s.Get(R"(/phone/([^/]{1,64})/latest)", [this](const Request& req, Response& res) {
    res.set_header("Cache-Control", "no-store");
    res.set_content(std::to_string(newestFor(store_, req.matches[1])), "text/plain");
  });
  s.Get(R"(/phone/([^/]{1,64})/?)", [this](const Request& req, Response& res) {
    const std::string number = req.matches[1];
    auto messages = store_.messagesTo(number);
    std::string body = "<div class=\"phone\"><div class=\"screen\">";
    for (const auto& m : messages) body += messageHtml(m, number, store_);
    if (messages.empty()) body += "<p class=\"empty\">没有消息。</p>";
    body += "</div></div><p><a href=\"/phone/\">全部号码</a></p>";
    const int64_t newest = messages.empty() ? 0 : messages.back().id;
    html(res,
         web::page("手机 " + u8(number), body, "/phone/" + percent(number) + "/latest", newest));
  });
  s.Get(R"(/phone/([^/]{1,64})/m/(\d{1,18})/(\d{1,4})\.(png|wav|bin))",
        [this](const Request& req, Response& res) {
          const std::string number = req.matches[1];
          auto found = store_.messages(std::stoll(req.matches[2]));
          if (found.empty() || std::find(found[0].recipients.begin(), found[0].recipients.end(),
                                         number) == found[0].recipients.end()) {
            res.status = 404;
            return;
          }
          const auto items = phone::decode(receivedOf(found[0]));
          const size_t k = size_t(std::stoul(req.matches[3]));
          if (k >= items.size()) {
            res.status = 404;
            return;
          }
          const auto& it = items[k];
          const std::string ext = req.matches[4];
          phone::Bytes bytes;
          std::string type;
          if (ext == "png" && it.bitmap.width > 0) {
            bytes = phone::encodePng(it.bitmap), type = "image/png";
          } else if (ext == "wav" && !it.melody.notes.empty()) {
            bytes = phone::renderWav(it.melody), type = "audio/wav";
          } else if (ext == "bin" && !it.mime.empty() && !it.raw.empty()) {
            bytes = it.raw, type = it.mime;  // only picture types are ever named here
          }
          if (bytes.empty()) {
            res.status = 404;
            return;
          }
          res.set_content(std::string(bytes.begin(), bytes.end()), type);
        });

  s.set_error_handler([](const Request&, Response& res) {
    if (!res.body.empty()) return;
    const std::string text = res.status == 404 ? "找不到这个页面。" : "请求无法处理。";
    html(res, web::page("错误", "<p>" + text + "</p>"), res.status);
  });
  s.set_exception_handler([](const Request&, Response& res, std::exception_ptr) {
    html(res, web::page("错误", "<p>服务内部错误。</p>"), 500);
  });
}

}  // namespace hv::service
