// handvane-service as a program: SIGTERM with idle connections and an upload in flight ends the
// process at once, after the upload was stored and answered.
#include <gtest/gtest.h>

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

Bytes textPacket(const std::string& text) {
  hv::MessageHeader h(1);
  h.setServiceCode("SMS");
  h.setContentClass("TEXTG");
  h.setRecipient(0, "13900000000");
  h.setSender(kUser);
  h.setContentKind("sms_text");
  Bytes p(h.bytes().begin(), h.bytes().begin() + hv::svc::headerPartSize(1));
  hv::WireWriter(p).u32(uint32_t(2 + text.size()));
  p.push_back(1);
  p.push_back(uint8_t(text.size()));
  p.insert(p.end(), text.begin(), text.end());
  return p;
}

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

}  // namespace
