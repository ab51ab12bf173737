#include "service-server/server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/rand.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
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

// One accepted socket: where it is in its requests, what has been read of the current one and
// what is left to write of a reply.
struct DeliveryService::Connection {
  enum class State {
    Head,       // waiting for a request's length and command words
    Body,       // the head arrived; reading the rest
    Working,    // a worker thread makes the reply; input is left unread
    Writing,    // the reply did not fit in the socket at once
    Lingering,  // refused: drained until the peer closes or the linger time is up
  };
  int fd = -1;
  uint32_t serial = 0;
  uint32_t peer = 0;
  int role = 0;
  bool counted = true;     // holds a place under the connection caps
  bool started = false;    // the first request's head arrived
  bool finishing = false;  // an upload whose head arrived is finished even when stopping
  State state = State::Head;
  int request = 0;
  uint32_t expected = 0;  // the reply command for a status before a request's head
  uint32_t length = 0, command = 0;
  std::vector<uint8_t> in;
  size_t have = 0;
  std::vector<uint8_t> out;
  size_t sent = 0;
  Then after = Then::Close;
};

DeliveryService::DeliveryService(ServiceConfig config, Store& store, Clock clock)
    : config_(std::move(config)),
      store_(store),
      quick_(store.quickLookups()),
      clock_(std::move(clock)) {
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
  // Accepted connections inherit it: every reply is one write, sent at once.
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
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
// Worker threads for hand-offs (region queries that probe the send servers).
constexpr size_t kMaxWorkers = 64;
// Serials of the descriptors that are not connections, in the epoll data's upper half.
constexpr uint32_t kListenerSerial = 0xFFFFFFF0u;  // + role
constexpr uint32_t kWakeSerial = 0xFFFFFFFFu;
constexpr uint32_t kConnectionEvents = EPOLLIN | EPOLLET;

bool acceptStarved(int error) {
  return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

uint64_t tag(int fd, uint32_t serial) {
  return (uint64_t(serial) << 32) | uint32_t(fd);
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
  epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
  wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (epoll_ < 0 || wake_ < 0) {
    error = "cannot create the event loop";
    stop();
    return false;
  }
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = tag(wake_, kWakeSerial);
  epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &ev);
  for (int role = 0; role < 3; ++role) {
    ev.data.u64 = tag(listeners_[role], kListenerSerial + uint32_t(role));
    epoll_ctl(epoll_, EPOLL_CTL_ADD, listeners_[role], &ev);
  }
  stopping_ = false;
  stopBegun_ = false;
  backingOff_ = false;
  try {
    committer_ = std::thread([this] { commitLoop(); });
    loopThread_ = std::thread([this] { loop(); });
  } catch (const std::system_error&) {
    error = "cannot start the event loop";
    stop();
    return false;
  }
  return true;
}

void DeliveryService::stop() {
  if (loopThread_.joinable()) {
    stopping_ = true;
    uint64_t one = 1;
    (void)!::write(wake_, &one, sizeof one);
    // Connections end by their deadlines at the latest, so this wait is bounded.
    loopThread_.join();
  }
  {
    std::lock_guard lock(jobMutex_);
    workersStop_ = true;
  }
  jobReady_.notify_all();
  for (auto& t : workers_) t.join();
  workers_.clear();
  workersStop_ = false;
  if (committer_.joinable()) {
    {
      std::lock_guard lock(uploadMutex_);
      committerStop_ = true;
    }
    uploadReady_.notify_all();
    committer_.join();
    committerStop_ = false;
  }
  for (int& fd : listeners_)
    if (fd >= 0) ::close(std::exchange(fd, -1));
  if (epoll_ >= 0) ::close(std::exchange(epoll_, -1));
  if (wake_ >= 0) ::close(std::exchange(wake_, -1));
}

// --- The event loop ------------------------------------------------------------------------

void DeliveryService::loop() {
  epoll_event events[64];
  for (;;) {
    if (stopping_ && !stopBegun_) beginStop();
    if (stopBegun_ && open_ == 0) return;
    auto now = steady_clock::now();
    if (backingOff_ && now >= backoffUntil_ && !stopBegun_) armListeners(true);
    int n = ::epoll_wait(epoll_, events, 64, nextTimeoutMs(now));
    if (n < 0 && errno != EINTR) return;
    for (int i = 0; i < n; ++i) {
      const int fd = int(uint32_t(events[i].data.u64));
      const uint32_t serial = uint32_t(events[i].data.u64 >> 32);
      if (serial == kWakeSerial) {
        uint64_t count;
        (void)!::read(wake_, &count, sizeof count);
        takeFinished();
      } else if (serial >= kListenerSerial) {
        if (!stopBegun_ && !backingOff_) acceptOn(int(serial - kListenerSerial));
      } else if (Connection* c = find(fd, serial)) {
        if (c->state == Connection::State::Writing)
          continueWrite(*c);
        else
          readFrom(fd, serial);
      }
    }
    expire(steady_clock::now());
  }
}

DeliveryService::Connection* DeliveryService::find(int fd, uint32_t serial) {
  if (fd < 0 || size_t(fd) >= connections_.size()) return nullptr;
  Connection* c = connections_[size_t(fd)].get();
  return c && c->serial == serial ? c : nullptr;
}

void DeliveryService::armListeners(bool on) {
  backingOff_ = !on;
  for (int role = 0; role < 3; ++role) {
    if (listeners_[role] < 0) continue;
    epoll_event ev{};
    ev.events = on ? uint32_t(EPOLLIN) : 0u;
    ev.data.u64 = tag(listeners_[role], kListenerSerial + uint32_t(role));
    epoll_ctl(epoll_, EPOLL_CTL_MOD, listeners_[role], &ev);
  }
}

void DeliveryService::acceptOn(int role) {
  for (int i = 0; i < 64; ++i) {
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    int fd = ::accept4(listeners_[role], reinterpret_cast<sockaddr*>(&peer), &len,
                       SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (acceptStarved(errno)) {
        // Out of descriptors: the pending connections stay in the backlog; try again later
        // instead of waking up for them at once.
        ++acceptFailures_;
        backoffUntil_ = steady_clock::now() + milliseconds(config_.acceptBackoffMs);
        armListeners(false);
        return;
      }
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;  // EAGAIN: the backlog is empty
    }
    const uint32_t address = peer.sin_family == AF_INET ? ntohl(peer.sin_addr.s_addr) : 0;
    auto c = std::make_unique<Connection>();
    c->fd = fd;
    c->serial = nextSerial_;
    nextSerial_ = nextSerial_ + 1 >= kListenerSerial ? 1 : nextSerial_ + 1;
    c->peer = address;
    c->role = role;
    c->expected = kFirstCommand[role];
    epoll_event ev{};
    ev.events = kConnectionEvents;
    ev.data.u64 = tag(fd, c->serial);
    if (epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev) != 0) {
      ::close(fd);
      continue;
    }
    if (size_t(fd) >= connections_.size()) connections_.resize(size_t(fd) + 64);
    Connection& conn = *c;
    connections_[size_t(fd)] = std::move(c);
    ++open_;
    int& fromPeer = perPeer_[address];
    if (active_.load() >= config_.maxConnections || fromPeer >= config_.maxConnectionsPerPeer) {
      if (fromPeer == 0) perPeer_.erase(address);
      conn.counted = false;
      refuse(conn, kFirstCommand[role], Status::Busy);
      continue;
    }
    ++fromPeer;
    ++active_;
    auto now = steady_clock::now();
    firstBytesDue_.push_back(
        {now + milliseconds(std::min(config_.firstBytesTimeoutMs, config_.connectionTimeoutMs)), fd,
         conn.serial});
    connectionDue_.push_back({now + milliseconds(config_.connectionTimeoutMs), fd, conn.serial});
  }
}

