// The delivery service under hostile clients: a peer that hoards connections, clients that send
// nothing or a byte at a time, a flood of tickets, a process out of descriptors and a stop with
// idle and busy connections. Every attack is bounded in count and time.
#include <sys/resource.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "service-server/tests/service_fixture.h"

namespace {

using namespace hv::service;
using namespace std::chrono;
using probe::Bytes;
using probe::RawClient;
using probe::ServiceTest;
using probe::status;

constexpr char kUser[] = "13800138000";

// The attacker plays 127.0.0.2; valid clients come from 127.0.0.1.
constexpr char kAttacker[] = "127.0.0.2";

bool regionQueryAnswered(int port) {
  RawClient c(port);
  c.send(hv::svc::regionQuery(kUser));
  Bytes reply = c.recv(92);
  return reply.size() == 92 && reply[11] == 0;
}

void waitForActive(DeliveryService& s, int n) {
  for (int i = 0; i < 300 && s.activeConnections() < n; ++i)
    std::this_thread::sleep_for(milliseconds(10));
}

TEST_F(ServiceTest, PeerOverItsCapIsToldBusyWhileOtherPeersAreServed) {
  config_.maxConnectionsPerPeer = 4;
  config_.maxConnections = 64;
  config_.firstBytesTimeoutMs = 5000;
  config_.connectionTimeoutMs = 5000;
  startService();
  std::vector<std::unique_ptr<RawClient>> hoard;
  for (int i = 0; i < 4; ++i) {
    hoard.push_back(std::make_unique<RawClient>(service_->authPort(), kAttacker));
    ASSERT_TRUE(hoard.back()->connected());
  }
  waitForActive(*service_, 4);
  ASSERT_EQ(service_->activeConnections(), 4);

  // Each further connection of the hoarding peer gets the busy status and a close.
  for (int i = 0; i < 20; ++i) {
    RawClient more(service_->authPort(), kAttacker);
    more.send(hv::svc::authenticateRequest(kUser, "s3cret"));
    EXPECT_EQ(more.recv(12), status(2, int32_t(Status::Busy))) << "attempt " << i;
    EXPECT_TRUE(more.closedByPeer());
  }
  // Meanwhile every valid client is served.
  int served = 0;
  for (int i = 0; i < 20; ++i) {
    RawClient c(service_->authPort());
    c.send(hv::svc::authenticateRequest(kUser, "s3cret"));
    if (c.recv(12) == status(2, 0)) ++served;
  }
  EXPECT_EQ(served, 20);
}

TEST_F(ServiceTest, ReopeningHoarderDoesNotShutValidClientsOut) {
  config_.maxConnectionsPerPeer = 8;
  config_.maxConnections = 32;
  config_.firstBytesTimeoutMs = 3000;
  startService();
  std::atomic<bool> stop{false};
  std::atomic<int> reopened{0};
  // Keeps up to 64 connections open from one peer, reopening each as soon as it is closed.
  std::thread attacker([&] {
    std::vector<std::unique_ptr<RawClient>> open;
    for (int round = 0; round < 200000 && !stop; ++round) {
      if (open.size() >= 64) open.erase(open.begin());
      open.push_back(std::make_unique<RawClient>(service_->regionPort(), kAttacker, 100));
      ++reopened;
    }
  });
  // The valid clients come once the attacker holds its 64 and has begun reopening them.
  for (int i = 0; i < 2000 && reopened < 80; ++i) std::this_thread::sleep_for(milliseconds(5));
  const bool attacking = reopened >= 80;
  int served = 0;
  for (int i = 0; i < 60 && attacking; ++i) served += regionQueryAnswered(service_->regionPort());
  const bool stillAttacking = reopened < 200000;
  stop = true;
  attacker.join();
  ASSERT_TRUE(attacking) << "the attacker opened only " << reopened << " connections";
  EXPECT_TRUE(stillAttacking);
  EXPECT_EQ(served, 60);
}

TEST_F(ServiceTest, ClientSlowWithItsFirstBytesIsCutLongBeforeTheConnectionDeadline) {
  config_.firstBytesTimeoutMs = 300;
  config_.connectionTimeoutMs = 20000;
  startService();
  RawClient slow(service_->regionPort());
  auto start = steady_clock::now();
  slow.send(Bytes{0, 0, 0});  // three bytes of a length word, then a pause
  EXPECT_EQ(slow.recv(12), status(1, int32_t(Status::TimedOut)));
  EXPECT_TRUE(slow.closedByPeer());
  EXPECT_LT(steady_clock::now() - start, seconds(10));
}

TEST_F(ServiceTest, FirstBytesDeadlineEndsOnceTheRequestHasBegun) {
  config_.firstBytesTimeoutMs = 200;
  config_.connectionTimeoutMs = 20000;
  startService();
  RawClient c(service_->regionPort());
  Bytes query = hv::svc::regionQuery(kUser);
  c.send(Bytes(query.begin(), query.begin() + 8));
  std::this_thread::sleep_for(milliseconds(600));  // past the first-bytes deadline
  c.send(Bytes(query.begin() + 8, query.end()));
  Bytes reply = c.recv(92);
  ASSERT_EQ(reply.size(), 92u);
  EXPECT_EQ(reply[11], 0);
}

TEST_F(ServiceTest, TicketsExpireInDeadlineOrder) {
  auto now = steady_clock::time_point{} + hours(1);
  std::mutex clockMutex;
  clock_ = [&] {
    std::lock_guard lock(clockMutex);
    return now;
  };
  auto advance = [&](seconds s) {
    std::lock_guard lock(clockMutex);
    now += s;
  };
  config_.ticketLifetimeSeconds = 30;
  config_.connectionTimeoutMs = 5000;
  startService();
  std::vector<std::unique_ptr<RawClient>> clients;
  std::vector<std::array<uint8_t, 20>> tickets;
  for (int i = 0; i < 3; ++i) {
    if (i > 0) advance(seconds(10));  // issued at 0, 10 and 20 s
    clients.push_back(std::make_unique<RawClient>(service_->sendPort()));
    tickets.push_back(ticketOn(*clients.back()));
  }
  EXPECT_EQ(service_->liveTickets(), 3u);
  advance(seconds(15));  // 35 s: the first is past its deadline, the others are not
  EXPECT_EQ(service_->liveTickets(), 2u);
  clients[0]->send(uploadOf(tickets[0], textPacket({"late"})));
  EXPECT_EQ(clients[0]->recv(12), status(4, int32_t(Status::BadTicket)));
  clients[1]->send(uploadOf(tickets[1], textPacket({"in time"})));
  EXPECT_EQ(clients[1]->recv(12), status(4, 0));
  advance(seconds(16));  // 51 s: the third is gone too
  EXPECT_EQ(service_->liveTickets(), 0u);
  clients[2]->send(uploadOf(tickets[2], textPacket({"late"})));
  EXPECT_EQ(clients[2]->recv(12), status(4, int32_t(Status::BadTicket)));
  EXPECT_EQ(store_->messages().size(), 1u);
}

TEST_F(ServiceTest, ManyLiveTicketsAllServeOnceAndExpireTogether) {
  auto now = steady_clock::time_point{} + hours(1);
  std::atomic<int64_t> offset{0};
  clock_ = [&] { return now + seconds(offset.load()); };
  config_.ticketLifetimeSeconds = 60;
  startService();
  // One connection per ticket query; 300 tickets live at once.
  std::vector<std::array<uint8_t, 20>> tickets;
  for (int i = 0; i < 300; ++i) {
    RawClient c(service_->sendPort());
    tickets.push_back(ticketOn(c));
  }
  EXPECT_EQ(service_->liveTickets(), 300u);
  for (int i = 0; i < 10; ++i) {
    RawClient c(service_->sendPort());
    c.send(uploadOf(tickets[size_t(i) * 30], textPacket({"x"})));
    EXPECT_EQ(c.recv(12), status(4, 0));
  }
  EXPECT_EQ(service_->liveTickets(), 290u);
  offset = 61;
  EXPECT_EQ(service_->liveTickets(), 0u);
}

// Open descriptors of this process.
int openDescriptors() {
  int n = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n - 1;  // the iterator's own
}

TEST_F(ServiceTest, AcceptOutOfDescriptorsBacksOffAndKeepsServing) {
  config_.acceptBackoffMs = 100;
  config_.firstBytesTimeoutMs = 5000;
  startService();
  ASSERT_TRUE(regionQueryAnswered(service_->regionPort()));  // the store's files are open
  // Client sockets exist before the limit is lowered; connecting them takes no descriptor.
  std::vector<std::unique_ptr<RawClient>> waiting;
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
  int fds[8];
  for (int& fd : fds) fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  rlimit low = old;
  low.rlim_cur = rlim_t(openDescriptors() + 1);  // room for one accepted connection
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(uint16_t(service_->regionPort()));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  for (int fd : fds) ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  // Starved for about half a second: a spinning loop would fail thousands of times.
  std::this_thread::sleep_for(milliseconds(500));
  uint64_t failures = service_->acceptFailures();
  EXPECT_GE(failures, 1u);
  EXPECT_LE(failures, 20u);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &old), 0);
  // Every queued connection is served once descriptors are back.
  auto query = hv::svc::regionQuery(kUser);
  int answered = 0;
  for (int fd : fds) {
    timeval tv{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    (void)!::send(fd, query.data(), query.size(), MSG_NOSIGNAL);
    uint8_t reply[92];
    size_t got = 0;
    for (ssize_t r; got < sizeof reply && (r = ::recv(fd, reply + got, sizeof reply - got, 0)) > 0;)
      got += size_t(r);
    answered += got == sizeof reply && reply[11] == 0;
    ::close(fd);
  }
  EXPECT_EQ(answered, 8);
  EXPECT_TRUE(regionQueryAnswered(service_->regionPort()));
}

