// The PostgreSQL store against a real server that the test starts itself: the store on its own
// (schema, accounts, tickets, group commit, the gateway queue shared by two processes' worth of
// stores), and handvane-service processes sharing one database: a region server spreading users
// over two send servers, a ticket issued by one and redeemed at the other, and a send server
// killed with SIGKILL while uploads run, after which every acknowledged upload is still there;
// the database server stopped and started again under a running store and send server; the
// gateway worker handing back the short messages of a pass that ended early.
#include <gtest/gtest.h>
#include <httplib.h>
#include <openssl/rand.h>

#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "service-server/gateway/gateway.h"
#include "service-server/pg_store.h"
#include "service-server/tests/pg_cluster.h"
#include "service-server/tests/service_fixture.h"
#include "tests/service-e2e/peers.h"

namespace hv::service {
namespace {

using probe::Bytes;
using probe::PgCluster;
using probe::RawClient;

// The request builders of the in-process fixture.
struct Packets : probe::ServiceTest {
  using ServiceTest::textPacket;
  using ServiceTest::uploadOf;
};

// A cluster per test program run (each test case runs as a program of its own under ctest); a
// database per test.
class ServicePgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(cluster_.start(error)) << error;
    ASSERT_TRUE(cluster_.query("CREATE DATABASE service")) << "cannot create the database";
  }
  std::string conninfo() const { return cluster_.conninfo("service"); }
  std::unique_ptr<PgStore> openStore(int connections = 4) {
    std::string error;
    auto store = PgStore::open(conninfo(), connections, error);
    EXPECT_TRUE(store) << error;
    return store;
  }
  std::optional<std::string> query(const std::string& sql) const {
    return cluster_.query(sql, "service");
  }

  PgCluster cluster_;
};

svc::DecodedPacket decodedText(const Bytes& packet) {
  auto d = svc::decodeMessagePacket(packet);
  EXPECT_TRUE(d.packet);
  return d.packet.value_or(svc::DecodedPacket{});
}

TEST_F(ServicePgTest, SchemaIsCreatedOnFirstOpenKeptOnTheNextAndANewerOneIsRefused) {
  EXPECT_EQ(query("SELECT to_regclass('schema_version')"), "");
  {
    auto store = openStore();
    ASSERT_TRUE(store);
    EXPECT_EQ(store->databaseSchemaVersion(), PgStore::schemaVersion());
    EXPECT_TRUE(store->addAccount("13800138000", "s3cret"));
  }
  {
    auto again = openStore();
    ASSERT_TRUE(again);
    EXPECT_EQ(again->accounts(), (std::vector<std::string>{"13800138000"}));
    EXPECT_EQ(query("SELECT count(*) FROM schema_version"), "1");
  }
  ASSERT_TRUE(query("UPDATE schema_version SET version = 99"));
  std::string error;
  EXPECT_FALSE(PgStore::open(conninfo(), 2, error));
  EXPECT_NE(error.find("newer"), std::string::npos) << error;

  EXPECT_FALSE(PgStore::open(cluster_.conninfo("missing"), 1, error));
  EXPECT_NE(error.find("cannot connect"), std::string::npos) << error;
}

TEST_F(ServicePgTest, AccountsKeepAnyBytesAndTicketsServeOnceAcrossStores) {
  auto a = openStore(), b = openStore();
  ASSERT_TRUE(a && b);
  const std::string gbk = "\xd6\xd0\xce\xc4\xba\xc5";  // not UTF-8, as a user id may be
  EXPECT_TRUE(a->addAccount(gbk, "pw"));
  EXPECT_FALSE(b->addAccount(gbk, "other"));
  EXPECT_EQ(b->accountKey(gbk), SessionCipher::deriveKey("pw"));
  EXPECT_TRUE(b->hasAccount(gbk));
  EXPECT_TRUE(b->setPassword(gbk, "new"));
  EXPECT_EQ(a->accountKey(gbk), SessionCipher::deriveKey("new"));
  EXPECT_FALSE(a->setPassword("13999999999", "x"));
  EXPECT_TRUE(a->removeAccount(gbk));
  EXPECT_FALSE(b->removeAccount(gbk));
  EXPECT_FALSE(b->accountKey(gbk));

  // Tickets are random bytes, NUL and 0xff among them.
  std::string ticket(20, '\0');
  ticket[3] = '\xff';
  ticket[19] = 'x';
  EXPECT_TRUE(a->sharesTickets());
  ASSERT_TRUE(a->putTicket(ticket, "13800138000", 60));
  EXPECT_EQ(b->takeTicket(ticket), "13800138000");
  EXPECT_EQ(a->takeTicket(ticket), std::nullopt);
  EXPECT_EQ(b->takeTicket(std::string(20, 'z')), std::nullopt);
  // A lifetime of 0 has passed by the time anybody redeems it.
  ASSERT_TRUE(a->putTicket(ticket, "13800138000", 0));
  EXPECT_EQ(b->takeTicket(ticket), std::nullopt);
}

