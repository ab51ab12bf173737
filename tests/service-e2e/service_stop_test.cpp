// handvane-service as a program: SIGTERM with idle connections and an upload in flight ends the
// process at once, after the upload was stored and answered.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>

#include "service-server/server.h"
#include "service-server/store.h"
#include "service-server/tests/raw_client.h"
#include "service/protocol/packet.h"
#include "service/protocol/protocol.h"
#include "tests/service-e2e/peers.h"

namespace {

using hv::service::probe::Bytes;
using hv::service::probe::RawClient;
using namespace std::chrono;

constexpr char kUser[] = "13800138000";
constexpr char kPassword[] = "s3cret";

// GCC 12 reports false array-bounds and overflow faults in the vector copies below once the
// function is inlined next to a thread lambda.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
#pragma GCC diagnostic ignored "-Wstringop-overflow"
Bytes textPacket(const std::string& text) {
  hv::MessageHeader h(1);
  h.setServiceCode("SMS");
  h.setContentClass("TEXTG");
  h.setRecipient(0, "13900000000");
  h.setSender(kUser);
  h.setContentKind("sms_text");
  Bytes p;
  p.reserve(hv::svc::headerPartSize(1) + 6 + text.size());
  p.insert(p.end(), h.bytes().begin(), h.bytes().begin() + hv::svc::headerPartSize(1));
  hv::WireWriter(p).u32(uint32_t(2 + text.size()));
  p.push_back(1);
  p.push_back(uint8_t(text.size()));
  for (char ch : text)
    p.push_back(uint8_t(ch));  // (insert() trips a GCC 12 array-bounds false alarm)
  return p;
}
#pragma GCC diagnostic pop

TEST(ServiceProgram, SigtermEndsAtOnceAndFinishesTheUploadInFlight) {
  // Deadlines far longer than the test may take: only the stop can end the idle connections.
  hv::e2e::LocalService service("ConnectionTimeoutMs=60000\r\nFirstBytesTimeoutMs=60000\r\n");
  ASSERT_EQ(service.command({"add-account", kUser, kPassword}), 0);
  ASSERT_TRUE(service.start());
  std::vector<std::unique_ptr<RawClient>> idle;
  for (int port : {service.region, service.auth, service.send, service.send, service.auth})
    idle.push_back(std::make_unique<RawClient>(port));

  RawClient uploader(service.send);
  uploader.send(hv::svc::ticketQuery(kUser));
  Bytes reply = uploader.recv(44);
  ASSERT_EQ(reply.size(), 44u);
  auto ticket = hv::svc::openTicketBlob(std::span(reply).subspan(16), kPassword);
  ASSERT_TRUE(ticket);
  Bytes packet = textPacket("sent while stopping");
  Bytes upload = hv::svc::uploadHead(*ticket, packet.size());
  upload.insert(upload.end(), packet.begin(), packet.end());
  uploader.send(Bytes(upload.begin(), upload.begin() + 60));

  auto start = steady_clock::now();
  service.signal(15);
  for (auto& c : idle) {
    Bytes closing = c->recv(12);
    ASSERT_EQ(closing.size(), 12u);
    EXPECT_EQ(closing[11], int(hv::service::Status::ShuttingDown));
    EXPECT_TRUE(c->closedByPeer());
  }
  uploader.send(Bytes(upload.begin() + 60, upload.end()));
  EXPECT_EQ(uploader.recv(12), hv::svc::statusReply(4, 0));
  EXPECT_EQ(service.waitForExit(seconds(20)), 0);
  EXPECT_LT(steady_clock::now() - start, seconds(20));

  std::string error;
  auto store = hv::service::Store::open(service.databasePath(), error);
  ASSERT_TRUE(store) << error;
  auto stored = store->messages();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].texts, std::vector<std::string>{"sent while stopping"});
}

// Replies are sent only once the upload's row is committed: whatever was answered "accepted"
// before the program is killed outright is in the database afterwards. Concurrent senders make
// the uploads share transactions.
TEST(ServiceProgram, EveryAcceptedUploadSurvivesKillMinusNine) {
  hv::e2e::LocalService service("MaxConnectionsPerPeer=64\r\n");
  ASSERT_EQ(service.command({"add-account", kUser, kPassword}), 0);
  ASSERT_TRUE(service.start());
  std::mutex m;
  std::vector<std::string> accepted;
  std::atomic<bool> killed{false};
  std::atomic<int> replies{0};
  std::vector<std::thread> senders;
  for (int t = 0; t < 16; ++t)
    senders.emplace_back([&, t] {
      for (int i = 0; i < 400 && !killed; ++i) {
        const std::string text = "m" + std::to_string(t) + "-" + std::to_string(i);
        RawClient c(service.send);
        if (!c.send(hv::svc::ticketQuery(kUser))) return;
        Bytes reply = c.recv(44);
        if (reply.size() != 44) return;
        auto ticket = hv::svc::openTicketBlob(std::span(reply).subspan(16), kPassword);
        if (!ticket) return;
        Bytes packet = textPacket(text);
        Bytes upload = hv::svc::uploadHead(*ticket, packet.size());
        upload.insert(upload.end(), packet.begin(), packet.end());
        if (!c.send(upload)) return;
        if (c.recv(12) != hv::svc::statusReply(4, 0)) return;
        std::lock_guard lock(m);
        accepted.push_back(text);
        ++replies;
      }
    });
  // Killed in the middle of the traffic, when some hundred uploads were answered.
  ASSERT_TRUE(peer::waitUntil([&] { return replies.load() >= 300; }, 60000));
  service.signal(9);
  killed = true;
  ASSERT_TRUE(service.waitForExit(seconds(20)));
  for (auto& s : senders) s.join();

  std::string error;
  auto store = hv::service::Store::open(service.databasePath(), error);
  ASSERT_TRUE(store) << error;
  std::set<std::string> stored;
  for (const auto& msg : store->messages())
    if (!msg.texts.empty()) stored.insert(msg.texts[0]);
  std::lock_guard lock(m);
  ASSERT_GE(accepted.size(), 300u);
  for (const auto& text : accepted) EXPECT_TRUE(stored.count(text)) << text << " was lost";
}

}  // namespace
