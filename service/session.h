#pragma once
// The service session: proxy settings, the user's identity and the servers that serve him, moved
// through Unconfigured -> Initialized -> RegionKnown -> Authenticated by the region query and the
// authentication exchange. One instance per process is owned by the library's entry points;
// tests make their own.
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/kernel.h"
#include "service/protocol/protocol.h"

class CNetkit;

namespace hv::svc {

enum class SessionState : int32_t {
  Unconfigured = -1,
  Initialized = 0,
  RegionKnown = 1,
  Authenticated = 2
};

// How OpenServiceConnection reaches a server: 0 direct, 1 SOCKS4, 2 SOCKS5, 3 HTTP CONNECT.
enum class ProxyType : int32_t { Direct = 0, Socks4 = 1, Socks5 = 2, Http = 3 };

struct ProxySettings {
  std::string host;
  int port = 0;
  std::string user;      // SOCKS4 user id; SOCKS5 and HTTP user name
  std::string password;  // SOCKS5 and HTTP
  int32_t type = 0;      // a ProxyType value; any other value makes every connection fail
};

// What a send needs of the session, copied in one piece under the guard.
struct SendCredentials {
  ProxySettings proxy;
  std::string userId;
  std::string password;
  Endpoint send;
};

// The result of a request to one of the service's servers.
enum class RequestFailure {
  WrongState,
  UserIdTooLong,
  NoConnection,
  Transfer,
  BadReply,
  UserMismatch
};
const char* describe(RequestFailure f);
// Why the calling thread's last request of a session returned -1.
RequestFailure lastRequestFailure();

// A connection to host:port made according to the proxy settings with the exchange time-out, or
// nullptr.
std::unique_ptr<CNetkit> OpenServiceConnection(const ProxySettings& proxy, const std::string& host,
                                               int port);

// Sends the whole buffer / receives exactly n bytes within the exchange time-out.
bool sendAll(CNetkit& socket, const void* data, size_t n);
bool recvExact(CNetkit& socket, void* buffer, size_t n);

class ServiceSession {
 public:
  static constexpr const char* kSemaphoreName = "CLIENT_SEND_SEMAPHORE";
  static constexpr unsigned kSemaphoreUnits = 10;

  explicit ServiceSession(std::string_view semaphoreName = kSemaphoreName);

  // 0, or -1 when the semaphore could not be created.
  int initialize(const ProxySettings& proxy);
  // 0, the server's non-zero status, or -1 (see lastRequestFailure()).
  int regionRecognize(std::string_view userId, const std::string& regionHost, int regionPort);
  int authenticate(std::string_view userId, std::string_view password);
  int logout();

  SessionState state() const { return SessionState(state_.load()); }
  // The credentials of an authenticated session, read in one piece; nullopt in any other state.
  std::optional<SendCredentials> sendCredentials() const;
  ProxySettings proxy() const;
  std::string userId() const;
  RegionInfo region() const;

 private:
  // Reads a region or authentication reply: the length word, then a body of at most 256 bytes
  // (the whole reply, length word included, goes to `reply`). -1 on a local failure, else the
  // status.
  int readReply(CNetkit& socket, uint32_t expectedCommand, std::vector<uint8_t>& reply);
  int failRequest(RequestFailure f);
  // Takes every unit of the send semaphore and gives them back.
  void drainSemaphore();

  mutable std::mutex guard_;
  std::mutex drain_;
  std::unique_ptr<NamedSemaphore> semaphore_;
  std::atomic<int32_t> state_{int32_t(SessionState::Unconfigured)};
  ProxySettings proxy_;
  std::string userId_;
  std::string password_;
  RegionInfo region_;
};

}  // namespace hv::svc