// Reads what has arrived and serves every request that is complete. The descriptor is
// edge-triggered, so reading goes on until recv() has nothing more: a short read is not enough,
// for a peer's end of stream that came together with its last bytes raises no event of its own
// and would be seen only at the connection's deadline.
void DeliveryService::readFrom(int fd, uint32_t serial) {
  using State = Connection::State;
  for (;;) {
    Connection* c = find(fd, serial);
    if (!c) return;
    if (c->state == State::Lingering) {
      uint8_t sink[512];
      ssize_t r = ::recv(fd, sink, sizeof sink, 0);
      if (r < 0 && errno == EINTR) continue;
      if (r == 0 || (r < 0 && errno != EAGAIN)) return closeConnection(*c);
      if (r < 0) return;  // drained for now
      continue;
    }
    if (c->state != State::Head && c->state != State::Body) return;
    const size_t want = c->state == State::Head ? 8 : c->length;
    const size_t room = std::max<size_t>(want > c->have ? want - c->have : 0, 512);
    if (c->in.size() < c->have + room) c->in.resize(c->have + room);
    ssize_t r = ::recv(fd, c->in.data() + c->have, room, 0);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && errno == EAGAIN) return;
    if (r <= 0) return closeConnection(*c);  // the peer left (or the socket failed)
    c->have += size_t(r);
    process(fd, serial);
  }
}

