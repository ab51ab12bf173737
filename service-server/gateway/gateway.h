#pragma once
// Hand-off of every accepted short message to an SMS gateway through Kannel's smsbox `sendsms`
// HTTP interface. What is to be sent is queued in the service's store in the transaction that
// stores the message, so nothing is lost to a crash or a gateway that is away; a worker thread
// sends what is due and puts a refused or failed send back with a doubling, capped delay.
// Delivery reports come back to the web site (dlr-url) and are recorded in the queue.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "service-server/store.h"

namespace httplib {
class Client;
}

namespace hv::service {

struct GatewayConfig {
  std::string sendSmsUrl;  // "http://127.0.0.1:13013/cgi-bin/sendsms"; empty: no gateway
  std::string username, password;
  std::string from;     // sender when the message names none
  std::string dlrBase;  // the web site as the gateway reaches it; empty: the site's own base
  int dlrMask = 31;     // delivered, failed, buffered, submitted, rejected
  int retryFirstMs = 1000;
  int retryMaxMs = 60000;
  int timeoutMs = 5000;
  bool enabled() const { return !sendSmsUrl.empty(); }
};

// The [gateway] section: SendSmsUrl, Username, Password, From, DlrBase, DlrMask, RetryFirstMs,
// RetryMaxMs, TimeoutMs.
GatewayConfig loadGatewayConfig(const std::string& path);

// The short messages a stored message makes, one per recipient and text or binary message:
// texts as UTF-8 (coding 0 when they are ASCII, else 2; a flash text has message class 0),
// binary user data split into its header (when the first byte is a header length that fits)
// and its data, as 8-bit data. Colour pictures and animations make none.
std::vector<OutgoingSms> shortMessagesOf(const std::string& user, const svc::DecodedPacket& d);

// The query string of a sendsms request for the short message (every value percent-encoded).
std::string sendSmsQuery(const GatewayConfig& config, const OutgoingSms& sms,
                         const std::string& dlrUrl);
std::string percentEncode(std::string_view bytes);

// The delay before attempt `attempts + 1` after `attempts` failed ones.
int64_t retryDelayMs(const GatewayConfig& config, int attempts);

class SmsGateway {
 public:
  using Clock = std::function<int64_t()>;  // milliseconds since the epoch
  SmsGateway(GatewayConfig config, Store& store, std::string dlrBase, Clock clock = {});
  ~SmsGateway();
  SmsGateway(const SmsGateway&) = delete;
  SmsGateway& operator=(const SmsGateway&) = delete;

  void start();
  // Asks the worker to end: each lane finishes the short message it is sending, and what the
  // pass has not tried yet goes back to the queue as it was. Does not wait (stop() does).
  void requestStop();
  void stop();
  // New short messages were queued: look at the queue now.
  void wake();
  uint64_t attempts() const { return attempts_.load(); }

 private:
  void run();
  bool sendOne(httplib::Client& client, const OutgoingSms& sms, std::string& error);

  GatewayConfig config_;
  Store& store_;
  std::string dlrBase_;
  Clock clock_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  bool woken_ = false;
  std::atomic<uint64_t> attempts_{0};
};

}  // namespace hv::service
