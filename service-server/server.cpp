#include "service-server/server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/rand.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

#include "platform/fs.h"
#include "platform/profile.h"
#include "service-server/pg_store.h"
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
    case Status::Busy:
      return "too many connections, try again later";
    case Status::TimedOut:
      return "request did not arrive in time";
    case Status::ShuttingDown:
      return "service is stopping";
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
  num("FirstBytesTimeoutMs", c.firstBytesTimeoutMs);
  num("MaxConnectionsPerPeer", c.maxConnectionsPerPeer);
  num("AcceptBackoffMs", c.acceptBackoffMs);
  if (auto v = p.get("postgresql", "Connection")) c.postgres = *v;
  if (auto v = p.get("postgresql", "Connections")) {
    try {
      c.postgresConnections = std::clamp(std::stoi(*v), 1, 256);
    } catch (const std::exception&) {
    }
  }
  if (auto v = p.get("service", "SendServers")) {
    // "host:port" entries separated by commas or blanks.
    std::string list = *v;
    for (char& ch : list)
      if (ch == ',' || ch == ';') ch = ' ';
    size_t at = 0;
    while (at < list.size()) {
      size_t end = list.find(' ', at);
      if (end == std::string::npos) end = list.size();
      std::string item = list.substr(at, end - at);
      at = end + 1;
      size_t colon = item.rfind(':');
      if (colon == std::string::npos) continue;
      int port = svc::parsePort(item.substr(colon + 1));
      if (port > 0) c.sendServers.push_back({item.substr(0, colon), port});
    }
  }
  std::string dir = fs::directoryOf(path);
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  if (c.dataFolder.empty()) c.dataFolder = "service-data";
  if (c.dataFolder[0] != '/')
    c.dataFolder = (dir.empty() ? std::string(".") : dir) + "/" + c.dataFolder;
  return c;
}

std::unique_ptr<Store> openStore(const ServiceConfig& config, std::string& error) {
  if (!config.postgres.empty())
    return PgStore::open(config.postgres, config.postgresConnections, error);
  return Store::open(config.dataFolder + "/service.db", error);
}

// One accepted socket with a deadline for the whole connection, a shorter one for the first
// bytes, and an eye on the service's stop signal.
class DeliveryService::Connection {
 public:
  enum class Failure { None, Closed, TimedOut, Stopped };

  Connection(int fd, int stopFd, const ServiceConfig& config)
      : fd_(fd),
        stopFd_(stopFd),
        deadline_(steady_clock::now() + milliseconds(config.connectionTimeoutMs)),
        firstDeadline_(steady_clock::now() + milliseconds(std::min(config.firstBytesTimeoutMs,
                                                                   config.connectionTimeoutMs))) {}
  ~Connection() { ::close(fd_); }