TEST_F(ServicePgTest, UploadsAreCommittedTogetherAndTheGatewayQueueIsClaimedOnce) {
  auto a = openStore(3), b = openStore(2);
  ASSERT_TRUE(a && b);
  a->setOutbound(
      [](const std::string& user, const svc::DecodedPacket& d) {
        std::vector<OutgoingSms> out(2);
        for (auto& m : out) {
          m.sender = user;
          m.recipient = d.recipients.at(0);
          m.data = {0x00, 0xff, 0x41};
          m.coding = 1;
        }
        return out;
      },
      {});
  constexpr int kUploads = 24;
  std::vector<int64_t> ids(kUploads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kUploads; ++i)
    threads.emplace_back([&, i] {
      Bytes packet = Packets::textPacket({"\xc4\xe3\xba\xc3 " + std::to_string(i)});
      ids[size_t(i)] = a->storeMessage("13800138000", decodedText(packet), packet);
    });
  for (auto& t : threads) t.join();
  std::set<int64_t> distinct(ids.begin(), ids.end());
  EXPECT_EQ(distinct.size(), size_t(kUploads));
  EXPECT_EQ(distinct.count(0), 0u);

  auto stored = b->messages();
  ASSERT_EQ(stored.size(), size_t(kUploads));
  std::set<std::string> texts;
  for (auto& m : stored) {
    ASSERT_EQ(m.texts.size(), 1u);
    texts.insert(m.texts[0]);
    EXPECT_EQ(m.user, "13800138000");
    EXPECT_EQ(m.recipients, (std::vector<std::string>{"13900000000"}));
    EXPECT_EQ(b->smsOf(m.id).size(), 2u);
  }
  EXPECT_EQ(texts.size(), size_t(kUploads));
  EXPECT_TRUE(texts.count("\xc4\xe3\xba\xc3 7"));
  EXPECT_EQ(b->messagesTo("13900000000", *distinct.begin()).size(), size_t(kUploads - 1));
  // Only whole numbers match: a number's tail or head is another number.
  EXPECT_TRUE(b->messagesTo("900000000").empty());
  EXPECT_TRUE(b->messagesTo("1390000000").empty());
  EXPECT_EQ(b->recipients().size(), 1u);

  const int64_t now = 1'000'000;
  auto due = a->dueSms(now, 100);
  ASSERT_EQ(due.size(), size_t(2 * kUploads));
  EXPECT_EQ(due[0].data, (std::vector<uint8_t>{0x00, 0xff, 0x41}));
  EXPECT_EQ(due[0].key.size(), 24u);
  // Claimed by a: the other process's worker does not send them too.
  EXPECT_TRUE(b->dueSms(now, 100).empty());
  EXPECT_EQ(b->nextSmsAttempt(), now + PgStore::kClaimMs);
  ASSERT_TRUE(a->smsRetry(due[0].id, now + 10, "HTTP 503: busy"));
  ASSERT_TRUE(a->smsAccepted(due[1].id));
  auto again = b->dueSms(now + 10, 100);
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(again[0].id, due[0].id);
  EXPECT_EQ(again[0].attempts, 1);
  EXPECT_EQ(again[0].lastError, "HTTP 503: busy");
  EXPECT_TRUE(b->smsReport(due[1].id, due[1].key, 1, 77));
  EXPECT_FALSE(b->smsReport(due[1].id, "wrong", 1, 77));
  auto report = a->smsOf(due[1].messageId);
  auto it = std::find_if(report.begin(), report.end(), [&](auto& m) { return m.id == due[1].id; });
  ASSERT_NE(it, report.end());
  EXPECT_TRUE(it->accepted);
  EXPECT_EQ(it->reportStatus, 1);
  EXPECT_EQ(a->allSms().size(), size_t(2 * kUploads));
}

