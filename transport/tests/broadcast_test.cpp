// Broadcast and multicast never touch the machine's own interfaces: each test runs on a thread
// that moves into a network namespace of its own (unshare CLONE_NEWNET affects only the calling
// thread) holding a veth pair, and the namespace disappears with the thread.
#include <gtest/gtest.h>
#include <sched.h>

#include "transport/netkit.h"
#include "transport/tests/peer.h"

namespace {

// Runs body inside a fresh network namespace with veth v0 (10.99.0.1/24) and v1 (10.99.0.2/24)
// up, routes for broadcast and multicast on v0. Returns "" or why the namespace could not be made.
std::string inNamespace(const std::function<void()>& body) {
  std::string why;
  std::thread([&] {
    if (unshare(CLONE_NEWNET) != 0) {
      why = std::string("unshare(CLONE_NEWNET) failed: ") + std::strerror(errno);
      return;
    }
    // Commands started from this thread inherit its namespace.
    const char* setup =
        "ip link set lo up && ip link add v0 type veth peer name v1 && "
        "ip addr add 10.99.0.1/24 broadcast + dev v0 && "
        "ip addr add 10.99.0.2/24 broadcast + dev v1 && ip link set v0 up && ip link set v1 up && "
        "ip route add default dev v0 && ip route add 224.0.0.0/4 dev v0";
    if (std::system((std::string(setup) + " >/dev/null 2>&1").c_str()) != 0) {
      why = "could not set up veth interfaces inside the namespace (ip link add ... type veth)";
      return;
    }
    body();
  }).join();
  return why;
}

TEST(Broadcast, LimitedBroadcastReachesTheReceiverOnTheRememberedPort) {
  uint16_t port = 0;
  int sent = 0, received = 0;
  std::string payload;
  std::string why = inNamespace([&] {
    CBroadcastSocket b;
    ASSERT_EQ(b.CreateBroadcastSocket(0), 1);
    port = peer::boundPort(b.gethandle());
    sent = b.SendBroadcastData("who is there", 12, 0);  // port 0: the port given at creation
    char buf[64];
    uint32_t from = 0;
    received = b.RecvData(2000, buf, sizeof buf, &from);
    if (received > 0) payload.assign(buf, size_t(received));
    EXPECT_EQ(from >> 8, 0x0A6300u) << "sender 10.99.0.x";
    EXPECT_EQ(b.CloseBroadcastSocket(), 1);
  });
  if (!why.empty()) GTEST_SKIP() << why;
  EXPECT_NE(port, 0);
  EXPECT_EQ(sent, 12);
  EXPECT_EQ(received, 12);
  EXPECT_EQ(payload, "who is there");
}

TEST(Broadcast, MulticastArrivesOnlyWhileTheGroupIsJoined) {
  std::string why = inNamespace([] {
    CBroadcastSocket m;
    ASSERT_EQ(m.CreateBroadcastSocket(0), 1);
    const uint32_t group = inet_addr("239.1.2.3");
    ASSERT_NE(m.JoinMulticastGroup(group), 0);
    m.SetDefaultGroup(group);
    EXPECT_EQ(m.SendMulticastData("to the group", 12, 0, 0), 12);
    char buf[64];
    EXPECT_EQ(m.RecvData(2000, buf, sizeof buf), 12);
    EXPECT_EQ(std::string(buf, 12), "to the group");

    ASSERT_NE(m.LeaveMulticastGroup(group), 0);
    EXPECT_EQ(m.SendMulticastData("after leaving", 13, group, 0), 13);
    EXPECT_EQ(m.RecvData(300, buf, sizeof buf), -1);
    EXPECT_EQ(m.istimeout(), 1);
  });
  if (!why.empty()) GTEST_SKIP() << why;
}

TEST(Broadcast, MulticastWithoutAnyGroupIsRefused) {
  CBroadcastSocket m;
  ASSERT_EQ(m.CreateBroadcastSocket(0), 1);
  EXPECT_EQ(m.SendMulticastData("x", 1, 0, 0), -1);
  EXPECT_EQ(m.errorno(), NETKIT_EDESTADDRREQ);
}

TEST(Sniffer, SeesThePacketsOfTheInterface) {
  std::string why = inNamespace([] {
    CNetkit sniffer;
    ASSERT_GE(sniffer.createsniffer(inet_addr("127.0.0.1")), 0) << sniffer.errorno();
    CNetkit udp;
    ASSERT_GE(udp.createudp(), 0);
    udp.sendto("127.0.0.1", 9, "sniffed", 7, 1000);
    // The namespace's own loopback carries nothing else: look for IPv4 (version 4), UDP
    // (protocol 17) to 127.0.0.1 port 9 with the payload after the 20 + 8 header bytes.
    bool seen = false;
    for (int i = 0; i < 20 && !seen; ++i) {
      uint8_t pkt[1500];
      int n = sniffer.recv(pkt, sizeof pkt, 1000);
      if (n < 28) break;
      seen = (pkt[0] >> 4) == 4 && pkt[9] == 17 &&
             std::memcmp(pkt + 16, "\x7f\x00\x00\x01", 4) == 0 && pkt[22] == 0 && pkt[23] == 9 &&
             std::memcmp(pkt + 28, "sniffed", 7) == 0;
    }
    EXPECT_TRUE(seen);
    EXPECT_EQ(CNetkit().createsniffer(inet_addr("10.42.42.42")), -1);
  });
  if (!why.empty()) GTEST_SKIP() << why;
}

}  // namespace