  // False on time-out, stop, error or a peer that closed first; failure() tells which.
  bool read(void* buffer, size_t n) {
    auto p = static_cast<uint8_t*>(buffer);
    size_t got = 0;
    while (got < n) {
      if (!wait(POLLIN)) return false;
      ssize_t r = ::recv(fd_, p + got, n - got, 0);
      if (r == 0) return fail(Failure::Closed);
      if (r < 0) {
        if (errno == EAGAIN || errno == EINTR) continue;
        return fail(Failure::Closed);
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
    replied_ = true;
    size_t sent = 0;
    while (sent < data.size()) {
      if (!wait(POLLOUT)) return false;
      ssize_t r = ::send(fd_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
      if (r < 0) {
        if (errno == EAGAIN || errno == EINTR) continue;
        return fail(Failure::Closed);
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
  // A request's first words arrived: from now on only the whole connection's deadline holds.
  void started() { firstDeadline_ = deadline_; }
  // An upload in flight is finished even when the service stops.
  void finishEvenWhenStopping() { finishing_ = true; }
  Failure failure() const { return failure_; }
  bool replied() const { return replied_; }

 private:
  bool fail(Failure f) {
    failure_ = f;
    return false;
  }
  bool wait(short events) {
    for (;;) {
      auto until = std::min(deadline_, firstDeadline_);
      auto left = duration_cast<milliseconds>(until - steady_clock::now()).count();
      if (left <= 0) return fail(Failure::TimedOut);
      pollfd p[2] = {{fd_, events, 0}, {stopFd_, POLLIN, 0}};
      int watched = finishing_ ? 1 : 2;
      int r = ::poll(p, nfds_t(watched), int(left) + 1);
      if (r < 0) {
        if (errno == EINTR) continue;
        return fail(Failure::Closed);
      }
      if (r == 0) continue;  // the deadline check above decides
      // Bytes that arrived before the stop are read: a request already sent is not cut.
      if (p[0].revents & events) return true;
      if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return true;  // recv/send tell
      if (watched == 2 && p[1].revents) return fail(Failure::Stopped);
    }
  }
  int fd_;
  int stopFd_;
  steady_clock::time_point deadline_, firstDeadline_;
  bool finishing_ = false;
  bool replied_ = false;
  Failure failure_ = Failure::None;
};

DeliveryService::DeliveryService(ServiceConfig config, Store& store, Clock clock)
    : config_(std::move(config)), store_(store), clock_(std::move(clock)) {
  if (config_.advertiseHost.empty()) config_.advertiseHost = config_.bindAddress;
  if (!clock_) clock_ = [] { return steady_clock::now(); };
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
      ::listen(fd, 512) != 0) {
    error = "cannot listen on " + address + ":" + std::to_string(port) + ": " + strerror(errno);
    if (fd >= 0) ::close(fd);
    return -1;
  }
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  boundPort = ntohs(a.sin_port);
  return fd;
}

// The reply command a connection of each role answers first.
constexpr uint32_t kFirstCommand[3] = {svc::kRegionQuery, svc::kAuthenticate, svc::kTicketQuery};

// Refused connections stay open this long so that the peer reads the status before the close
// (closing with its request unread would reset the connection and could lose the status).
constexpr auto kLingerTime = milliseconds(500);
constexpr size_t kMaxLingering = 256;

bool acceptStarved(int error) {
  return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
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
  if (::pipe2(wakePipe_, O_CLOEXEC | O_NONBLOCK) != 0 ||
      ::pipe2(stopPipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
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
    (void)!::write(stopPipe_[1], &b, 1);  // never drained: stays readable for every connection
    (void)!::write(wakePipe_[1], &b, 1);
    acceptor_.join();
  }
  for (int& fd : listeners_)
    if (fd >= 0) ::close(std::exchange(fd, -1));
  {
    // Connections end by their deadlines at the latest, so this wait is bounded.
    std::unique_lock lock(doneMutex_);
    done_.wait(lock, [this] { return active_.load() == 0; });
  }
  for (int* pipe : {wakePipe_, stopPipe_})
    for (int i = 0; i < 2; ++i)
      if (pipe[i] >= 0) ::close(std::exchange(pipe[i], -1));
}

void DeliveryService::acceptLoop() {
  using Lingering = std::vector<std::pair<int, steady_clock::time_point>>;
  Lingering lingering;
  steady_clock::time_point backoffUntil{};
  std::vector<pollfd> fds;
  for (;;) {
    auto now = steady_clock::now();
    bool backingOff = now < backoffUntil;
    fds.assign({{wakePipe_[0], POLLIN, 0}});
    if (!backingOff)
      for (int role = 0; role < 3; ++role) fds.push_back({listeners_[role], POLLIN, 0});
    for (auto& [fd, until] : lingering) fds.push_back({fd, POLLIN, 0});
    int timeout = -1;
    auto nearest = backingOff ? backoffUntil : steady_clock::time_point::max();
    for (auto& [fd, until] : lingering) nearest = std::min(nearest, until);
    if (nearest != steady_clock::time_point::max())
      timeout = int(std::max<int64_t>(0, duration_cast<milliseconds>(nearest - now).count()) + 1);
    if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) break;
    if (fds[0].revents) break;

    // Drain and close refused connections whose peer finished or whose time is up.
    now = steady_clock::now();
    size_t first = backingOff ? 1 : 4;
    for (size_t i = 0; i < lingering.size(); ++i) {
      auto& [fd, until] = lingering[i];
      bool done = now >= until;
      if (fds[first + i].revents) {
        uint8_t sink[512];
        ssize_t r = ::recv(fd, sink, sizeof sink, 0);
        if (r == 0 || (r < 0 && errno != EAGAIN && errno != EINTR)) done = true;
      }
      if (done) {
        ::close(fd);
        fd = -1;
      }
    }
    std::erase_if(lingering, [](const auto& l) { return l.first < 0; });
    if (backingOff) continue;

    for (int role = 0; role < 3; ++role) {
      if (!(fds[1 + role].revents & POLLIN)) continue;
      sockaddr_in peer{};
      socklen_t len = sizeof peer;
      int fd = ::accept4(listeners_[role], reinterpret_cast<sockaddr*>(&peer), &len,
                         SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) {
        if (acceptStarved(errno)) {
          // Out of descriptors: the pending connection stays in the backlog; try again later
          // instead of waking up for it at once.
          ++acceptFailures_;
          backoffUntil = steady_clock::now() + milliseconds(config_.acceptBackoffMs);
          break;
        }
        continue;
      }
      uint32_t address = peer.sin_family == AF_INET ? ntohl(peer.sin_addr.s_addr) : 0;
      {
        std::lock_guard lock(doneMutex_);
        bool full = active_.load() >= config_.maxConnections ||
                    perPeer_[address] >= config_.maxConnectionsPerPeer;
        if (perPeer_[address] == 0 && full) perPeer_.erase(address);
        if (!full) {
          ++active_;
          ++perPeer_[address];
        } else {
          refuseAtAccept(role, fd, lingering);
          continue;
        }
      }
      admit(role, fd, address);
    }
  }
  for (auto& [fd, until] : lingering) ::close(fd);
}

void DeliveryService::refuseAtAccept(
    int role, int fd, std::vector<std::pair<int, steady_clock::time_point>>& lingering) {
  auto reply = svc::statusReply(kFirstCommand[role], int32_t(Status::Busy));
  (void)!::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
  ::shutdown(fd, SHUT_WR);
  if (lingering.size() >= kMaxLingering) {
    ::close(fd);
    return;
  }
  lingering.emplace_back(fd, steady_clock::now() + kLingerTime);
}

void DeliveryService::admit(int role, int fd, uint32_t peer) {
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  auto release = [this, peer] {
    std::lock_guard lock(doneMutex_);
    --active_;
    if (--perPeer_[peer] <= 0) perPeer_.erase(peer);
    done_.notify_all();
  };
  try {
    std::thread([this, role, fd, release] {
      serve(Role(role), fd);
      release();
    }).detach();
  } catch (const std::system_error&) {
    ::close(fd);
    release();
  }
}

void DeliveryService::serve(Role role, int fd) {
  Connection c(fd, stopPipe_[0], config_);
  uint32_t expected = kFirstCommand[role];
  // The send server answers a ticket query and then the upload on the same connection.
  for (int request = 0; request < 2; ++request) {
    auto length = c.word();
    auto command = length ? c.word() : std::nullopt;
    if (!command) {
      // Tell a peer that is still there why it is being closed.
      auto f = c.failure();
      if (f == Connection::Failure::TimedOut || f == Connection::Failure::Stopped) {
        auto s = f == Connection::Failure::TimedOut ? Status::TimedOut : Status::ShuttingDown;
        auto reply = svc::statusReply(expected, int32_t(s));
        (void)!::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        ::shutdown(fd, SHUT_WR);
      }
      return;
    }
    c.started();
    bool keep = false;
    if (role == Region && *command == svc::kRegionQuery)
      keep = region(c, *length);
    else if (role == Auth && *command == svc::kAuthenticate)
      keep = authenticate(c, *length);
    else if (role == Send && *command == svc::kTicketQuery)
      keep = ticket(c, *length);
    else if (role == Send && *command == svc::kMessageUpload)
      keep = upload(c, *length);
    else
      c.refuse(*command, Status::BadRequest);
    if (!keep || role != Send) return;
    expected = svc::kMessageUpload;
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
                       sendServerFor(user),
                       {config_.spareHost, config_.sparePort}};
  c.write(svc::regionReply(0, info));
  return false;
}

namespace {

// True when something accepts a TCP connection at the endpoint within the time.
bool answers(const svc::Endpoint& e, milliseconds within) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(uint16_t(e.port));
  if (inet_pton(AF_INET, e.host.c_str(), &a.sin_addr) != 1) return false;
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  if (!ok && errno == EINPROGRESS) {
    pollfd p{fd, POLLOUT, 0};
    int err = 0;
    socklen_t len = sizeof err;
    ok = ::poll(&p, 1, int(within.count())) == 1 &&
         getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
  }
  ::close(fd);
  return ok;
}

}  // namespace

// Users are spread over the configured send servers by a hash of their id, so that one user
// keeps one server; a server that does not answer is passed over for the next one.
svc::Endpoint DeliveryService::sendServerFor(const std::string& user) {
  if (config_.sendServers.empty()) return {config_.advertiseHost, ports_[Send]};
  size_t n = config_.sendServers.size();
  size_t first = std::hash<std::string>{}(user) % n;
  for (size_t i = 0; i < n; ++i) {
    const auto& e = config_.sendServers[(first + i) % n];
    if (n == 1 || answers(e, milliseconds(300))) return e;
  }
  return config_.sendServers[first];
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
  c.finishEvenWhenStopping();
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
  // In a database that several send servers share, any of them redeems the ticket.
  if (store_.sharesTickets())
    return store_.putTicket(t, user, config_.ticketLifetimeSeconds) ? t : std::string();
  auto now = clock_();
  auto expires = now + seconds(config_.ticketLifetimeSeconds);
  std::lock_guard lock(ticketMutex_);
  expireTickets(now);
  tickets_[t] = Ticket{user, expires};
  ticketDeadlines_.emplace_back(expires, t);
  return t;
}

void DeliveryService::expireTickets(steady_clock::time_point now) {
  while (!ticketDeadlines_.empty() && ticketDeadlines_.front().first <= now) {
    auto it = tickets_.find(ticketDeadlines_.front().second);
    // A redeemed ticket has left the map already (or its value was issued again, later).
    if (it != tickets_.end() && it->second.expires <= now) tickets_.erase(it);
    ticketDeadlines_.pop_front();
  }
}

std::optional<std::string> DeliveryService::redeemTicket(const std::string& ticket) {
  if (store_.sharesTickets()) return store_.takeTicket(ticket);
  auto now = clock_();
  std::lock_guard lock(ticketMutex_);
  expireTickets(now);
  auto it = tickets_.find(ticket);
  if (it == tickets_.end()) return std::nullopt;
  Ticket found = it->second;
  tickets_.erase(it);  // one upload per ticket
  if (found.expires <= now) return std::nullopt;
  return found.user;
}

size_t DeliveryService::liveTickets() {
  std::lock_guard lock(ticketMutex_);
  expireTickets(clock_());
  return tickets_.size();
}

}  // namespace hv::service
