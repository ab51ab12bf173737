// Requests and replies against byte layouts written out by hand.
#include "service/protocol/protocol.h"

#include <gtest/gtest.h>

#include "cipher/session_cipher.h"

namespace {

using namespace hv::svc;
using Bytes = std::vector<uint8_t>;

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
Bytes text(std::string_view s, size_t width) {
  Bytes out(s.begin(), s.end());
  out.resize(width, 0);
  return out;
}
Bytes block(const hv::SessionCipher::Block& b) {
  return Bytes(b.begin(), b.end());
}

TEST(Requests, RegionQueryIs28BytesWithThePaddedUserId) {
  auto q = regionQuery("13800138000");
  EXPECT_EQ(q, concat({{0, 0, 0, 28, 0, 0, 0, 1}, text("13800138000", 20)}));
  EXPECT_EQ(ticketQuery("13800138000"),
            concat({{0, 0, 0, 28, 0, 0, 0, 3}, text("13800138000", 20)}));
}

TEST(Requests, AuthenticateWithElevenDigitIdCarriesTwentyByteBlob) {
  auto r = authenticateRequest("13800138000", "pw");
  hv::SessionCipher c("pw");
  Bytes expected = concat({{0, 0, 0, 52, 0, 0, 0, 2},
                           text("13800138000", 20),
                           {0, 0, 0, 20},
                           {0, 0, 0, 11},
                           block(c.encryptBlock({'1', '3', '8', '0', '0', '1', '3', '8'})),
                           block(c.encryptBlock({'0', '0', '0', 0, 0, 0, 0, 0}))});
  EXPECT_EQ(r, expected);
}

TEST(Requests, EightCharacterIdGivesTwelveByteBlobWithoutPaddingBlock) {
  auto blob = credentialBlob("12345678", "pw");
  hv::SessionCipher c("pw");
  EXPECT_EQ(blob, concat({{0, 0, 0, 8},
                          block(c.encryptBlock({'1', '2', '3', '4', '5', '6', '7', '8'}))}));
  EXPECT_EQ(authenticateRequest("12345678", "pw").size(), 44u);
}

TEST(Requests, UploadHeadCountsPacketAndTicket) {
  std::array<uint8_t, 20> ticket{};
  for (int i = 0; i < 20; ++i) ticket[i] = uint8_t(i + 1);
  auto head = uploadHead(ticket, 1000);
  Bytes expected = {0, 0, 0x04, 0x04, 0, 0, 0, 4};  // 1028
  expected.insert(expected.end(), ticket.begin(), ticket.end());
  EXPECT_EQ(head, expected);
}

TEST(Replies, RegionReplyFieldsAtTheirOffsets) {
  // length 92, command 0x80000001, status 0, then the six fields.
  Bytes reply = concat({{0, 0, 0, 92, 0x80, 0, 0, 1, 0, 0, 0, 0},
                        text("auth.example", 16),
                        text("7002", 8),
                        text("10.0.0.9", 16),
                        text("7003x", 8),
                        text("spare", 24),
                        text("99", 8)});
  ASSERT_EQ(reply.size(), 92u);
  auto info = parseRegionInfo(reply);
  EXPECT_EQ(info.auth, (Endpoint{"auth.example", 7002}));
  EXPECT_EQ(info.send, (Endpoint{"10.0.0.9", 7003}));
  EXPECT_EQ(info.spare, (Endpoint{"spare", 99}));
  EXPECT_EQ(regionReply(0, info).size(), 92u);
  auto rebuilt = regionReply(0, {{"auth.example", 7002}, {"10.0.0.9", 7003}, {"spare", 99}});
  EXPECT_EQ(parseRegionInfo(rebuilt), info);
  auto head = parseReplyHead(std::span(reply).subspan(4));
  ASSERT_TRUE(head);
  EXPECT_EQ(head->command, 0x80000001u);
  EXPECT_EQ(head->status, 0);
}

TEST(Replies, ShortRegionReplyLeavesMissingFieldsEmpty) {
  Bytes reply = concat({{0, 0, 0, 20, 0x80, 0, 0, 1, 0, 0, 0, 0}, text("host", 8)});
  auto info = parseRegionInfo(reply);
  EXPECT_EQ(info.auth.host, "host");
  EXPECT_EQ(info.auth.port, 0);
  EXPECT_TRUE(info.send.host.empty());
}

TEST(Replies, PortsAreLeadingDecimalDigits) {
  EXPECT_EQ(parsePort("8080"), 8080);
  EXPECT_EQ(parsePort("12ab"), 12);
  EXPECT_EQ(parsePort("x12"), 0);
  EXPECT_EQ(parsePort(""), 0);
  EXPECT_EQ(parsePort("99999999999999999999"), 999999999);
}

TEST(Replies, StatusReplyAndNegativeStatus) {
  EXPECT_EQ(statusReply(kMessageUpload, 3), (Bytes{0, 0, 0, 12, 0x80, 0, 0, 4, 0, 0, 0, 3}));
  auto head = parseReplyHead(Bytes{0x80, 0, 0, 2, 0xFF, 0xFF, 0xFF, 0xFE});
  ASSERT_TRUE(head);
  EXPECT_EQ(head->status, -2);
  EXPECT_FALSE(parseReplyHead(Bytes{0x80, 0, 0, 2, 0}));
}

TEST(Tickets, BlobOfTwentyBytesDeciphersToTheTicket) {
  Bytes ticket;
  for (int i = 0; i < 20; ++i) ticket.push_back(uint8_t(0xA0 + i));
  auto reply = ticketReply(0, ticket, hv::SessionCipher("pw"));
  // length, command, status, B = 28, N' = 20, 24 enciphered bytes
  ASSERT_EQ(reply.size(), 44u);
  EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 20),
            (Bytes{0, 0, 0, 44, 0x80, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 28, 0, 0, 0, 20}));
  hv::SessionCipher c("pw");
  EXPECT_EQ(Bytes(reply.begin() + 20, reply.begin() + 28),
            block(c.encryptBlock({0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7})));
  auto opened = openTicketBlob(std::span(reply).subspan(16), "pw");
  ASSERT_TRUE(opened);
  EXPECT_TRUE(std::equal(opened->begin(), opened->end(), ticket.begin()));
}