// The database server goes away under a store and comes back on the same data: calls fail
// (promptly) while it is away, and once it is back the store works again without being opened
// anew, on connections that broke while idle as well as on those that met the outage.
TEST_F(ServicePgTest, StoreFailsWhileTheDatabaseIsDownAndWorksAgainOnceItIsBack) {
  auto store = openStore(1);
  ASSERT_TRUE(store);
  ASSERT_TRUE(store->addAccount("13800138000", "pw"));
  Bytes before = Packets::textPacket({"before"});
  ASSERT_GT(store->storeMessage("13800138000", decodedText(before), before), 0);
  std::string error;

  // Broken while idle: nothing used the connection during the outage, and the first call after
  // it must not fail for meeting the dead session.
  cluster_.stop();
  ASSERT_TRUE(cluster_.restart(error)) << error;
  EXPECT_EQ(store->accountKey("13800138000"), SessionCipher::deriveKey("pw"));

  // Calls during the outage fail, and reconnecting fails with them.
  cluster_.stop();
  Bytes during = Packets::textPacket({"during"});
  EXPECT_EQ(store->storeMessage("13800138000", decodedText(during), during), 0);
  EXPECT_FALSE(store->accountKey("13800138000"));
  EXPECT_FALSE(store->putTicket(std::string(20, 't'), "13800138000", 60));
  EXPECT_EQ(store->liveTickets(), std::nullopt);
  EXPECT_TRUE(store->dueSms(0, 10).empty());
  ASSERT_TRUE(cluster_.restart(error)) << error;

  Bytes after = Packets::textPacket({"after"});
  EXPECT_GT(store->storeMessage("13800138000", decodedText(after), after), 0);
  EXPECT_TRUE(store->putTicket(std::string(20, 't'), "13800138000", 60));
  EXPECT_EQ(store->liveTickets(), 1u);
  std::vector<std::string> texts;
  for (auto& m : store->messages()) texts.push_back(m.texts.at(0));
  EXPECT_EQ(texts, (std::vector<std::string>{"before", "after"}));
}

// The gateway worker on a shared queue, its clock fixed: a pass that ends early gives its
// claims on the short messages it did not try back, so that another process's worker finds
// them due at once instead of five minutes later.
class GatewayPassTest : public ServicePgTest {
 protected:
  static constexpr int64_t kNow = 1'700'000'000'000;
  void SetUp() override {
    ServicePgTest::SetUp();
    if (HasFatalFailure()) return;
    a_ = openStore(2);
    b_ = openStore(2);
    ASSERT_TRUE(a_ && b_);
    a_->setOutbound(shortMessagesOf, {});
  }
  // A message of `texts` to one number: one short message each, all in one lane of a pass.
  int64_t queue(std::vector<std::string> texts) {
    svc::DecodedPacket d;
    d.serviceCode = "SMS";
    d.contentClass = "TEXTG";
    d.contentKind = "sms_text";
    d.recipients = {"13900000000"};
    d.texts = std::move(texts);
    return a_->storeMessage("13800138000", d, Bytes{1});
  }
  GatewayConfig config(int port) const {
    GatewayConfig c;
    c.sendSmsUrl = "http://127.0.0.1:" + std::to_string(port) + "/cgi-bin/sendsms";
    c.retryFirstMs = c.retryMaxMs = 60000;
    c.timeoutMs = 2000;
    return c;
  }
  static std::vector<int64_t> idsOf(const std::vector<OutgoingSms>& list) {
    std::vector<int64_t> ids;
    for (auto& m : list) ids.push_back(m.id);
    return ids;
  }
  std::unique_ptr<PgStore> a_, b_;
};

