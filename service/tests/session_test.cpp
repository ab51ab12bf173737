// The session's requests against a scripted server on loopback.
#include "service/session.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "cipher/session_cipher.h"
#include "service/tests/fake_server.h"

namespace {

using namespace hv::svc;
using namespace hv::svc::testing;

Bytes regionReplyBytes(int authPort, int sendPort) {
  return regionReply(0, {{"127.0.0.1", authPort}, {"127.0.0.1", sendPort}, {"spare", 1}});
}

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    name_ = "svc-session-test-" + std::to_string(getpid());
    session_ = std::make_unique<ServiceSession>(name_);
  }
  void TearDown() override {
    session_.reset();
    hv::NamedSemaphore::unlink(name_);
  }
  // A region server that answers with `reply` and records what it was asked.
  std::unique_ptr<FakeServer> regionServer(Bytes reply) {
    return std::make_unique<FakeServer>([this, reply](int fd) {
      std::lock_guard lock(mutex_);
      requests_.push_back(readRequest(fd));
      writeBytes(fd, reply);
    });
  }
  std::unique_ptr<FakeServer> authServer(int32_t status) {
    return std::make_unique<FakeServer>([this, status](int fd) {
      std::lock_guard lock(mutex_);
      requests_.push_back(readRequest(fd));
      writeBytes(fd, statusReply(kAuthenticate, status));
    });
  }
  std::vector<Bytes> requests() {
    std::lock_guard lock(mutex_);
    return requests_;
  }

  std::string name_;
  std::unique_ptr<ServiceSession> session_;
  std::mutex mutex_;
  std::vector<Bytes> requests_;
};

TEST_F(SessionTest, FullSequenceReachesAuthenticatedWithTheRequestsByteForByte) {
  auto auth = authServer(0);
  auto region = regionServer(regionReplyBytes(auth->port(), 4242));
  EXPECT_EQ(session_->state(), SessionState::Unconfigured);
  ASSERT_EQ(session_->initialize({}), 0);
  EXPECT_EQ(session_->state(), SessionState::Initialized);
  ASSERT_EQ(session_->regionRecognize("13800138000", "127.0.0.1", region->port()), 0);
  EXPECT_EQ(session_->state(), SessionState::RegionKnown);
  EXPECT_EQ(session_->region().send, (Endpoint{"127.0.0.1", 4242}));
  ASSERT_EQ(session_->authenticate("13800138000", "s3cret"), 0);
  EXPECT_EQ(session_->state(), SessionState::Authenticated);

  auto seen = requests();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], regionQuery("13800138000"));
  // 52 bytes: head, n = 20, L = 11 and two enciphered blocks.
  ASSERT_EQ(seen[1].size(), 52u);
  EXPECT_EQ(be32(seen[1], 28), 20u);
  EXPECT_EQ(be32(seen[1], 32), 11u);
  hv::SessionCipher c("s3cret");
  auto first = c.decryptBlock({seen[1][36], seen[1][37], seen[1][38], seen[1][39], seen[1][40],
                               seen[1][41], seen[1][42], seen[1][43]});
  EXPECT_EQ(std::string(first.begin(), first.end()), "13800138");

  auto creds = session_->sendCredentials();
  ASSERT_TRUE(creds);
  EXPECT_EQ(creds->userId, "13800138000");
  EXPECT_EQ(creds->password, "s3cret");

  EXPECT_EQ(session_->logout(), 0);
  EXPECT_EQ(session_->state(), SessionState::Initialized);
  EXPECT_FALSE(session_->sendCredentials());
  EXPECT_EQ(session_->region().send.port, 4242);  // endpoints are kept
}

