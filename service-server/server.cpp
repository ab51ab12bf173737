#include "service-server/server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/rand.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

#include "platform/fs.h"
#include "platform/profile.h"
#include "service/protocol/packet.h"

namespace hv::service {

using namespace std::chrono;
using svc::replyCommand;

const char* describe(Status s) {
  switch (s) {
    case Status::Ok:
      return "accepted";
    case Status::BadRequest:
      return "malformed request or wrong server";
    case Status::UnknownUser:
      return "no such account";
    case Status::AuthFailed:
      return "authentication failed";
    case Status::BadTicket:
      return "unknown, used or expired ticket";
    case Status::BadPacket:
      return "malformed message packet";
    case Status::PacketTooLarge:
      return "message packet too large";
    case Status::StoreFailed:
      return "message could not be stored";
  }
  return "unknown status";
}

ServiceConfig loadConfig(const std::string& path) {
  auto p = Profile::load(path);
  ServiceConfig c;
  auto str = [&](const char* key, std::string& out) {
    if (auto v = p.get("service", key)) out = *v;
  };
  auto num = [&](const char* key, auto& out) {
    if (auto v = p.get("service", key)) {
      try {
        out = std::remove_reference_t<decltype(out)>(std::stoll(*v));
      } catch (const std::exception&) {
      }
    }
  };
  str("BindAddress", c.bindAddress);
  str("AdvertiseHost", c.advertiseHost);
  num("RegionPort", c.regionPort);
  num("AuthPort", c.authPort);
  num("SendPort", c.sendPort);
  str("SpareHost", c.spareHost);
  num("SparePort", c.sparePort);
  str("DataFolder", c.dataFolder);
  num("ConnectionTimeoutMs", c.connectionTimeoutMs);
  num("MaxPacketBytes", c.maxPacketBytes);
  num("MaxConnections", c.maxConnections);
  num("TicketLifetimeSeconds", c.ticketLifetimeSeconds);
  std::string dir = fs::directoryOf(path);
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  if (c.dataFolder.empty()) c.dataFolder = "service-data";
  if (c.dataFolder[0] != '/')
    c.dataFolder = (dir.empty() ? std::string(".") : dir) + "/" + c.dataFolder;
  return c;
}

// One accepted socket with a deadline for the whole connection.
class DeliveryService::Connection {
 public:
  Connection(int fd, int timeoutMs)
      : fd_(fd), deadline_(steady_clock::now() + milliseconds(timeoutMs)) {}
  ~Connection() { ::close(fd_); }

  // False on time-out, error or a peer that closed first. `clean` tells whether the peer closed
  // before sending anything of this read.
  bool read(void* buffer, size_t n, bool* clean = nullptr) {
    auto p = static_cast<uint8_t*>(buffer);
    size_t got = 0;
    if (clean) *clean = false;
    while (got < n) {
      if (!wait(POLLIN)) return false;
      ssize_t r = ::recv(fd_, p + got, n - got, 0);
      if (r == 0) {
        if (clean) *clean = got == 0;
        return false;
      }
      if (r < 0) {
        if (errno == EAGAIN || errno == EINTR) continue;
        return false;
      }
      got += size_t(r);
    }
    return true;
  }
  std::optional<uint32_t> word() {
    uint8_t b[4];
    if (!read(b, 4)) return std::nullopt;
    return loadBe32(b);
  }
  bool write(std::span<const uint8_t> data) {
    size_t sent = 0;
    while (sent < data.size()) {
      if (!wait(POLLOUT)) return false;
      ssize_t r = ::send(fd_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
      if (r < 0) {
        if (errno == EAGAIN || errno == EINTR) continue;
        return false;
      }
      sent += size_t(r);
    }
    return true;
  }
  // Replies and, for a refused request, lets the peer read the reply before the close.
  bool refuse(uint32_t command, Status status) {
    write(svc::statusReply(command, int32_t(status)));
    ::shutdown(fd_, SHUT_WR);
    return false;
  }

 private:
  bool wait(short events) {
    for (;;) {
      auto left = duration_cast<milliseconds>(deadline_ - steady_clock::now()).count();
      if (left <= 0) return false;
      pollfd p{fd_, events, 0};
      int r = ::poll(&p, 1, int(left));
      if (r > 0) return (p.revents & (events | POLLHUP | POLLERR)) != 0;
      if (r == 0) return false;
      if (errno != EINTR) return false;
    }
  }
  int fd_;
  steady_clock::time_point deadline_;
};

DeliveryService::DeliveryService(ServiceConfig config, Store& store)
    : config_(std::move(config)), store_(store) {
  if (config_.advertiseHost.empty()) config_.advertiseHost = config_.bindAddress;
}

DeliveryService::~DeliveryService() {
  stop();
}

namespace {

int listenOn(const std::string& address, int port, int& boundPort, std::string& error) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(uint16_t(port));
  if (inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1) {
    error = "bind address is not a dotted IPv4 address: " + address;
    return -1;
  }
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::listen(fd, 128) != 0) {
    error = "cannot listen on " + address + ":" + std::to_string(port) + ": " + strerror(errno);
    if (fd >= 0) ::close(fd);
    return -1;
  }
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  boundPort = ntohs(a.sin_port);
  return fd;
}

}  // namespace