TEST_F(GatewayPassTest, StoppingMidPassHandsBackTheShortMessagesNotSent) {
  const int64_t message = queue({"one", "two", "three"});
  ASSERT_GT(message, 0);
  const auto queued = a_->smsOf(message);
  ASSERT_EQ(queued.size(), 3u);

  // The stand-in accepts the first and asks the worker to stop while answering it, as a
  // service that is shutting down would.
  std::unique_ptr<SmsGateway> gateway;
  std::atomic<int> requests{0};
  httplib::Server standIn;
  standIn.Get("/cgi-bin/sendsms", [&](const httplib::Request&, httplib::Response& res) {
    if (++requests == 1) gateway->requestStop();
    res.status = 202;
    res.set_content("0: Accepted for delivery", "text/plain");
  });
  const int port = standIn.bind_to_any_port("127.0.0.1");
  std::thread serving([&] { standIn.listen_after_bind(); });
  ASSERT_TRUE(peer::waitListening(uint16_t(port)));
  gateway = std::make_unique<SmsGateway>(config(port), *a_, "", [] { return kNow; });
  gateway->start();
  const bool asked = peer::waitUntil([&] { return requests.load() == 1; }, 20000);
  gateway->stop();
  standIn.stop();
  serving.join();
  ASSERT_TRUE(asked);
  EXPECT_EQ(requests.load(), 1);

  auto after = b_->smsOf(message);
  ASSERT_EQ(after.size(), 3u);
  EXPECT_TRUE(after[0].accepted);
  // The other two are due again as they were, untried, for whichever worker comes next.
  auto due = b_->dueSms(kNow, 10);
  EXPECT_EQ(idsOf(due), (std::vector<int64_t>{queued[1].id, queued[2].id}));
  for (auto& m : due) {
    EXPECT_EQ(m.attempts, 0);
    EXPECT_EQ(m.nextAttemptMs, queued[1].nextAttemptMs);
  }
}

TEST_F(GatewayPassTest, GatewayGoneMidPassRetriesTheFailedOneAndHandsBackTheRest) {
  const int64_t message = queue({"one", "two", "three"});
  ASSERT_GT(message, 0);
  const auto queued = a_->smsOf(message);
  ASSERT_EQ(queued.size(), 3u);
  peer::ClosedPort away;  // connections refused: no answer at all
  SmsGateway gateway(config(away.port()), *a_, "", [] { return kNow; });
  gateway.start();
  // The pass is over once the first is put back for its retry and the others are handed back
  // (the worker then waits for the retry time, a minute).
  const bool passed = peer::waitUntil(
      [&] {
        auto all = b_->smsOf(message);
        return all.size() == 3 && all[0].attempts == 1 && all[1].nextAttemptMs < kNow &&
               all[2].nextAttemptMs < kNow;
      },
      20000);
  gateway.stop();
  ASSERT_TRUE(passed);
  EXPECT_EQ(gateway.attempts(), 1u);

  auto all = b_->smsOf(message);
  EXPECT_EQ(all[0].nextAttemptMs, kNow + 60000);
  EXPECT_EQ(all[0].lastError.rfind("no answer", 0), 0u) << all[0].lastError;
  EXPECT_EQ(idsOf(b_->dueSms(kNow, 10)), (std::vector<int64_t>{queued[1].id, queued[2].id}));
  EXPECT_EQ(idsOf(a_->dueSms(kNow + 60000, 10)), (std::vector<int64_t>{queued[0].id}));
}

// A claim is given back only while it is still the one dueSms made: after it lapsed and
// another worker claimed the short message, a late hand-back leaves that claim alone.
TEST_F(GatewayPassTest, LateHandBackLeavesAnotherWorkersClaimAlone) {
  ASSERT_GT(queue({"one"}), 0);
  auto mine = a_->dueSms(kNow, 10);
  ASSERT_EQ(mine.size(), 1u);
  EXPECT_EQ(mine[0].claimedUntilMs, kNow + PgStore::kClaimMs);
  const int64_t later = kNow + PgStore::kClaimMs;
  auto theirs = b_->dueSms(later, 10);
  ASSERT_EQ(idsOf(theirs), idsOf(mine));
  EXPECT_TRUE(a_->releaseSms(mine));
  EXPECT_TRUE(a_->dueSms(later, 10).empty());
  EXPECT_EQ(a_->nextSmsAttempt(), later + PgStore::kClaimMs);
  // Its own claim b gives back: due again at the attempt that made it due for b.
  EXPECT_TRUE(b_->releaseSms(theirs));
  EXPECT_TRUE(a_->dueSms(later - 1, 10).empty());
  EXPECT_EQ(idsOf(a_->dueSms(later, 10)), idsOf(mine));
}

// ---- handvane-service processes on one database

struct Outcome {
  bool accepted = false;
  int sendPort = 0;
};

