// The event loop's own cases: requests split over many reads or several in one, many uploads
// committed together, a refused upload whose data keeps coming, and the store's batch calls that
// the committer and the gateway use.
#include <netinet/tcp.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#include "service-server/tests/service_fixture.h"

namespace {

using namespace hv::service;
using probe::Bytes;
using probe::RawClient;
using probe::ServiceTest;
using probe::status;

constexpr char kUser[] = "13800138000";

TEST_F(ServiceTest, RequestsSplitIntoSingleBytesOrSentTogetherAreServed) {
  startService();
  // A region query a byte at a time: every read adds to the same request.
  {
    RawClient c(service_->regionPort());
    for (uint8_t b : hv::svc::regionQuery(kUser)) ASSERT_TRUE(c.send(Bytes{b}));
    Bytes reply = c.recv(92);
    ASSERT_EQ(reply.size(), 92u);
    EXPECT_EQ(reply[11], 0);
  }
  // A ticket query with a second request right behind it in the same write: the second is read
  // from what is left over after the first (here a command the send server refuses).
  {
    RawClient c(service_->sendPort());
    Bytes both = hv::svc::ticketQuery(kUser);
    Bytes region = hv::svc::regionQuery(kUser);
    both.insert(both.end(), region.begin(), region.end());
    ASSERT_TRUE(c.send(both));
    EXPECT_EQ(c.recv(44).size(), 44u);
    EXPECT_EQ(c.recv(12), status(1, int32_t(Status::BadRequest)));
    EXPECT_TRUE(c.closedByPeer());
  }
  // An upload sent a byte at a time is stored whole.
  {
    RawClient c(service_->sendPort());
    auto ticket = ticketOn(c);
    for (uint8_t b : uploadOf(ticket, textPacket({"slowly"}))) ASSERT_TRUE(c.send(Bytes{b}));
    EXPECT_EQ(c.recv(12), status(4, 0));
  }
  ASSERT_EQ(store_->messages().size(), 1u);
  EXPECT_EQ(store_->messages()[0].texts, std::vector<std::string>{"slowly"});
}

TEST_F(ServiceTest, UploadsArrivingTogetherAreAllStoredAndEachAnsweredOnce) {
  config_.maxConnectionsPerPeer = 64;
  config_.connectionTimeoutMs = 20000;
  startService();
  constexpr int kClients = 40;
  // Every client holds its ticket before any uploads, so that the uploads arrive together.
  std::vector<std::unique_ptr<RawClient>> clients;
  std::vector<std::array<uint8_t, 20>> tickets;
  for (int i = 0; i < kClients; ++i) {
    clients.push_back(std::make_unique<RawClient>(service_->sendPort()));
    tickets.push_back(ticketOn(*clients.back()));
  }
  std::atomic<int> accepted{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kClients; ++i)
    threads.emplace_back([&, i] {
      RawClient& c = *clients[size_t(i)];
      c.send(uploadOf(tickets[size_t(i)], textPacket({"message " + std::to_string(i)})));
      if (c.recv(12) == status(4, 0) && c.closedByPeer()) ++accepted;
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(accepted.load(), kClients);
  auto stored = store_->messages();
  ASSERT_EQ(stored.size(), size_t(kClients));
  std::set<std::string> texts;
  for (auto& m : stored) texts.insert(m.texts.at(0));
  EXPECT_EQ(texts.size(), size_t(kClients));
  EXPECT_TRUE(texts.count("message 0") && texts.count("message 39"));
}

TEST_F(ServiceTest, RefusedUploadIsDrainedSoThatItsStatusIsNotLostToAReset) {
  startService();
  RawClient c(service_->sendPort());
  auto ticket = ticketOn(c);
  // Far over the maximum, with 64 KiB of the packet right behind the head: the service refuses
  // it at the head and reads (and drops) the rest, so the close does not reset the connection.
  Bytes upload = hv::svc::uploadHead(ticket, 1 << 20);
  upload.resize(upload.size() + 65536, 0x55);
  ASSERT_TRUE(c.send(upload));
  EXPECT_EQ(c.recv(12), status(4, int32_t(Status::PacketTooLarge)));
  EXPECT_TRUE(c.closedByPeer());
  // The refused connection gave up its place (it is only drained now).
  for (int i = 0; i < 300 && service_->activeConnections() > 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(service_->activeConnections(), 0);
}

// A ticket source that can hold the event loop (which dates tickets itself) until released.
struct HeldClock {
  std::mutex mutex;
  std::condition_variable changed;
  bool hold = false, holding = false;
  std::chrono::steady_clock::time_point now() {
    std::unique_lock lock(mutex);
    if (hold) {
      holding = true;
      changed.notify_all();
      changed.wait(lock, [this] { return !hold; });
    }
    return std::chrono::steady_clock::now();
  }
  bool waitHolding() {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(5), [this] { return holding; });
  }
  void release() {
    std::lock_guard lock(mutex);
    hold = false;
    changed.notify_all();
  }
};

// True once the peer has acknowledged the socket's end of stream.
bool finAcknowledged(int fd) {
  for (int i = 0; i < 500; ++i) {
    tcp_info info{};
    socklen_t len = sizeof info;
    if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &len) == 0 && info.tcpi_state == TCP_FIN_WAIT2)
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST_F(ServiceTest, EndOfStreamThatArrivesWithTheRequestClosesTheConnectionAtOnce) {
  // Far beyond the client's receive time-out: a connection the service fails to close is seen
  // as one that stays open, not as one closed by a deadline.
  config_.connectionTimeoutMs = 30000;
  config_.firstBytesTimeoutMs = 30000;
  auto held = std::make_shared<HeldClock>();
  clock_ = [held] { return held->now(); };
  startService();
  // The loop is held while it dates a first client's ticket...
  held->hold = true;
  RawClient first(service_->sendPort());
  ASSERT_TRUE(first.send(hv::svc::ticketQuery(kUser)));
  ASSERT_TRUE(held->waitHolding());
  // ...so that a second client's ticket query and its end of stream are both in the socket
  // before the service accepts it: one read event brings the request and the end together.
  RawClient second(service_->sendPort());
  ASSERT_TRUE(second.send(hv::svc::ticketQuery(kUser)));
  ASSERT_EQ(::shutdown(second.fd(), SHUT_WR), 0);
  ASSERT_TRUE(finAcknowledged(second.fd()));
  held->release();
  EXPECT_EQ(first.recv(44).size(), 44u);
  // The ticket is answered, and the connection closed rather than left waiting for an upload
  // that cannot come (which would end in a time-out status once the deadline passed).
  EXPECT_EQ(second.recv(44).size(), 44u);
  EXPECT_TRUE(second.closedByPeer());
}

hv::svc::DecodedPacket text(const std::string& t) {
  hv::svc::DecodedPacket d;
  d.serviceCode = "SMS";
  d.contentClass = "TEXTG";
  d.contentKind = "sms_text";
  d.recipients = {"13900000000"};
  d.texts = {t};
  return d;
}

TEST(StoreBatches, SeveralMessagesInOneCallAndSeveralShortMessagesAcceptedAtOnce) {
  auto dir = *hv::fs::createTempDirectory();
  std::string error;
  auto store = Store::open(dir + "/service.db", error);
  ASSERT_TRUE(store) << error;
  int queuedCalls = 0;
  store->setOutbound(
      [](const std::string& user, const hv::svc::DecodedPacket& d) {
        OutgoingSms m;
        m.sender = user;
        m.recipient = d.recipients.at(0);
        m.data.assign(d.texts.at(0).begin(), d.texts.at(0).end());
        return std::vector<OutgoingSms>{m};
      },
      [&] { ++queuedCalls; });

  const std::string a = "13800000001", b = "13800000002";
  auto one = text("one"), two = text("two"), three = text("three");
  Bytes p1{1}, p2{2}, p3{3};
  std::vector<Store::NewMessage> batch = {{&a, &one, p1}, {&b, &two, p2}, {&a, &three, p3}};
  auto ids = store->storeMessages(batch);
  ASSERT_EQ(ids.size(), 3u);
  EXPECT_GT(ids[0], 0);
  EXPECT_LT(ids[0], ids[1]);
  EXPECT_LT(ids[1], ids[2]);
  EXPECT_EQ(queuedCalls, 1);  // the gateway is told once for the whole batch
  auto stored = store->messages();
  ASSERT_EQ(stored.size(), 3u);
  EXPECT_EQ(stored[1].user, b);
  EXPECT_EQ(stored[2].texts, std::vector<std::string>{"three"});
  EXPECT_EQ(stored[2].packet, p3);

  // Each message's short message is queued under its own id.
  auto sms = store->allSms();
  ASSERT_EQ(sms.size(), 3u);
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(sms[i].messageId, ids[i]);

  // Two accepted in one transaction; an unknown id is reported but does not undo the others.
  std::vector<int64_t> done = {sms[0].id, sms[2].id};
  EXPECT_TRUE(store->smsAcceptedAll(done));
  std::vector<int64_t> withUnknown = {sms[1].id, 9999};
  EXPECT_FALSE(store->smsAcceptedAll(withUnknown));
  sms = store->allSms();
  EXPECT_TRUE(sms[0].accepted && sms[1].accepted && sms[2].accepted);
  EXPECT_EQ(sms[0].attempts, 1);
  EXPECT_TRUE(store->dueSms(INT64_MAX, 10).empty());
  store.reset();
  hv::fs::removeAll(dir);
}

}  // namespace