bool DeliveryService::start(std::string& error) {
  int ports[3] = {config_.regionPort, config_.authPort, config_.sendPort};
  for (int i = 0; i < 3; ++i) {
    listeners_[i] = listenOn(config_.bindAddress, ports[i], ports_[i], error);
    if (listeners_[i] < 0) {
      stop();
      return false;
    }
  }
  if (::pipe2(wakePipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
    error = "cannot create a pipe";
    stop();
    return false;
  }
  acceptor_ = std::thread([this] { acceptLoop(); });
  return true;
}

void DeliveryService::stop() {
  if (acceptor_.joinable()) {
    char b = 1;
    (void)!::write(wakePipe_[1], &b, 1);
    acceptor_.join();
  }
  for (int& fd : listeners_)
    if (fd >= 0) ::close(std::exchange(fd, -1));
  for (int& fd : wakePipe_)
    if (fd >= 0) ::close(std::exchange(fd, -1));
  std::unique_lock lock(doneMutex_);
  done_.wait_for(lock, milliseconds(config_.connectionTimeoutMs + 1000),
                 [this] { return active_.load() == 0; });
}

void DeliveryService::acceptLoop() {
  pollfd fds[4] = {{listeners_[0], POLLIN, 0},
                   {listeners_[1], POLLIN, 0},
                   {listeners_[2], POLLIN, 0},
                   {wakePipe_[0], POLLIN, 0}};
  for (;;) {
    if (::poll(fds, 4, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[3].revents) return;
    for (int role = 0; role < 3; ++role) {
      if (!(fds[role].revents & POLLIN)) continue;
      int fd = ::accept4(listeners_[role], nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) continue;
      if (active_.load() >= config_.maxConnections) {
        ::close(fd);  // over the limit: refused at once, the others are not slowed
        continue;
      }
      int one = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      ++active_;
      try {
        std::thread([this, role, fd] {
          serve(Role(role), fd);
          std::lock_guard lock(doneMutex_);
          --active_;
          done_.notify_all();
        }).detach();
      } catch (const std::system_error&) {
        ::close(fd);
        --active_;
      }
    }
  }
}

void DeliveryService::serve(Role role, int fd) {
  Connection c(fd, config_.connectionTimeoutMs);
  // The send server answers a ticket query and then the upload on the same connection.
  for (int request = 0; request < 2; ++request) {
    uint8_t b[4];
    bool clean = false;
    if (!c.read(b, 4, &clean)) return;
    uint32_t length = loadBe32(b);
    auto command = c.word();
    if (!command) return;
    bool keep = false;
    if (role == Region && *command == svc::kRegionQuery)
      keep = region(c, length);
    else if (role == Auth && *command == svc::kAuthenticate)
      keep = authenticate(c, length);
    else if (role == Send && *command == svc::kTicketQuery)
      keep = ticket(c, length);
    else if (role == Send && *command == svc::kMessageUpload)
      keep = upload(c, length);
    else
      c.refuse(*command, Status::BadRequest);
    if (!keep || role != Send) return;
  }
}

namespace {
std::string userIdField(std::span<const uint8_t> field) {
  return svc::fieldString(field, 0, svc::kUserIdWidth);
}
}  // namespace

bool DeliveryService::region(Connection& c, uint32_t length) {
  if (length != 28) return c.refuse(svc::kRegionQuery, Status::BadRequest);
  uint8_t id[svc::kUserIdWidth];
  if (!c.read(id, sizeof id)) return false;
  std::string user = userIdField(id);
  if (!store_.accountKey(user)) return c.refuse(svc::kRegionQuery, Status::UnknownUser);
  svc::RegionInfo info{{config_.advertiseHost, ports_[Auth]},
                       {config_.advertiseHost, ports_[Send]},
                       {config_.spareHost, config_.sparePort}};
  c.write(svc::regionReply(0, info));
  return false;
}

bool DeliveryService::authenticate(Connection& c, uint32_t length) {
  // 32 bytes of head, then a blob of 4 + 8 to 4 + 24 bytes (a user id of 1 to 19 bytes).
  if (length < 32 + 12 || length > 32 + 28) return c.refuse(svc::kAuthenticate, Status::BadRequest);
  std::vector<uint8_t> body(length - 8);
  if (!c.read(body.data(), body.size())) return false;
  std::string user = userIdField(body);
  uint32_t n = loadBe32(&body[svc::kUserIdWidth]);
  if (n != length - 32) return c.refuse(svc::kAuthenticate, Status::BadRequest);
  auto key = store_.accountKey(user);
  if (!key) return c.refuse(svc::kAuthenticate, Status::UnknownUser);
  auto claimed = svc::openCredentialBlob(std::span(body).subspan(24), SessionCipher::fromKey(*key));
  if (!claimed || *claimed != user) return c.refuse(svc::kAuthenticate, Status::AuthFailed);
  c.write(svc::statusReply(svc::kAuthenticate, 0));
  return false;
}

bool DeliveryService::ticket(Connection& c, uint32_t length) {
  if (length != 28) return c.refuse(svc::kTicketQuery, Status::BadRequest);
  uint8_t id[svc::kUserIdWidth];
  if (!c.read(id, sizeof id)) return false;
  std::string user = userIdField(id);
  auto key = store_.accountKey(user);
  if (!key) return c.refuse(svc::kTicketQuery, Status::UnknownUser);
  std::string t = issueTicket(user);
  if (t.empty()) return c.refuse(svc::kTicketQuery, Status::StoreFailed);
  auto reply = svc::ticketReply(0, std::span(reinterpret_cast<const uint8_t*>(t.data()), t.size()),
                                SessionCipher::fromKey(*key));
  return c.write(reply);
}

bool DeliveryService::upload(Connection& c, uint32_t length) {
  constexpr uint32_t kHead = 28;
  if (length < kHead + svc::headerPartSize(0))
    return c.refuse(svc::kMessageUpload, Status::BadRequest);
  if (length - kHead > config_.maxPacketBytes)
    return c.refuse(svc::kMessageUpload, Status::PacketTooLarge);
  std::string t(svc::kTicketWidth, '\0');
  if (!c.read(t.data(), t.size())) return false;
  std::vector<uint8_t> packet(length - kHead);
  if (!c.read(packet.data(), packet.size())) return false;
  auto user = redeemTicket(t);
  if (!user) return c.refuse(svc::kMessageUpload, Status::BadTicket);
  auto decoded = svc::decodeMessagePacket(packet);
  if (!decoded.packet) return c.refuse(svc::kMessageUpload, Status::BadPacket);
  if (store_.storeMessage(*user, *decoded.packet, packet) == 0)
    return c.refuse(svc::kMessageUpload, Status::StoreFailed);
  c.write(svc::statusReply(svc::kMessageUpload, 0));
  return false;
}

std::string DeliveryService::issueTicket(const std::string& user) {
  std::string t(svc::kTicketWidth, '\0');
  if (RAND_bytes(reinterpret_cast<unsigned char*>(t.data()), int(t.size())) != 1) return {};
  auto now = steady_clock::now();
  std::lock_guard lock(ticketMutex_);
  std::erase_if(tickets_, [&](const auto& kv) { return kv.second.expires <= now; });
  tickets_[t] = Ticket{user, now + seconds(config_.ticketLifetimeSeconds)};
  return t;
}

std::optional<std::string> DeliveryService::redeemTicket(const std::string& ticket) {
  std::lock_guard lock(ticketMutex_);
  auto it = tickets_.find(ticket);
  if (it == tickets_.end()) return std::nullopt;
  Ticket found = it->second;
  tickets_.erase(it);  // one upload per ticket
  if (found.expires <= steady_clock::now()) return std::nullopt;
  return found.user;
}

}  // namespace hv::service