// Region query, then ticket and upload at the send server that the region reply names.
Outcome sendThrough(int regionPort, const std::string& user, const std::string& text) {
  Outcome out;
  RawClient region(regionPort);
  if (!region.send(svc::regionQuery(user))) return out;
  Bytes reply = region.recv(92);
  if (reply.size() != 92 || reply[11] != 0) return out;
  out.sendPort = svc::parseRegionInfo(reply).send.port;
  RawClient send(out.sendPort);
  if (!send.connected() || !send.send(svc::ticketQuery(user))) return out;
  Bytes head = send.recv(44);
  if (head.size() != 44 || head[11] != 0) return out;
  auto ticket = svc::openTicketBlob(std::span(head).subspan(16), "pw" + user);
  if (!ticket) return out;
  send.send(Packets::uploadOf(*ticket, Packets::textPacket({text})));
  out.accepted = send.recv(12) == probe::status(4, 0);
  return out;
}

std::string serviceConfig(const std::string& conninfo, const std::string& extra = "") {
  return extra + "MaxConnectionsPerPeer=64\r\n[postgresql]\r\nConnection=" + conninfo +
         "\r\nConnections=4\r\n" + "[web]\r\nEnabled=0\r\n";
}

// A ticket from the send server at `port` for a user whose password is "pw" + the user.
std::optional<std::array<uint8_t, 20>> ticketFrom(int port, const std::string& user) {
  RawClient c(port);
  if (!c.send(svc::ticketQuery(user))) return std::nullopt;
  Bytes head = c.recv(44);
  if (head.size() != 44 || head[11] != 0) return std::nullopt;
  return svc::openTicketBlob(std::span(head).subspan(16), "pw" + user);
}

// The status that the send server at `port` answers an upload of `text` with; nullopt when no
// status reply came within the client's time-out.
std::optional<int32_t> uploadStatus(int port, const std::array<uint8_t, 20>& ticket,
                                    const std::string& text) {
  RawClient c(port);
  c.send(Packets::uploadOf(ticket, Packets::textPacket({text})));
  Bytes reply = c.recv(12);
  if (reply.size() != 12) return std::nullopt;
  const int32_t s = int32_t(uint32_t(reply[8]) << 24 | uint32_t(reply[9]) << 16 |
                            uint32_t(reply[10]) << 8 | reply[11]);
  if (reply != probe::status(4, s)) return std::nullopt;
  return s;
}

// A send server whose database is stopped and started again: uploads during the outage are
// refused with a status (not acknowledged, not left hanging), and once the database is back
// the same process acknowledges and stores them again; nothing acknowledged is missing.
TEST_F(ServicePgTest, SendServerRefusesUploadsWhileTheDatabaseIsDownAndServesOnceItIsBack) {
  e2e::LocalService a(serviceConfig(conninfo()));
  ASSERT_TRUE(a.start());
  const std::string user = "13800138000";
  ASSERT_EQ(a.command({"add-account", user, "pw" + user}), 0) << a.lastOutput();
  std::vector<std::string> acknowledged;
  auto first = ticketFrom(a.send, user);
  ASSERT_TRUE(first);
  ASSERT_EQ(uploadStatus(a.send, *first, "before"), 0);
  acknowledged.push_back("before");
  auto pending = ticketFrom(a.send, user);  // issued before the outage, used during it
  ASSERT_TRUE(pending);

  cluster_.stop();
  auto refused = uploadStatus(a.send, *pending, "during");
  ASSERT_TRUE(refused) << "no status reply during the outage";
  EXPECT_NE(*refused, 0);
  EXPECT_FALSE(ticketFrom(a.send, user));

  std::string error;
  ASSERT_TRUE(cluster_.restart(error)) << error;
  // One after the other, then several at once so that the other connections of the pool
  // (broken while idle) serve too.
  for (int i = 0; i < 3; ++i) {
    const std::string text = "after " + std::to_string(i);
    auto t = ticketFrom(a.send, user);
    ASSERT_TRUE(t) << text;
    EXPECT_EQ(uploadStatus(a.send, *t, text), 0) << text;
    acknowledged.push_back(text);
  }
  constexpr int kTogether = 8;
  std::vector<std::optional<int32_t>> statuses(kTogether);
  std::vector<std::thread> clients;
  for (int i = 0; i < kTogether; ++i)
    clients.emplace_back([&, i] {
      if (auto t = ticketFrom(a.send, user))
        statuses[size_t(i)] = uploadStatus(a.send, *t, "together " + std::to_string(i));
    });
  for (auto& t : clients) t.join();
  for (int i = 0; i < kTogether; ++i) {
    EXPECT_EQ(statuses[size_t(i)], 0) << "together " << i;
    acknowledged.push_back("together " + std::to_string(i));
  }

  auto store = openStore(1);
  ASSERT_TRUE(store);
  std::multiset<std::string> stored;
  for (auto& m : store->messages()) stored.insert(m.texts.at(0));
  EXPECT_EQ(stored, std::multiset<std::string>(acknowledged.begin(), acknowledged.end()));
}