TEST_F(SessionTest, WrongOrderCallsFailWithoutNetwork) {
  auto region = regionServer(regionReplyBytes(1, 2));
  EXPECT_EQ(session_->regionRecognize("1", "127.0.0.1", region->port()), -1);
  EXPECT_EQ(lastRequestFailure(), RequestFailure::WrongState);
  EXPECT_EQ(session_->authenticate("1", "p"), -1);
  EXPECT_EQ(session_->logout(), 0);
  EXPECT_EQ(session_->state(), SessionState::Unconfigured);
  ASSERT_EQ(session_->initialize({}), 0);
  ASSERT_EQ(session_->regionRecognize("1", "127.0.0.1", region->port()), 0);
  EXPECT_EQ(session_->regionRecognize("1", "127.0.0.1", region->port()), -1);
  EXPECT_EQ(region->connections(), 1);
  // A second initialize only replaces the proxy settings.
  EXPECT_EQ(session_->initialize({"proxy", 1080, "", "", 2}), 0);
  EXPECT_EQ(session_->state(), SessionState::RegionKnown);
  EXPECT_EQ(session_->proxy().host, "proxy");
  session_->logout();
  EXPECT_EQ(session_->state(), SessionState::Initialized);
}

TEST_F(SessionTest, RegionRepliesOfLengthFourOrOver260AreLocalFailures) {
  ASSERT_EQ(session_->initialize({}), 0);
  auto empty = regionServer(Bytes{0, 0, 0, 4});
  EXPECT_EQ(session_->regionRecognize("1", "127.0.0.1", empty->port()), -1);
  Bytes big = regionReplyBytes(1, 2);
  big.resize(261, 0);
  big[3] = 0x05;  // 261
  big[2] = 0x01;
  auto large = regionServer(big);
  EXPECT_EQ(session_->regionRecognize("1", "127.0.0.1", large->port()), -1);
  EXPECT_EQ(lastRequestFailure(), RequestFailure::BadReply);
  Bytes exact = regionReplyBytes(1, 2);
  exact.resize(260, 0);
  exact[2] = 0x01;
  exact[3] = 0x04;  // 260: the largest accepted
  auto edge = regionServer(exact);
  EXPECT_EQ(session_->regionRecognize("1", "127.0.0.1", edge->port()), 0);
}

TEST_F(SessionTest, ServerStatusPassesThroughAndLeavesTheState) {
  ASSERT_EQ(session_->initialize({}), 0);
  auto region = regionServer(statusReply(kRegionQuery, 7));
  EXPECT_EQ(session_->regionRecognize("1", "127.0.0.1", region->port()), 7);
  EXPECT_EQ(session_->state(), SessionState::Initialized);
  auto wrongCommand = regionServer(statusReply(kAuthenticate, 0));
  EXPECT_EQ(session_->regionRecognize("1", "127.0.0.1", wrongCommand->port()), -1);
}

TEST_F(SessionTest, AuthenticationEdgeCases) {
  auto refusing = authServer(3);
  auto region = regionServer(regionReplyBytes(refusing->port(), 1));
  ASSERT_EQ(session_->initialize({}), 0);
  ASSERT_EQ(session_->regionRecognize("12345678", "127.0.0.1", region->port()), 0);
  EXPECT_EQ(session_->authenticate("12345678", "pw"), 3);
  EXPECT_EQ(session_->state(), SessionState::RegionKnown);
  // An 8-byte id makes a 12-byte blob: a 44-byte request.
  EXPECT_EQ(requests().back().size(), 44u);
  EXPECT_EQ(be32(requests().back(), 28), 12u);
}

TEST_F(SessionTest, AcceptedAuthenticationForAnotherUserIsRefused) {
  auto auth = authServer(0);
  auto region = regionServer(regionReplyBytes(auth->port(), 1));
  ASSERT_EQ(session_->initialize({}), 0);
  ASSERT_EQ(session_->regionRecognize("13800138000", "127.0.0.1", region->port()), 0);
  EXPECT_EQ(session_->authenticate("13800138001", "pw"), -1);
  EXPECT_EQ(lastRequestFailure(), RequestFailure::UserMismatch);
  EXPECT_EQ(session_->state(), SessionState::RegionKnown);
}

