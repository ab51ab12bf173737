#pragma once
// The service's web site, served by handvane-service beside its three protocol servers:
//   /                      home page
//   /register.asp          registration: the account can sign in at once
//   /forgetpass.asp        password recovery: a new password goes as a short message to the number
//   /service.asp           help
//   /inc/service/zfsm.asp  fees, built from the suite's fee configuration
//   /download.asp          manual download: the files of <data>/web/download
//   /download/..., /updates/...  static files of <data>/web/download and <data>/web/updates
//   /nrlm                  the address of the client's cookie channel
//   /phone/                the virtual phones: every number that received something
//   /phone/<number>        what that number's phone shows, newest last, refreshed by polling
// Pages are UTF-8 HTML; every text from a message or a request is escaped.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "service-server/store.h"

namespace httplib {
class Server;
}

namespace hv::service {

struct WebConfig {
  bool enabled = true;
  std::string bindAddress = "127.0.0.1";
  int port = 0;            // 0: any free port
  std::string feeConfig;   // the fee configuration file ("confee.dll"); empty: no fee table
  std::string dataFolder;  // the service's data folder; web/download and web/updates below it
  std::string smsSender = "Lumoi";   // the sender of the service's own short messages
  int recoveryIntervalSeconds = 60;  // one password recovery per number within this time
  int threads = 32;
  int readTimeoutMs = 3000;
  size_t maxFormBytes = 16 * 1024;
};

// Reads the [web] section: Enabled, BindAddress (default: [service] BindAddress), Port (default 0),
// FeeConfig (relative to the file's folder; default "confee.dll" there), SmsSender,
// RecoveryIntervalSeconds, Threads, ReadTimeoutMs.
WebConfig loadWebConfig(const std::string& path, const std::string& serviceBindAddress,
                        const std::string& dataFolder);

class WebSite {
 public:
  using Clock = std::function<int64_t()>;    // seconds since the epoch
  using Random = std::function<uint32_t()>;  // new passwords are drawn from this
  WebSite(WebConfig config, Store& store, Clock clock = {}, Random random = {});
  ~WebSite();
  WebSite(const WebSite&) = delete;
  WebSite& operator=(const WebSite&) = delete;

  bool start(std::string& error);
  void stop();
  int port() const { return port_; }
  std::string base() const;  // "http://address:port/"

 private:
  void routes();
  WebConfig config_;
  Store& store_;
  Clock clock_;
  Random random_;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = 0;
  std::mutex recoveryMutex_;
  std::map<std::string, int64_t> lastRecovery_;
};

// A text message packet from the service itself (one recipient, the given GBK text), as an
// upload would carry it, for messages the service sends on its own.
std::vector<uint8_t> serviceTextPacket(const std::string& sender, const std::string& recipient,
                                       const std::string& gbkText);

}  // namespace hv::service
