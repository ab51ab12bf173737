#pragma once
// The delivery service in-process on loopback with one account, and helpers that build its
// requests by hand.
#include <gtest/gtest.h>

#include "platform/fs.h"
#include "service-server/server.h"
#include "service-server/tests/raw_client.h"
#include "service/protocol/packet.h"

namespace hv::service::probe {

inline Bytes status(uint32_t command, int32_t s) {
  return hv::svc::statusReply(command, s);
}

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = *hv::fs::createTempDirectory();
    std::string error;
    store_ = Store::open(dir_ + "/service.db", error);
    ASSERT_TRUE(store_) << error;
    ASSERT_TRUE(store_->addAccount("13800138000", "s3cret"));
    config_.regionPort = config_.authPort = config_.sendPort = 0;
    config_.dataFolder = dir_;
    config_.connectionTimeoutMs = 1500;
    config_.maxPacketBytes = 4096;
  }
  void startService() {
    service_ = std::make_unique<DeliveryService>(config_, *store_, clock_);
    std::string error;
    ASSERT_TRUE(service_->start(error)) << error;
  }
  void TearDown() override {
    service_.reset();
    store_.reset();
    hv::fs::removeAll(dir_);
  }
  // Ticket query and reply on an open send connection; the ticket.
  std::array<uint8_t, 20> ticketOn(RawClient& c, const std::string& user = "13800138000") {
    c.send(hv::svc::ticketQuery(user));
    Bytes head = c.recv(16);
    EXPECT_EQ(head.size(), 16u);
    if (head.size() != 16) return {};
    EXPECT_EQ(Bytes(head.begin(), head.begin() + 16),
              (Bytes{0, 0, 0, 44, 0x80, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 28}));
    Bytes blob = c.recv(28);
    auto t = hv::svc::openTicketBlob(blob, "s3cret");
    EXPECT_TRUE(t);
    return t.value_or(std::array<uint8_t, 20>{});
  }
  static Bytes textPacket(std::vector<std::string> texts) {
    hv::MessageHeader h(1);
    h.setServiceCode("SMS");
    h.setContentClass("TEXTG");
    h.setRecipient(0, "13900000000");
    h.setSender("13800138000");
    h.setContentKind("sms_text");
    Bytes p(h.bytes().begin(), h.bytes().begin() + hv::svc::headerPartSize(1));
    Bytes section = {uint8_t(texts.size())};
    for (auto& t : texts) {
      section.push_back(uint8_t(t.size()));
      section.insert(section.end(), t.begin(), t.end());
    }
    hv::WireWriter(p).u32(uint32_t(section.size()));
    p.insert(p.end(), section.begin(), section.end());
    return p;
  }
  static Bytes uploadOf(const std::array<uint8_t, 20>& ticket, const Bytes& packet) {
    Bytes b = hv::svc::uploadHead(ticket, packet.size());
    b.insert(b.end(), packet.begin(), packet.end());
    return b;
  }

  std::string dir_;
  std::unique_ptr<Store> store_;
  ServiceConfig config_;
  DeliveryService::Clock clock_;  // empty: the steady clock
  std::unique_ptr<DeliveryService> service_;
};

}  // namespace hv::service::probe