// With tickets in the database, every send server of it counts the same live tickets: those
// issued by any of them and neither redeemed nor expired.
TEST_F(ServicePgTest, LiveTicketsAreTheDatabasesAtEverySendServer) {
  auto storeA = openStore(2), storeB = openStore(2);
  ASSERT_TRUE(storeA && storeB);
  const std::string user = "13800138000";
  ASSERT_TRUE(storeA->addAccount(user, "pw" + user));
  const std::string dir = *fs::createTempDirectory();
  ServiceConfig config;
  config.regionPort = config.authPort = config.sendPort = 0;
  config.dataFolder = dir;
  DeliveryService a(config, *storeA), b(config, *storeB);
  std::string error;
  ASSERT_TRUE(a.start(error)) << error;
  ASSERT_TRUE(b.start(error)) << error;
  EXPECT_EQ(a.liveTickets(), 0u);

  auto fromA = ticketFrom(a.sendPort(), user), fromB = ticketFrom(b.sendPort(), user);
  ASSERT_TRUE(fromA && fromB);
  EXPECT_EQ(a.liveTickets(), 2u);
  EXPECT_EQ(b.liveTickets(), 2u);
  // One past its lifetime is not counted.
  ASSERT_TRUE(storeB->putTicket(std::string(20, 'x'), user, 0));
  EXPECT_EQ(a.liveTickets(), 2u);
  EXPECT_EQ(uploadStatus(b.sendPort(), *fromA, "redeemed"), 0);
  EXPECT_EQ(a.liveTickets(), 1u);
  EXPECT_EQ(b.liveTickets(), 1u);
  a.stop();
  b.stop();
  fs::removeAll(dir);
}

TEST_F(ServicePgTest, TicketIssuedByOneSendServerIsRedeemedOnceAtAnother) {
  e2e::LocalService a(serviceConfig(conninfo())), b(serviceConfig(conninfo()));
  ASSERT_TRUE(a.start());
  ASSERT_TRUE(b.start());
  ASSERT_EQ(b.command({"add-account", "13800138000", "pw13800138000"}), 0) << b.lastOutput();

  RawClient issuer(a.send);
  issuer.send(svc::ticketQuery("13800138000"));
  Bytes head = issuer.recv(44);
  ASSERT_EQ(head.size(), 44u);
  auto ticket = svc::openTicketBlob(std::span(head).subspan(16), "pw13800138000");
  ASSERT_TRUE(ticket);
  Bytes upload = Packets::uploadOf(*ticket, Packets::textPacket({"across"}));
  RawClient at(b.send);
  at.send(upload);
  EXPECT_EQ(at.recv(12), probe::status(4, 0));
  RawClient replay(a.send);
  replay.send(upload);
  EXPECT_EQ(replay.recv(12), probe::status(4, int32_t(Status::BadTicket)));

  ASSERT_EQ(a.command({"list-messages"}), 0);
  EXPECT_NE(a.lastOutput().find("user=13800138000"), std::string::npos) << a.lastOutput();
}

