// The delivery service in-process on loopback, spoken to by a raw client that builds its bytes
// by hand.
#include "service-server/server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/fs.h"
#include "service-server/tests/service_fixture.h"
#include "service/protocol/packet.h"

namespace {

using namespace hv::service;
using Bytes = std::vector<uint8_t>;

using probe::RawClient;
using probe::ServiceTest;
using probe::status;

TEST_F(ServiceTest, RegionReplyNamesTheConfiguredServers) {
  config_.advertiseHost = "127.0.0.1";
  config_.spareHost = "spare.example";
  config_.sparePort = 9;
  startService();
  RawClient c(service_->regionPort());
  ASSERT_TRUE(c.connected());
  c.send(hv::svc::regionQuery("13800138000"));
  Bytes reply = c.recv(92);
  ASSERT_EQ(reply.size(), 92u);
  EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 12),
            (Bytes{0, 0, 0, 92, 0x80, 0, 0, 1, 0, 0, 0, 0}));
  auto info = hv::svc::parseRegionInfo(reply);
  EXPECT_EQ(info.auth, (hv::svc::Endpoint{"127.0.0.1", service_->authPort()}));
  EXPECT_EQ(info.send, (hv::svc::Endpoint{"127.0.0.1", service_->sendPort()}));
  EXPECT_EQ(info.spare, (hv::svc::Endpoint{"spare.example", 9}));
  EXPECT_TRUE(c.closedByPeer());

  RawClient unknown(service_->regionPort());
  unknown.send(hv::svc::regionQuery("13999999999"));
  EXPECT_EQ(unknown.recv(12), status(1, int32_t(Status::UnknownUser)));
}

TEST_F(ServiceTest, AuthenticationChecksTheCredentialAgainstThePassword) {
  startService();
  RawClient good(service_->authPort());
  good.send(hv::svc::authenticateRequest("13800138000", "s3cret"));
  EXPECT_EQ(good.recv(12), status(2, 0));

  RawClient wrong(service_->authPort());
  wrong.send(hv::svc::authenticateRequest("13800138000", "guess"));
  EXPECT_EQ(wrong.recv(12), status(2, int32_t(Status::AuthFailed)));

  // A credential made for another id is refused even with the right password.
  auto request = hv::svc::authenticateRequest("13800138000", "s3cret");
  auto other = hv::svc::credentialBlob("13800138001", "s3cret");
  std::copy(other.begin(), other.end(), request.begin() + 32);
  RawClient swapped(service_->authPort());
  swapped.send(request);
  EXPECT_EQ(swapped.recv(12), status(2, int32_t(Status::AuthFailed)));

  // n disagreeing with the length word.
  request = hv::svc::authenticateRequest("13800138000", "s3cret");
  request[31] = 12;
  RawClient bad(service_->authPort());
  bad.send(request);
  EXPECT_EQ(bad.recv(12), status(2, int32_t(Status::BadRequest)));

  ASSERT_TRUE(store_->setPassword("13800138000", "new"));
  RawClient after(service_->authPort());
  after.send(hv::svc::authenticateRequest("13800138000", "new"));
  EXPECT_EQ(after.recv(12), status(2, 0));
}

TEST_F(ServiceTest, UploadIsStoredAndDecodedAndTheTicketServesOnce) {
  startService();
  RawClient c(service_->sendPort());
  auto ticket = ticketOn(c);
  Bytes packet = textPacket({"hello", "world!"});
  c.send(uploadOf(ticket, packet));
  EXPECT_EQ(c.recv(12), status(4, 0));

  auto stored = store_->messages();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].user, "13800138000");
  EXPECT_EQ(stored[0].texts, (std::vector<std::string>{"hello", "world!"}));
  EXPECT_EQ(stored[0].recipients, (std::vector<std::string>{"13900000000"}));
  EXPECT_EQ(stored[0].serviceCode, "SMS");
  EXPECT_EQ(stored[0].packet, packet);

  RawClient again(service_->sendPort());
  again.send(uploadOf(ticket, packet));
  EXPECT_EQ(again.recv(12), status(4, int32_t(Status::BadTicket)));
  EXPECT_EQ(store_->messages().size(), 1u);
}

TEST_F(ServiceTest, TicketPastItsLifetimeIsRefused) {
  config_.ticketLifetimeSeconds = 1;
  startService();
  RawClient c(service_->sendPort());
  auto ticket = ticketOn(c);
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  c.send(uploadOf(ticket, textPacket({"late"})));
  EXPECT_EQ(c.recv(12), status(4, int32_t(Status::BadTicket)));
  EXPECT_TRUE(store_->messages().empty());
}

TEST_F(ServiceTest, BadPacketGetsStatusAndCloseWhileOthersContinue) {
  startService();
  RawClient other(service_->sendPort());
  auto otherTicket = ticketOn(other);

  RawClient bad(service_->sendPort());
  auto ticket = ticketOn(bad);
  Bytes packet = textPacket({"x"});
  packet.back() = 'y';
  packet.push_back(0);  // a byte past the text section
  bad.send(uploadOf(ticket, packet));
  EXPECT_EQ(bad.recv(12), status(4, int32_t(Status::BadPacket)));
  EXPECT_TRUE(bad.closedByPeer());

  other.send(uploadOf(otherTicket, textPacket({"fine"})));
  EXPECT_EQ(other.recv(12), status(4, 0));
}

TEST_F(ServiceTest, OversizePacketIsRefusedBeforeItIsRead) {
  startService();
  RawClient c(service_->sendPort());
  auto ticket = ticketOn(c);
  c.send(hv::svc::uploadHead(ticket, config_.maxPacketBytes + 1));
  EXPECT_EQ(c.recv(12), status(4, int32_t(Status::PacketTooLarge)));
}