TEST(Tickets, ShortTicketIsZeroFilledAndBadBlobsRefused) {
  hv::SessionCipher c("pw");
  Bytes blob = concat({{0, 0, 0, 3}, block(c.encryptBlock({7, 8, 9, 10, 11, 12, 13, 14}))});
  auto opened = openTicketBlob(blob, "pw");
  ASSERT_TRUE(opened);
  std::array<uint8_t, 20> expected{7, 8, 9};
  EXPECT_EQ(*opened, expected);
  EXPECT_FALSE(openTicketBlob(Bytes{0, 0, 0, 0}, "pw"));  // B = 4
  EXPECT_FALSE(openTicketBlob(Bytes(4 + 7, 0), "pw"));    // not a multiple of 8
  EXPECT_TRUE(openTicketBlob(Bytes(4 + 8, 0), "pw"));
}

TEST(Credentials, ServiceRecoversTheUserIdOnlyWithThePassword) {
  auto blob = credentialBlob("13800138000", "s3cret");
  EXPECT_EQ(openCredentialBlob(blob, hv::SessionCipher("s3cret")), "13800138000");
  EXPECT_NE(openCredentialBlob(blob, hv::SessionCipher("wrong")), "13800138000");
  Bytes truncated(blob.begin(), blob.end() - 8);
  EXPECT_FALSE(openCredentialBlob(truncated, hv::SessionCipher("s3cret")));
  Bytes tooLong = {0, 0, 0, 20};
  tooLong.resize(4 + 24, 0);
  EXPECT_FALSE(openCredentialBlob(tooLong, hv::SessionCipher("s3cret")));
}

}  // namespace