TEST_F(SessionTest, UserIdOver19BytesIsRefused) {
  auto region = regionServer(regionReplyBytes(1, 2));
  ASSERT_EQ(session_->initialize({}), 0);
  EXPECT_EQ(session_->regionRecognize(std::string(20, '1'), "127.0.0.1", region->port()), -1);
  EXPECT_EQ(lastRequestFailure(), RequestFailure::UserIdTooLong);
  EXPECT_EQ(region->connections(), 0);
  EXPECT_EQ(session_->regionRecognize(std::string(19, '1'), "127.0.0.1", region->port()), 0);
}

TEST_F(SessionTest, UnknownProxyTypeMakesEveryRequestFail) {
  auto region = regionServer(regionReplyBytes(1, 2));
  ASSERT_EQ(session_->initialize({"127.0.0.1", region->port(), "", "", 5}), 0);
  EXPECT_EQ(session_->regionRecognize("1", "127.0.0.1", region->port()), -1);
  EXPECT_EQ(lastRequestFailure(), RequestFailure::NoConnection);
  EXPECT_EQ(region->connections(), 0);
}

TEST_F(SessionTest, ServerClosingMidReplyOrSendingGarbage) {
  ASSERT_EQ(session_->initialize({}), 0);
  Bytes cut = regionReplyBytes(1, 2);
  cut.resize(40);
  auto closing = regionServer(cut);
  EXPECT_EQ(session_->regionRecognize("1", "127.0.0.1", closing->port()), -1);
  EXPECT_EQ(lastRequestFailure(), RequestFailure::Transfer);
  auto garbage = regionServer(Bytes(64, 0xEE));
  EXPECT_EQ(session_->regionRecognize("1", "127.0.0.1", garbage->port()), -1);
  EXPECT_EQ(session_->state(), SessionState::Initialized);
}

TEST_F(SessionTest, SlowServerTimesOutAfterFiveSeconds) {
  ASSERT_EQ(session_->initialize({}), 0);
  // The reply's length word, then nothing until the client gives up.
  FakeServer slow([](int fd) {
    readRequest(fd);
    writeBytes(fd, Bytes{0, 0, 0, 92});
    waitForClose(fd);
  });
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(session_->regionRecognize("1", "127.0.0.1", slow.port()), -1);
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(4900));
  EXPECT_LT(took, std::chrono::milliseconds(7500));  // not two time-outs one after the other
}

TEST_F(SessionTest, NoServerListeningIsALocalFailure) {
  ClosedPort closed;
  ASSERT_EQ(session_->initialize({}), 0);
  EXPECT_EQ(session_->regionRecognize("1", "127.0.0.1", closed.port()), -1);
  EXPECT_EQ(lastRequestFailure(), RequestFailure::NoConnection);
}

TEST_F(SessionTest, LogoutDoesNotHangOnUnitsThatAreNeverGivenBack) {
  // A process that ended while holding units (or two drainers each holding part of the count)
  // would keep a logout that waits without limit from ever returning.
  auto stuck = hv::NamedSemaphore::open(name_, 10, 10);
  ASSERT_TRUE(stuck);
  ASSERT_TRUE(stuck->wait(std::chrono::milliseconds(100)));
  ASSERT_TRUE(stuck->wait(std::chrono::milliseconds(100)));
  ASSERT_EQ(session_->initialize({}), 0);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(session_->logout(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
  EXPECT_EQ(session_->state(), SessionState::Initialized);
  EXPECT_EQ(stuck->value(), 8);  // what the logout took it gave back
  stuck->release(2);
}

TEST(RequestFailures, EveryFailureHasItsText) {
  for (auto f :
       {RequestFailure::WrongState, RequestFailure::UserIdTooLong, RequestFailure::NoConnection,
        RequestFailure::Transfer, RequestFailure::BadReply, RequestFailure::UserMismatch})
    EXPECT_STRNE(describe(f), "unknown failure");
}

}  // namespace
