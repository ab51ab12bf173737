#include "service/session.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <chrono>
#include <random>
#include <thread>

#include "transport/netkit.h"

namespace hv::svc {

namespace {
thread_local RequestFailure lastFailure = RequestFailure::WrongState;
}

const char* describe(RequestFailure f) {
  switch (f) {
    case RequestFailure::WrongState:
      return "the session is not in the state this request needs";
    case RequestFailure::UserIdTooLong:
      return "the user id is longer than 19 bytes";
    case RequestFailure::NoConnection:
      return "no connection to the server";
    case RequestFailure::Transfer:
      return "a send or receive failed or timed out";
    case RequestFailure::BadReply:
      return "the reply is malformed or answers another command";
    case RequestFailure::UserMismatch:
      return "the authenticated user is not the one recognised";
  }
  return "unknown failure";
}

RequestFailure lastRequestFailure() {
  return lastFailure;
}

namespace {
// The ticket query and the upload go out as several small sends; without this, Nagle's
// algorithm holds each one back until the server's delayed acknowledgement (some 40 ms).
std::unique_ptr<CNetkit> withoutDelay(std::unique_ptr<CNetkit> socket) {
  if (socket) {
    int one = 1;
    setsockopt(socket->gethandle(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  return socket;
}

std::unique_ptr<CNetkit> openConnection(const ProxySettings& proxy, const std::string& host,
                                        int port) {
  switch (ProxyType(proxy.type)) {
    case ProxyType::Direct: {
      auto socket = std::make_unique<CNetkit>();
      if (socket->createtcp() < 0) return nullptr;
      if (socket->connect(host.c_str(), port, kExchangeTimeoutMs) != 0) return nullptr;
      return socket;
    }
    case ProxyType::Socks4:
    case ProxyType::Socks5: {
      CProxyClient client;
      client.SetProxy(proxy.type == 1 ? PROXY_SOCKS4 : PROXY_SOCKS5, proxy.host, proxy.port,
                      proxy.user, proxy.password);
      return client.connect(host, port, kExchangeTimeoutMs);
    }
    case ProxyType::Http: {
      CSimpleHTTPChannel channel;
      if (channel.Connect(proxy.host, proxy.port, proxy.user, proxy.password, kExchangeTimeoutMs) !=
          0)
        return nullptr;
      return channel.CreateHTTPChannel(host, port, kExchangeTimeoutMs);
    }
    default:
      break;
  }
  return nullptr;
}
}  // namespace

std::unique_ptr<CNetkit> OpenServiceConnection(const ProxySettings& proxy, const std::string& host,
                                               int port) {
  return withoutDelay(openConnection(proxy, host, port));
}

bool sendAll(CNetkit& socket, const void* data, size_t n) {
  return socket.send(data, int(n), kExchangeTimeoutMs) == int(n);
}

bool recvExact(CNetkit& socket, void* buffer, size_t n) {
  return socket.recv_size(buffer, int(n), kExchangeTimeoutMs) == int(n);
}

ServiceSession::ServiceSession(std::string_view semaphoreName)
    : semaphore_(NamedSemaphore::open(semaphoreName, kSemaphoreUnits, kSemaphoreUnits)) {}

int ServiceSession::failRequest(RequestFailure f) {
  lastFailure = f;
  return -1;
}

int ServiceSession::initialize(const ProxySettings& proxy) {
  if (!semaphore_) return -1;
  std::lock_guard lock(guard_);
  int32_t unconfigured = int32_t(SessionState::Unconfigured);
  state_.compare_exchange_strong(unconfigured, int32_t(SessionState::Initialized));
  proxy_ = proxy;
  return 0;
}

int ServiceSession::readReply(CNetkit& socket, uint32_t expectedCommand,
                              std::vector<uint8_t>& reply) {
  reply.assign(4, 0);
  if (!recvExact(socket, reply.data(), 4)) return failRequest(RequestFailure::Transfer);
  uint32_t length = loadBe32(reply.data());
  if (length < 12 || length - 4 > kMaxReplyBody) return failRequest(RequestFailure::BadReply);
  reply.resize(length);
  if (!recvExact(socket, reply.data() + 4, length - 4))
    return failRequest(RequestFailure::Transfer);
  auto head = parseReplyHead(std::span(reply).subspan(4));
  if (!head || head->command != expectedCommand) return failRequest(RequestFailure::BadReply);
  return head->status;
}

int ServiceSession::regionRecognize(std::string_view userId, const std::string& regionHost,
                                    int regionPort) {
  if (state() != SessionState::Initialized) return failRequest(RequestFailure::WrongState);
  if (userId.size() > kMaxUserIdLength) return failRequest(RequestFailure::UserIdTooLong);
  auto socket = OpenServiceConnection(proxy(), regionHost, regionPort);
  if (!socket) return failRequest(RequestFailure::NoConnection);
  auto request = regionQuery(userId);
  if (!sendAll(*socket, request.data(), request.size()))
    return failRequest(RequestFailure::Transfer);
  std::vector<uint8_t> reply;
  int status = readReply(*socket, replyCommand(kRegionQuery), reply);
  if (status != 0) return status;
  RegionInfo info = parseRegionInfo(reply);
  std::lock_guard lock(guard_);
  // Another thread may have moved the session on while this request ran.
  if (state() != SessionState::Initialized) return failRequest(RequestFailure::WrongState);
  userId_ = std::string(userId);
  region_ = std::move(info);
  state_ = int32_t(SessionState::RegionKnown);
  return 0;
}

int ServiceSession::authenticate(std::string_view userId, std::string_view password) {
  if (state() != SessionState::RegionKnown) return failRequest(RequestFailure::WrongState);
  if (userId.size() > kMaxUserIdLength) return failRequest(RequestFailure::UserIdTooLong);
  Endpoint auth = region().auth;
  auto socket = OpenServiceConnection(proxy(), auth.host, auth.port);
  if (!socket) return failRequest(RequestFailure::NoConnection);
  auto request = authenticateRequest(userId, password);
  if (!sendAll(*socket, request.data(), request.size()))
    return failRequest(RequestFailure::Transfer);
  std::vector<uint8_t> reply;
  int status = readReply(*socket, replyCommand(kAuthenticate), reply);
  if (status != 0) return status;
  std::lock_guard lock(guard_);
  if (state() != SessionState::RegionKnown) return failRequest(RequestFailure::WrongState);
  if (userId != userId_) return failRequest(RequestFailure::UserMismatch);
  password_ = std::string(password);
  state_ = int32_t(SessionState::Authenticated);
  return 0;
}

void ServiceSession::drainSemaphore() {
  if (!semaphore_) return;
  // Every unit is taken and given back, so this waits while another holder keeps one. Two
  // drainers taking units one by one could each end up holding part of the count and wait for
  // ever; a drainer that cannot get the next unit soon gives back what it holds and tries again
  // after a short random pause, and gives up after a bounded time.
  std::lock_guard lock(drain_);
  std::minstd_rand rng(std::random_device{}());
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < deadline) {
    unsigned held = 0;
    while (held < kSemaphoreUnits && semaphore_->wait(std::chrono::milliseconds(200))) ++held;
    if (held > 0) semaphore_->release(held);
    if (held == kSemaphoreUnits) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(1 + rng() % 20));
  }
}

int ServiceSession::logout() {
  drainSemaphore();
  std::lock_guard lock(guard_);
  userId_.clear();
  password_.clear();
  if (state() == SessionState::RegionKnown || state() == SessionState::Authenticated)
    state_ = int32_t(SessionState::Initialized);
  return 0;
}

std::optional<SendCredentials> ServiceSession::sendCredentials() const {
  std::lock_guard lock(guard_);
  if (state() != SessionState::Authenticated) return std::nullopt;
  return SendCredentials{proxy_, userId_, password_, region_.send};
}

ProxySettings ServiceSession::proxy() const {
  std::lock_guard lock(guard_);
  return proxy_;
}

std::string ServiceSession::userId() const {
  std::lock_guard lock(guard_);
  return userId_;
}

RegionInfo ServiceSession::region() const {
  std::lock_guard lock(guard_);
  return region_;
}

}  // namespace hv::svc
