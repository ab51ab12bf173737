#include "platform/messages.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

TEST(Messages, PostFromAnotherThreadRunsOnTheReceiversThread) {
  std::vector<hv::WindowMessage> got;
  std::thread::id ranOn;
  hv::MessageWindow window([&](const hv::WindowMessage& m) {
    got.push_back(m);
    ranOn = std::this_thread::get_id();
  });
  std::thread sender([&] { EXPECT_TRUE(hv::PostMessage(window.id(), 0x401, 7, -3)); });
  sender.join();
  EXPECT_TRUE(got.empty());  // nothing runs until this thread pumps
  hv::pumpMessages();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].message, 0x401u);
  EXPECT_EQ(got[0].wparam, 7u);
  EXPECT_EQ(got[0].lparam, -3);
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(Messages, UnknownAndClosedWindowsDropMessages) {
  EXPECT_FALSE(hv::PostMessage(0, 1, 0, 0));
  int calls = 0;
  hv::WindowId id;
  {
    hv::MessageWindow w([&](const hv::WindowMessage&) { ++calls; });
    id = w.id();
    EXPECT_TRUE(hv::PostMessage(id, 1, 0, 0));
  }  // closed with the message still queued
  hv::pumpMessages();
  EXPECT_EQ(calls, 0);
  EXPECT_FALSE(hv::PostMessage(id, 1, 0, 0));
}

TEST(Messages, WaitingPumpWakesForAMessageAndKeepsOrder) {
  std::vector<intptr_t> got;
  hv::MessageWindow window([&](const hv::WindowMessage& m) { got.push_back(m.lparam); });
  std::thread sender([&] {
    std::this_thread::sleep_for(20ms);
    for (int i = 0; i < 100; ++i) hv::PostMessage(window.id(), 1, 0, i);
  });
  const auto end = std::chrono::steady_clock::now() + 30s;
  while (got.size() < 100 && std::chrono::steady_clock::now() < end) hv::pumpMessagesFor(20ms);
  sender.join();
  ASSERT_EQ(got.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(got[size_t(i)], i);
}

TEST(Messages, ManySendersReachOneReceiver) {
  std::atomic<int> sum{0};
  hv::MessageWindow window([&](const hv::WindowMessage& m) { sum += int(m.lparam); });
  std::vector<std::thread> senders;
  for (int t = 0; t < 8; ++t)
    senders.emplace_back([&] {
      for (int i = 0; i < 250; ++i) hv::PostMessage(window.id(), 1, 0, 1);
    });
  for (auto& s : senders) s.join();
  hv::pumpMessages();
  EXPECT_EQ(sum.load(), 2000);
}

}  // namespace