TEST_F(ServicePgTest, RegionSpreadsUsersOverTwoSendServersAndAKillLosesNothingAcknowledged) {
  // No schema before the first start; the first service creates it, the others use it.
  EXPECT_EQ(query("SELECT to_regclass('schema_version')"), "");
  auto a = std::make_unique<e2e::LocalService>(serviceConfig(conninfo()));
  auto b = std::make_unique<e2e::LocalService>(serviceConfig(conninfo()));
  ASSERT_TRUE(a->start());
  EXPECT_EQ(query("SELECT version FROM schema_version"), std::to_string(PgStore::schemaVersion()));
  ASSERT_TRUE(b->start());
  const int portA = a->send, portB = b->send;
  e2e::LocalService region(
      serviceConfig(conninfo(), "SendServers=127.0.0.1:" + std::to_string(portA) +
                                    ",127.0.0.1:" + std::to_string(portB) + "\r\n"));
  ASSERT_TRUE(region.start());
  std::vector<std::string> users;
  for (int i = 0; i < 12; ++i) {
    users.push_back("1380013" + std::to_string(8000 + i));
    ASSERT_EQ(region.command({"add-account", users.back(), "pw" + users.back()}), 0);
  }

  // Each user sends its numbered texts one after the other; every acknowledgement is noted with
  // the send server that gave it. B is killed once it has acknowledged a few.
  constexpr int kSends = 30;
  std::mutex mutex;
  std::map<std::string, int> acknowledgedBy;        // text -> send port
  std::map<std::string, std::vector<int>> portsOf;  // user -> ports of its acknowledgements
  // Phases: before the kill, while B dies, after B is gone. Only sends that met the kill may
  // fail: those that ended before it or began after B was gone must not.
  enum Phase { Before, Dying, Gone };
  std::atomic<int> phase{Before}, atB{0};
  std::atomic<int> metTheKill{0}, unexpected{0};
  std::vector<std::thread> clients;
  for (const auto& user : users)
    clients.emplace_back([&, user] {
      for (int i = 0; i < kSends; ++i) {
        std::string text = user + "#" + std::to_string(i);
        const int began = phase.load();
        auto r = sendThrough(region.region, user, text);
        if (!r.accepted) {
          ++(began == Gone || phase.load() == Before ? unexpected : metTheKill);
          continue;
        }
        if (r.sendPort == portB) ++atB;
        std::lock_guard lock(mutex);
        acknowledgedBy[text] = r.sendPort;
        portsOf[user].push_back(r.sendPort);
      }
    });
  const bool bServed = peer::waitUntil([&] { return atB.load() >= 20; }, 60000);
  phase = Dying;
  b->signal(9);
  EXPECT_TRUE(b->waitForExit(std::chrono::seconds(10)));
  phase = Gone;
  for (auto& t : clients) t.join();
  ASSERT_TRUE(bServed) << "send server B acknowledged only " << atB.load();
  EXPECT_EQ(unexpected.load(), 0);

  // Both servers acknowledged uploads; users of B went on at A after the kill.
  std::set<int> ports;
  int movedUsers = 0;
  for (auto& [user, list] : portsOf) {
    ports.insert(list.begin(), list.end());
    auto firstB = std::find(list.begin(), list.end(), portB);
    if (firstB != list.end() && std::find(firstB, list.end(), portA) != list.end()) ++movedUsers;
  }
  EXPECT_EQ(ports, (std::set<int>{portA, portB}));
  EXPECT_GT(movedUsers, 0);

  // Every acknowledged upload is in the database once, from whichever server took it.
  auto store = openStore(1);
  ASSERT_TRUE(store);
  std::map<std::string, int> stored;
  for (auto& m : store->messages()) {
    ASSERT_EQ(m.texts.size(), 1u);
    EXPECT_EQ(m.texts[0].substr(0, m.user.size()), m.user);
    ++stored[m.texts[0]];
  }
  int fromA = 0, fromB = 0;
  for (auto& [text, port] : acknowledgedBy) {
    EXPECT_EQ(stored[text], 1) << text << " acknowledged by port " << port;
    (port == portA ? fromA : fromB)++;
  }
  EXPECT_GE(fromB, 20);
  EXPECT_GT(fromA, 0);
  EXPECT_EQ(int(acknowledgedBy.size()), int(users.size()) * kSends - metTheKill.load());

  // A send server started again on the existing schema serves at once.
  b = std::make_unique<e2e::LocalService>(serviceConfig(conninfo()));
  ASSERT_TRUE(b->start());
  RawClient c(b->send);
  c.send(svc::ticketQuery(users[0]));
  Bytes head = c.recv(44);
  ASSERT_EQ(head.size(), 44u);
  auto ticket = svc::openTicketBlob(std::span(head).subspan(16), "pw" + users[0]);
  ASSERT_TRUE(ticket);
  c.send(Packets::uploadOf(*ticket, Packets::textPacket({"after restart"})));
  EXPECT_EQ(c.recv(12), probe::status(4, 0));
  auto all = store->messages();
  EXPECT_TRUE(std::any_of(all.begin(), all.end(), [](auto& m) {
    return m.texts == std::vector<std::string>{"after restart"};
  }));
  EXPECT_EQ(query("SELECT version FROM schema_version"), std::to_string(PgStore::schemaVersion()));
}

}  // namespace
}  // namespace hv::service