TEST_F(ServiceTest, StopClosesIdleConnectionsAtOnceAndFinishesUploadsInFlight) {
  config_.connectionTimeoutMs = 20000;
  config_.firstBytesTimeoutMs = 20000;
  startService();
  std::vector<std::unique_ptr<RawClient>> idle;
  for (int i = 0; i < 5; ++i) idle.push_back(std::make_unique<RawClient>(service_->authPort()));
  RawClient uploader(service_->sendPort());
  auto ticket = ticketOn(uploader);
  Bytes upload = uploadOf(ticket, textPacket({"in flight"}));
  uploader.send(Bytes(upload.begin(), upload.begin() + 40));  // head and part of the packet
  waitForActive(*service_, 6);
  ASSERT_EQ(service_->activeConnections(), 6);

  auto start = steady_clock::now();
  std::thread stopper([&] { service_->stop(); });
  for (auto& c : idle) {
    EXPECT_EQ(c->recv(12), status(2, int32_t(Status::ShuttingDown)));
    EXPECT_TRUE(c->closedByPeer());
  }
  uploader.send(Bytes(upload.begin() + 40, upload.end()));
  EXPECT_EQ(uploader.recv(12), status(4, 0));
  stopper.join();
  EXPECT_LT(steady_clock::now() - start, seconds(10));  // far below the 20 s deadlines
  ASSERT_EQ(store_->messages().size(), 1u);
  EXPECT_EQ(store_->messages()[0].texts, std::vector<std::string>{"in flight"});
}

}  // namespace