void DeliveryService::process(int fd, uint32_t serial) {
  using State = Connection::State;
  for (;;) {
    Connection* p = find(fd, serial);
    if (!p || (p->state != State::Head && p->state != State::Body)) return;
    Connection& c = *p;
    if (c.state == State::Head) {
      if (c.have < 8) return;
      c.length = loadBe32(c.in.data());
      c.command = loadBe32(c.in.data() + 4);
      // A request's first words arrived: from now on only the whole connection's deadline holds.
      c.started = true;
      if (auto refusal = checkHead(c)) return refuse(c, refusal->first, refusal->second);
      if (c.command == svc::kMessageUpload) c.finishing = true;
      c.state = State::Body;
    }
    if (c.have < c.length) return;
    if (!quick_) {
      // Every look-up is a round trip to the database: the request is a worker's.
      std::vector<uint8_t> body(c.in.begin() + 8, c.in.begin() + c.length);
      std::memmove(c.in.data(), c.in.data() + c.length, c.have - c.length);
      c.have -= c.length;
      return handOff(c, [this, command = c.command, length = c.length, body = std::move(body)] {
        return inWorker(command, length, body);
      });
    }
    Answer a = handle(c, std::span<const uint8_t>(c.in.data() + 8, c.length - 8));
    // The bytes of this request are done with; what follows them is the next request's.
    std::memmove(c.in.data(), c.in.data() + c.length, c.have - c.length);
    c.have -= c.length;
    if (a.then == Then::HandOff) return handOff(c, std::move(a.work));
    if (a.then == Then::Commit) {
      c.state = Connection::State::Working;
      bool wake;
      {
        std::lock_guard lock(uploadMutex_);
        uploads_.push_back({c.fd, c.serial, std::move(a.user), std::move(a.packet)});
        wake = std::exchange(committerIdle_, false);
      }
      if (wake) uploadReady_.notify_one();
      return;
    }
    respond(c, std::move(a.reply), a.then);
  }
}

std::optional<std::pair<uint32_t, Status>> DeliveryService::checkHead(const Connection& c) const {
  constexpr uint32_t kUploadHead = 28;
  const uint32_t length = c.length;
  switch (c.command) {
    case svc::kRegionQuery:
      if (c.role != Region) break;
      if (length != 28) return std::pair{svc::kRegionQuery, Status::BadRequest};
      return std::nullopt;
    case svc::kAuthenticate:
      if (c.role != Auth) break;
      // 32 bytes of head, then a blob of 4 + 8 to 4 + 24 bytes (a user id of 1 to 19 bytes).
      if (length < 32 + 12 || length > 32 + 28)
        return std::pair{svc::kAuthenticate, Status::BadRequest};
      return std::nullopt;
    case svc::kTicketQuery:
      if (c.role != Send) break;
      if (length != 28) return std::pair{svc::kTicketQuery, Status::BadRequest};
      return std::nullopt;
    case svc::kMessageUpload:
      if (c.role != Send) break;
      if (length < kUploadHead + svc::headerPartSize(0))
        return std::pair{svc::kMessageUpload, Status::BadRequest};
      if (length - kUploadHead > config_.maxPacketBytes)
        return std::pair{svc::kMessageUpload, Status::PacketTooLarge};
      return std::nullopt;
    default:
      break;
  }
  return std::pair{c.command, Status::BadRequest};
}