TEST_F(ServiceTest, WrongCommandForTheServerAndUnknownUserTicket) {
  startService();
  RawClient c(service_->regionPort());
  c.send(hv::svc::ticketQuery("13800138000"));
  EXPECT_EQ(c.recv(12), status(3, int32_t(Status::BadRequest)));
  RawClient t(service_->sendPort());
  t.send(hv::svc::ticketQuery("1"));
  EXPECT_EQ(t.recv(12), status(3, int32_t(Status::UnknownUser)));
}

TEST_F(ServiceTest, SilentClientIsToldItTimedOutAndClosed) {
  startService();
  RawClient c(service_->sendPort());
  c.send(Bytes{0, 0, 0});  // part of a length word, then nothing
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(c.recv(12), status(3, int32_t(Status::TimedOut)));
  EXPECT_TRUE(c.closedByPeer());
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
}

TEST_F(ServiceTest, ConnectionsOverTheLimitAreToldBusyAndClosed) {
  config_.maxConnections = 2;
  startService();
  RawClient a(service_->sendPort()), b(service_->sendPort());
  a.send(Bytes{0});
  b.send(Bytes{0});
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (service_->activeConnections() < 2 && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(service_->activeConnections(), 2);
  RawClient third(service_->regionPort());
  third.send(hv::svc::regionQuery("13800138000"));
  EXPECT_EQ(third.recv(12), status(1, int32_t(Status::Busy)));
  EXPECT_TRUE(third.closedByPeer());
}

TEST(Accounts, AddRemoveAndSetPassword) {
  auto dir = *hv::fs::createTempDirectory();
  std::string error;
  auto store = Store::open(dir + "/service.db", error);
  ASSERT_TRUE(store);
  EXPECT_TRUE(store->addAccount("2", "b"));
  EXPECT_TRUE(store->addAccount("1", "a"));
  EXPECT_FALSE(store->addAccount("1", "c"));
  EXPECT_EQ(store->accounts(), (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(store->accountKey("1"), hv::SessionCipher::deriveKey("a"));
  EXPECT_TRUE(store->setPassword("1", "z"));
  EXPECT_EQ(store->accountKey("1"), hv::SessionCipher::deriveKey("z"));
  EXPECT_FALSE(store->setPassword("3", "z"));
  EXPECT_TRUE(store->removeAccount("2"));
  EXPECT_FALSE(store->removeAccount("2"));
  EXPECT_FALSE(store->accountKey("2"));
  store.reset();
  hv::fs::removeAll(dir);
}

TEST(Config, ReadsServiceSectionAndResolvesTheDataFolder) {
  auto dir = *hv::fs::createTempDirectory();
  std::string path = dir + "/service.ini";
  ASSERT_TRUE(hv::fs::writeFileAtomic(
      path,
      "[service]\r\nRegionPort=1\r\nAuthPort = 2\r\nSendPort=3\r\nDataFolder=msgs\r\n"
      "MaxPacketBytes=100\r\nAdvertiseHost=localhost\r\n"));
  auto c = loadConfig(path);
  EXPECT_EQ(c.regionPort, 1);
  EXPECT_EQ(c.authPort, 2);
  EXPECT_EQ(c.sendPort, 3);
  EXPECT_EQ(c.maxPacketBytes, 100u);
  std::string base = dir;
  while (base.back() == '/') base.pop_back();
  EXPECT_EQ(c.dataFolder, base + "/msgs");
  EXPECT_EQ(c.advertiseHost, "localhost");
  EXPECT_EQ(c.bindAddress, "127.0.0.1");
  EXPECT_EQ(c.postgres, "");  // SQLite unless PostgreSQL is configured

  ASSERT_TRUE(hv::fs::writeFileAtomic(
      path,
      "[service]\r\n[postgresql]\r\nConnection=host=127.0.0.1 port=5 dbname=hv\r\n"
      "Connections=3\r\n"));
  c = loadConfig(path);
  EXPECT_EQ(c.postgres, "host=127.0.0.1 port=5 dbname=hv");
  EXPECT_EQ(c.postgresConnections, 3);
  std::string error;
  EXPECT_FALSE(openStore(c, error));  // nothing listens on port 5
  EXPECT_NE(error.find("PostgreSQL"), std::string::npos) << error;
  hv::fs::removeAll(dir);
}

// Runs SQL on a database file of its own connection.
bool sqliteExec(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  bool ok = sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
            sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  return ok;
}

TEST(SqliteSchema, FileFromBeforeTheVersionTableIsKeptAndANewerOneIsRefused) {
  auto dir = *hv::fs::createTempDirectory();
  std::string path = dir + "/service.db";
  ASSERT_TRUE(sqliteExec(path,
                         "CREATE TABLE accounts (phone TEXT PRIMARY KEY, key BLOB NOT NULL);"
                         "INSERT INTO accounts VALUES ('13800138000', x'0102030405060708')"));
  std::string error;
  auto store = Store::open(path, error);
  ASSERT_TRUE(store) << error;
  EXPECT_EQ(store->accounts(), (std::vector<std::string>{"13800138000"}));
  EXPECT_TRUE(store->addAccount("1", "a"));
  store.reset();
  store = Store::open(path, error);  // the second open finds version 1 and changes nothing
  ASSERT_TRUE(store) << error;
  EXPECT_EQ(store->accounts().size(), 2u);
  store.reset();

  ASSERT_TRUE(sqliteExec(path, "UPDATE schema_version SET version = 99"));
  EXPECT_FALSE(Store::open(path, error));
  EXPECT_NE(error.find("newer"), std::string::npos) << error;
  hv::fs::removeAll(dir);
}

}  // namespace
