#include "service-server/gateway/gateway.h"

#include <httplib.h>

#include <algorithm>
#include <map>

#include "platform/gbk.h"
#include "platform/profile.h"

namespace hv::service {

GatewayConfig loadGatewayConfig(const std::string& path) {
  auto p = Profile::load(path);
  GatewayConfig c;
  auto str = [&](const char* key, std::string& out) {
    if (auto v = p.get("gateway", key)) out = *v;
  };
  auto num = [&](const char* key, int& out) {
    if (auto v = p.get("gateway", key)) {
      try {
        out = std::stoi(*v);
      } catch (const std::exception&) {
      }
    }
  };
  str("SendSmsUrl", c.sendSmsUrl);
  str("Username", c.username);
  str("Password", c.password);
  str("From", c.from);
  str("DlrBase", c.dlrBase);
  num("DlrMask", c.dlrMask);
  num("RetryFirstMs", c.retryFirstMs);
  num("RetryMaxMs", c.retryMaxMs);
  num("TimeoutMs", c.timeoutMs);
  c.retryFirstMs = std::max(1, c.retryFirstMs);
  c.retryMaxMs = std::max(c.retryFirstMs, c.retryMaxMs);
  c.timeoutMs = std::max(100, c.timeoutMs);
  return c;
}

namespace {

bool isTextMessage(const svc::DecodedPacket& d) {
  return d.serviceCode == "SMS" &&
         (d.contentKind == "sms_text" || d.contentKind == "sms_fireflag" ||
          d.contentClass.rfind("TEXT", 0) == 0);
}

// Header and data of binary user data; a first byte that is no header length is all data.
void splitUserData(std::span<const uint8_t> ud, OutgoingSms& out) {
  out.coding = 1;
  if (!ud.empty() && ud[0] > 0 && size_t(ud[0]) + 1 <= ud.size()) {
    out.udh.assign(ud.begin(), ud.begin() + 1 + ud[0]);
    out.data.assign(ud.begin() + 1 + ud[0], ud.end());
  } else {
    out.data.assign(ud.begin(), ud.end());
  }
}

}  // namespace

std::vector<OutgoingSms> shortMessagesOf(const std::string& user, const svc::DecodedPacket& d) {
  std::vector<std::vector<uint8_t>> binary;
  std::vector<std::string> texts;
  if (isTextMessage(d)) {
    for (const auto& t : d.texts) texts.push_back(gbkToUtf8Escaped(t));
  } else if (d.serviceCode == "SMS") {
    for (const auto& t : d.texts) binary.emplace_back(t.begin(), t.end());
  } else {
    binary = d.shortMessages;
  }
  const std::string sender = d.sender.empty() ? user : d.sender;
  std::vector<OutgoingSms> out;
  for (const auto& to : d.recipients) {
    if (to.empty()) continue;
    for (const auto& t : texts) {
      OutgoingSms m;
      m.sender = sender;
      m.recipient = to;
      m.data.assign(t.begin(), t.end());
      m.coding = std::all_of(t.begin(), t.end(), [](char c) { return uint8_t(c) < 0x80; }) ? 0 : 2;
      if (d.contentKind == "sms_fireflag") m.mclass = 0;
      out.push_back(std::move(m));
    }
    for (const auto& ud : binary) {
      OutgoingSms m;
      m.sender = sender;
      m.recipient = to;
      splitUserData(ud, m);
      out.push_back(std::move(m));
    }
  }
  return out;
}

std::string percentEncode(std::string_view bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (char ch : bytes) {
    auto c = uint8_t(ch);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '_' || c == '.' || c == '~') {
      out += char(c);
    } else {
      out += '%';
      out += digits[c >> 4];
      out += digits[c & 15];
    }
  }
  return out;
}