void DeliveryService::respond(Connection& c, std::vector<uint8_t> reply, Then then) {
  ssize_t r = ::send(c.fd, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  if (r == ssize_t(reply.size())) return afterReply(c, then);
  if (r < 0 && errno != EAGAIN && errno != EINTR) return closeConnection(c);
  c.out = std::move(reply);
  c.sent = r > 0 ? size_t(r) : 0;
  c.after = then;
  c.state = Connection::State::Writing;
  writeDue_.push_back(
      {steady_clock::now() + milliseconds(config_.connectionTimeoutMs), c.fd, c.serial});
  epoll_event ev{};
  ev.events = kConnectionEvents | EPOLLOUT;
  ev.data.u64 = tag(c.fd, c.serial);
  epoll_ctl(epoll_, EPOLL_CTL_MOD, c.fd, &ev);
}

void DeliveryService::continueWrite(Connection& c) {
  while (c.sent < c.out.size()) {
    ssize_t r =
        ::send(c.fd, c.out.data() + c.sent, c.out.size() - c.sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && errno == EAGAIN) return;
    if (r < 0) return closeConnection(c);
    c.sent += size_t(r);
  }
  epoll_event ev{};
  ev.events = kConnectionEvents;
  ev.data.u64 = tag(c.fd, c.serial);
  epoll_ctl(epoll_, EPOLL_CTL_MOD, c.fd, &ev);
  c.out.clear();
  const int fd = c.fd;
  const uint32_t serial = c.serial;
  afterReply(c, c.after);
  // Input that came while the reply waited was not read (edge-triggered): read it now.
  if (Connection* next = find(fd, serial); next && next->state == Connection::State::Head)
    readFrom(fd, serial);
}

void DeliveryService::afterReply(Connection& c, Then then) {
  if (then == Then::Refuse) {
    ::shutdown(c.fd, SHUT_WR);
    return linger(c);
  }
  // The send server answers a ticket query and then the upload on the same connection.
  if (then != Then::Next || c.role != Send || c.request >= 1) return closeConnection(c);
  ++c.request;
  c.expected = svc::kMessageUpload;
  c.state = Connection::State::Head;
  if (stopBegun_) refuse(c, c.expected, Status::ShuttingDown);
}

void DeliveryService::refuse(Connection& c, uint32_t command, Status status) {
  respond(c, svc::statusReply(command, int32_t(status)), Then::Refuse);
}

// A refused connection gives up its place at once; its peer's request is drained for a while so
// that the close does not reset the connection before the status is read. When the service
// stops, or too many linger already, it is closed at once.
void DeliveryService::linger(Connection& c) {
  if (c.counted) {
    c.counted = false;
    --active_;
    if (--perPeer_[c.peer] <= 0) perPeer_.erase(c.peer);
  }
  if (stopBegun_ || lingering_ >= kMaxLingering) return closeConnection(c);
  c.state = Connection::State::Lingering;
  c.in = {};
  c.have = 0;
  ++lingering_;
  lingerDue_.push_back({steady_clock::now() + kLingerTime, c.fd, c.serial});
  // What the peer sent before the refusal is drained now (edge-triggered).
  readFrom(c.fd, c.serial);
}

void DeliveryService::closeConnection(Connection& c) {
  if (c.counted) {
    --active_;
    if (--perPeer_[c.peer] <= 0) perPeer_.erase(c.peer);
  }
  if (c.state == Connection::State::Lingering) --lingering_;
  const int fd = c.fd;
  ::close(fd);  // also leaves the epoll set
  connections_[size_t(fd)].reset();
  --open_;
}

// Stop: no new connections, refused ones are closed, and every connection that has not begun
// an upload is told the service is stopping (after what it sent already has been read, so a
// request sent before the stop is still answered).
void DeliveryService::beginStop() {
  using State = Connection::State;
  stopBegun_ = true;
  for (int& fd : listeners_)
    if (fd >= 0) ::close(std::exchange(fd, -1));
  std::vector<std::pair<int, uint32_t>> all;
  for (auto& c : connections_)
    if (c) all.emplace_back(c->fd, c->serial);
  for (auto [fd, serial] : all) {
    Connection* c = find(fd, serial);
    if (!c) continue;
    if (c->state == State::Lingering) {
      closeConnection(*c);
      continue;
    }
    if (c->state == State::Head || c->state == State::Body) readFrom(fd, serial);
    c = find(fd, serial);
    if (!c || c->finishing) continue;
    if (c->state == State::Head)
      refuse(*c, c->expected, Status::ShuttingDown);
    else if (c->state == State::Body)
      closeConnection(*c);
  }
}

void DeliveryService::expire(steady_clock::time_point now) {
  using State = Connection::State;
  auto due = [now](std::deque<Due>& q) -> std::optional<Due> {
    if (q.empty() || q.front().at > now) return std::nullopt;
    Due d = q.front();
    q.pop_front();
    return d;
  };
  while (auto d = due(firstBytesDue_)) {
    Connection* c = find(d->fd, d->serial);
    if (c && !c->started && c->state == State::Head) refuse(*c, c->expected, Status::TimedOut);
  }
  while (auto d = due(connectionDue_)) {
    Connection* c = find(d->fd, d->serial);
    if (!c) continue;
    // Before a request's head the peer is told why; in the middle of one it is just closed.
    if (c->state == State::Head)
      refuse(*c, c->expected, Status::TimedOut);
    else if (c->state == State::Body || c->state == State::Writing)
      closeConnection(*c);
  }
  while (auto d = due(writeDue_)) {
    Connection* c = find(d->fd, d->serial);
    if (c && c->state == State::Writing) closeConnection(*c);
  }
  while (auto d = due(lingerDue_)) {
    Connection* c = find(d->fd, d->serial);
    if (c && c->state == State::Lingering) closeConnection(*c);
  }
}

int DeliveryService::nextTimeoutMs(steady_clock::time_point now) {
  using State = Connection::State;
  // Entries whose connection moved on are dropped first, so that they wake nobody.
  auto prune = [this](std::deque<Due>& q, auto stale) {
    while (!q.empty()) {
      Connection* c = find(q.front().fd, q.front().serial);
      if (c && !stale(*c)) break;
      q.pop_front();
    }
  };
  prune(firstBytesDue_, [](Connection& c) { return c.started || c.state != State::Head; });
  prune(connectionDue_,
        [](Connection& c) { return c.state == State::Working || c.state == State::Lingering; });
  prune(writeDue_, [](Connection& c) { return c.state != State::Writing; });
  prune(lingerDue_, [](Connection& c) { return c.state != State::Lingering; });
  auto nearest = steady_clock::time_point::max();
  for (auto* q : {&firstBytesDue_, &connectionDue_, &writeDue_, &lingerDue_})
    if (!q->empty()) nearest = std::min(nearest, q->front().at);
  if (backingOff_) nearest = std::min(nearest, backoffUntil_);
  if (nearest == steady_clock::time_point::max()) return -1;
  auto ms = duration_cast<milliseconds>(nearest - now).count();
  return int(std::clamp<int64_t>(ms + 1, 0, 60000));
}

// --- Hand-offs to the worker threads -------------------------------------------------------

void DeliveryService::handOff(Connection& c, std::function<Outcome()> work) {
  c.state = Connection::State::Working;
  std::unique_lock lock(jobMutex_);
  jobs_.push_back({c.fd, c.serial, std::move(work)});
  if (jobs_.size() > size_t(idleWorkers_) && workers_.size() < kMaxWorkers) {
    try {
      workers_.emplace_back([this] { workerLoop(); });
    } catch (const std::system_error&) {
      if (workers_.empty()) {
        // No thread at all: do the work here rather than never.
        Job job = std::move(jobs_.back());
        jobs_.pop_back();
        lock.unlock();
        std::vector<Finished> done;
        done.push_back({job.fd, job.serial, job.work()});
        post(std::move(done));
        return;
      }
    }
  }
  lock.unlock();
  jobReady_.notify_one();
}

void DeliveryService::workerLoop() {
  std::unique_lock lock(jobMutex_);
  for (;;) {
    ++idleWorkers_;
    jobReady_.wait(lock, [this] { return workersStop_ || !jobs_.empty(); });
    --idleWorkers_;
    if (jobs_.empty()) return;  // stopping, and nothing left
    Job job = std::move(jobs_.front());
    jobs_.pop_front();
    lock.unlock();
    Outcome o = job.work();
    std::vector<Finished> done;
    done.push_back({job.fd, job.serial, std::move(o)});
    post(std::move(done));
    lock.lock();
  }
}

void DeliveryService::post(std::vector<Finished> done) {
  bool first;
  {
    std::lock_guard lock(finishedMutex_);
    first = finished_.empty();
    for (auto& f : done) finished_.push_back(std::move(f));
  }
  // One wake-up for every answer that comes before the loop takes them.
  if (first) {
    uint64_t one = 1;
    (void)!::write(wake_, &one, sizeof one);
  }
}

// Takes every upload that is waiting, decodes them and commits the good ones in one call; the
// loop is told of them all at once when the commit is durable.
void DeliveryService::commitLoop() {
  std::vector<Upload> batch;
  for (;;) {
    {
      std::unique_lock lock(uploadMutex_);
      committerIdle_ = uploads_.empty();
      uploadReady_.wait(lock, [this] { return committerStop_ || !uploads_.empty(); });
      committerIdle_ = false;
      if (uploads_.empty()) return;  // stopping, and nothing left
      batch.clear();
      batch.swap(uploads_);
    }
    std::vector<svc::PacketDecode> decoded;
    decoded.reserve(batch.size());
    std::vector<Store::NewMessage> rows;
    std::vector<size_t> rowOf(batch.size(), SIZE_MAX);
    for (size_t i = 0; i < batch.size(); ++i) {
      decoded.push_back(svc::decodeMessagePacket(batch[i].packet));
      if (!decoded.back().packet) continue;
      rowOf[i] = rows.size();
      rows.push_back({&batch[i].user, &*decoded.back().packet, batch[i].packet});
    }
    std::vector<int64_t> ids;
    if (!rows.empty()) ids = store_.storeMessages(rows);
    std::vector<Finished> done;
    done.reserve(batch.size());
    for (size_t i = 0; i < batch.size(); ++i) {
      Status s = rowOf[i] == SIZE_MAX ? Status::BadPacket
                 : ids[rowOf[i]] == 0 ? Status::StoreFailed
                                      : Status::Ok;
      done.push_back({batch[i].fd,
                      batch[i].serial,
                      {svc::statusReply(svc::kMessageUpload, int32_t(s)),
                       s != Status::Ok ? Then::Refuse : Then::Close}});
    }
    post(std::move(done));
  }
}

void DeliveryService::takeFinished() {
  std::vector<Finished> done;
  {
    std::lock_guard lock(finishedMutex_);
    done.swap(finished_);
  }
  for (auto& f : done) {
    Connection* c = find(f.fd, f.serial);
    if (!c || c->state != Connection::State::Working) continue;
    respond(*c, std::move(f.outcome.reply), f.outcome.then);
    // Input that came while the worker had the request was not read (edge-triggered).
    if (Connection* next = find(f.fd, f.serial); next && next->state == Connection::State::Head)
      readFrom(f.fd, f.serial);
  }
}

// --- Requests ------------------------------------------------------------------------------

namespace {
std::string userIdField(std::span<const uint8_t> field) {
  return svc::fieldString(field, 0, svc::kUserIdWidth);
}
}  // namespace

DeliveryService::Answer DeliveryService::handle(Connection& c, std::span<const uint8_t> body) {
  switch (c.command) {
    case svc::kRegionQuery:
      return region(body);
    case svc::kAuthenticate:
      return authenticate(c.length, body);
    case svc::kTicketQuery:
      return ticket(body);
    default:
      return upload(body);
  }
}

DeliveryService::Outcome DeliveryService::inWorker(uint32_t command, uint32_t length,
                                                   const std::vector<uint8_t>& body) {
  if (command == svc::kMessageUpload) {
    auto refuse = [](Status s) {
      return Outcome{svc::statusReply(svc::kMessageUpload, int32_t(s)), Then::Refuse};
    };
    auto user = redeemTicket(std::string(body.begin(), body.begin() + svc::kTicketWidth));
    if (!user) return refuse(Status::BadTicket);
    auto packet = std::span(body).subspan(svc::kTicketWidth);
    auto decoded = svc::decodeMessagePacket(packet);
    if (!decoded.packet) return refuse(Status::BadPacket);
    if (store_.storeMessage(*user, *decoded.packet, packet) == 0)
      return refuse(Status::StoreFailed);
    return {svc::statusReply(svc::kMessageUpload, 0), Then::Close};
  }
  Answer a = command == svc::kRegionQuery    ? region(body)
             : command == svc::kAuthenticate ? authenticate(length, body)
                                             : ticket(body);
  if (a.then == Then::HandOff) return a.work();
  return {std::move(a.reply), a.then};
}

DeliveryService::Answer DeliveryService::refused(uint32_t command, Status s) {
  return {svc::statusReply(command, int32_t(s)), Then::Refuse, {}};
}

DeliveryService::Answer DeliveryService::region(std::span<const uint8_t> body) {
  std::string user = userIdField(body);
  if (!store_.accountKey(user)) return refused(svc::kRegionQuery, Status::UnknownUser);
  auto reply = [this, user] {
    svc::RegionInfo info{{config_.advertiseHost, ports_[Auth]},
                         sendServerFor(user),
                         {config_.spareHost, config_.sparePort}};
    return svc::regionReply(0, info);
  };
  // Choosing among several send servers probes them, which may take a while.
  if (config_.sendServers.size() > 1)
    return {{}, Then::HandOff, [reply] { return Outcome{reply(), Then::Close}; }};
  return {reply(), Then::Close, {}};
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

DeliveryService::Answer DeliveryService::authenticate(uint32_t length,
                                                      std::span<const uint8_t> body) {
  std::string user = userIdField(body);
  uint32_t n = loadBe32(&body[svc::kUserIdWidth]);
  if (n != length - 32) return refused(svc::kAuthenticate, Status::BadRequest);
  auto key = store_.accountKey(user);
  if (!key) return refused(svc::kAuthenticate, Status::UnknownUser);
  auto claimed = svc::openCredentialBlob(body.subspan(24), SessionCipher::fromKey(*key));
  if (!claimed || *claimed != user) return refused(svc::kAuthenticate, Status::AuthFailed);
  return {svc::statusReply(svc::kAuthenticate, 0), Then::Close, {}};
}

DeliveryService::Answer DeliveryService::ticket(std::span<const uint8_t> body) {
  std::string user = userIdField(body);
  auto key = store_.accountKey(user);
  if (!key) return refused(svc::kTicketQuery, Status::UnknownUser);
  std::string t = issueTicket(user);
  if (t.empty()) return refused(svc::kTicketQuery, Status::StoreFailed);
  return {svc::ticketReply(0, std::span(reinterpret_cast<const uint8_t*>(t.data()), t.size()),
                           SessionCipher::fromKey(*key)),
          Then::Next,
          {}};
}

DeliveryService::Answer DeliveryService::upload(std::span<const uint8_t> body) {
  std::string t(reinterpret_cast<const char*>(body.data()), svc::kTicketWidth);
  auto user = redeemTicket(t);
  if (!user) return refused(svc::kMessageUpload, Status::BadTicket);
  // Decoding and the durable commit are the committer's: the reply goes out once the row is on
  // disk.
  Answer a{{}, Then::Commit, {}};
  a.user = std::move(*user);
  a.packet.assign(body.begin() + svc::kTicketWidth, body.end());
  return a;
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

std::optional<size_t> DeliveryService::liveTickets() {
  if (store_.sharesTickets()) return store_.liveTickets();
  std::lock_guard lock(ticketMutex_);
  expireTickets(clock_());
  return tickets_.size();
}

}  // namespace hv::service