std::string sendSmsQuery(const GatewayConfig& config, const OutgoingSms& sms,
                         const std::string& dlrUrl) {
  auto bytes = [](const std::vector<uint8_t>& b) {
    return std::string_view(reinterpret_cast<const char*>(b.data()), b.size());
  };
  std::string q =
      "username=" + percentEncode(config.username) + "&password=" + percentEncode(config.password) +
      "&from=" + percentEncode(sms.sender.empty() ? config.from : sms.sender) +
      "&to=" + percentEncode(sms.recipient) + "&text=" + percentEncode(bytes(sms.data)) +
      "&coding=" + std::to_string(sms.coding);
  if (sms.coding == 2) q += "&charset=UTF-8";
  if (!sms.udh.empty()) q += "&udh=" + percentEncode(bytes(sms.udh));
  if (sms.mclass >= 0) q += "&mclass=" + std::to_string(sms.mclass);
  if (!dlrUrl.empty() && config.dlrMask > 0)
    q += "&dlr-mask=" + std::to_string(config.dlrMask) + "&dlr-url=" + percentEncode(dlrUrl);
  return q;
}

int64_t retryDelayMs(const GatewayConfig& config, int attempts) {
  int64_t delay = config.retryFirstMs;
  for (int i = 1; i < attempts && delay < config.retryMaxMs; ++i) delay *= 2;
  return std::min<int64_t>(delay, config.retryMaxMs);
}

SmsGateway::SmsGateway(GatewayConfig config, Store& store, std::string dlrBase, Clock clock)
    : config_(std::move(config)),
      store_(store),
      dlrBase_(config_.dlrBase.empty() ? std::move(dlrBase) : config_.dlrBase),
      clock_(std::move(clock)) {
  if (!clock_)
    clock_ = [] {
      return int64_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count());
    };
  if (!dlrBase_.empty() && dlrBase_.back() != '/') dlrBase_ += '/';
}

SmsGateway::~SmsGateway() {
  stop();
}

void SmsGateway::start() {
  if (thread_.joinable()) return;
  stopping_ = false;
  thread_ = std::thread([this] { run(); });
}

void SmsGateway::requestStop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
}

void SmsGateway::stop() {
  requestStop();
  if (thread_.joinable()) thread_.join();
}

void SmsGateway::wake() {
  {
    std::lock_guard lock(mutex_);
    woken_ = true;
  }
  wake_.notify_all();
}

namespace {

struct Url {
  std::string scheme, host, path;
  int port = 80;
};

std::optional<Url> parseUrl(const std::string& text) {
  Url u;
  size_t at = text.find("://");
  if (at == std::string::npos) return std::nullopt;
  u.scheme = text.substr(0, at);
  if (u.scheme != "http") return std::nullopt;
  size_t hostStart = at + 3;
  size_t slash = text.find('/', hostStart);
  std::string authority =
      text.substr(hostStart, slash == std::string::npos ? std::string::npos : slash - hostStart);
  u.path = slash == std::string::npos ? "/" : text.substr(slash);
  size_t colon = authority.rfind(':');
  u.host = authority.substr(0, colon);
  if (colon != std::string::npos) {
    try {
      u.port = std::stoi(authority.substr(colon + 1));
    } catch (const std::exception&) {
      return std::nullopt;
    }
  }
  if (u.host.empty() || u.port <= 0 || u.port > 65535) return std::nullopt;
  return u;
}

}  // namespace

bool SmsGateway::sendOne(httplib::Client& client, const OutgoingSms& sms, std::string& error) {
  ++attempts_;
  auto url = parseUrl(config_.sendSmsUrl);
  if (!url) {
    error = "SendSmsUrl is not an http:// address";
    return false;
  }
  std::string dlrUrl;
  if (!dlrBase_.empty())
    dlrUrl =
        dlrBase_ + "gateway/dlr?id=" + std::to_string(sms.id) + "&key=" + sms.key + "&status=%d";
  std::string target = url->path + (url->path.find('?') == std::string::npos ? "?" : "&") +
                       sendSmsQuery(config_, sms, dlrUrl);
  auto res = client.Get(target);
  if (!res) {
    error = "no answer: " + httplib::to_string(res.error());
    return false;
  }
  if (res->status / 100 != 2) {
    error = "HTTP " + std::to_string(res->status) + ": " + res->body.substr(0, 200);
    return false;
  }
  return true;
}

void SmsGateway::run() {
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
      woken_ = false;
    }
    auto due = store_.dueSms(clock_(), 64);
    // The pass goes over up to kLanes connections at once (each kept alive between its requests;
    // httplib reconnects when the gateway closed it), so that the gateway's answer time does
    // not add up message by message. The short messages of one message share a lane and keep
    // their order.
    constexpr size_t kLanes = 4;
    std::map<int64_t, size_t> laneOf;
    std::vector<std::vector<const OutgoingSms*>> lanes;
    for (const auto& sms : due) {
      auto [it, added] = laneOf.try_emplace(sms.messageId, laneOf.size() % kLanes);
      if (it->second >= lanes.size()) lanes.resize(it->second + 1);
      lanes[it->second].push_back(&sms);
    }
    // The accepted ones of a pass are marked together, in one transaction: a crash before that
    // sends them again, as a lost answer would (delivery is at least once).
    std::mutex resultMutex;
    std::vector<int64_t> accepted;
    // A gateway that does not answer at all is not asked again for the other short messages of
    // this pass: they wait for the failed one's retry.
    std::optional<int64_t> pauseUntil;
    std::atomic<bool> stopped{false}, paused{false};
    // Which of `due` were sent or put back for a retry (each entry written by its lane only).
    std::vector<char> tried(due.size(), 0);
    auto runLane = [&](const std::vector<const OutgoingSms*>& lane) {
      auto url = parseUrl(config_.sendSmsUrl);
      httplib::Client client(url ? url->host : std::string("0.0.0.0"), url ? url->port : 80);
      const int s = config_.timeoutMs / 1000, us = (config_.timeoutMs % 1000) * 1000;
      client.set_connection_timeout(s, us);
      client.set_read_timeout(s, us);
      client.set_write_timeout(s, us);
      client.set_keep_alive(true);
      for (const OutgoingSms* sms : lane) {
        {
          std::lock_guard lock(mutex_);
          if (stopping_) stopped = true;
        }
        if (stopped || paused) return;
        tried[size_t(sms - due.data())] = 1;
        std::string error;
        if (sendOne(client, *sms, error)) {
          std::lock_guard lock(resultMutex);
          accepted.push_back(sms->id);
          continue;
        }
        const int64_t next = clock_() + retryDelayMs(config_, sms->attempts + 1);
        store_.smsRetry(sms->id, next, error);
        if (error.rfind("no answer", 0) == 0) {
          std::lock_guard lock(resultMutex);
          pauseUntil = std::max(pauseUntil.value_or(next), next);
          paused = true;
          return;
        }
      }
    };
    std::vector<std::thread> helpers;
    for (size_t i = 1; i < lanes.size(); ++i) {
      try {
        helpers.emplace_back(runLane, std::cref(lanes[i]));
      } catch (const std::system_error&) {
        runLane(lanes[i]);
      }
    }
    if (!lanes.empty()) runLane(lanes[0]);
    for (auto& t : helpers) t.join();
    store_.smsAcceptedAll(accepted);
    // A pass that ended early (stopping, or the gateway went away) gives back what it did not
    // try: a back-end that claimed them for this worker makes them due again as they were (the
    // next pass here or another process's worker takes them) rather than when the claim lapses.
    std::vector<OutgoingSms> untried;
    for (size_t i = 0; i < due.size(); ++i)
      if (!tried[i]) untried.push_back(due[i]);
    if (!untried.empty()) store_.releaseSms(untried);
    if (stopped) return;
    if (!pauseUntil && due.size() == 64) continue;
    std::unique_lock lock(mutex_);
    if (stopping_) return;
    if (woken_ && !pauseUntil) continue;
    auto next = pauseUntil ? pauseUntil : store_.nextSmsAttempt();
    if (!next) {
      wake_.wait(lock, [this] { return stopping_ || woken_; });
    } else if (pauseUntil) {
      int64_t wait = std::clamp<int64_t>(*next - clock_(), 0, config_.retryMaxMs);
      wake_.wait_for(lock, std::chrono::milliseconds(wait), [this] { return stopping_; });
    } else {
      int64_t wait = std::clamp<int64_t>(*next - clock_(), 0, config_.retryMaxMs);
      wake_.wait_for(lock, std::chrono::milliseconds(wait), [this] { return stopping_ || woken_; });
    }
  }
}

}  // namespace hv::service
