// Handvane as real processes on the offscreen platform: the first start carries out its own
// command line, later starts hand theirs over to it and end once it was carried out, and a start
// after the first one was killed becomes the first instance itself.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "main/tests/launcher_fixture.h"
#include "platform/kernel.h"

namespace hv::launcher {
namespace {

using namespace std::chrono_literals;

class HandoverTest : public testing::HomeFixture {
 protected:
  void SetUp() override {
    HomeFixture::SetUp();
    for (const char* f : {"bg.jpg", "icon.png", "text.png", "image.png", "friends.png"})
      fs::copyFile(std::string(HV_SOURCE_DIR) + "/shipped/SKIN/blue/appicon.png", skins_ + f, true);
    writeSkin("full.skin", testing::kFullSkin);
    runtime_ = home_ + "/runtime";
    ASSERT_TRUE(fs::makeDirectories(runtime_, 0700));
    setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  void TearDown() override {
    if (first_) {
      first_->kill(9);
      first_->wait(10s);
    }
    unsetenv("XDG_RUNTIME_DIR");
    HomeFixture::TearDown();
  }
  static std::vector<std::string> argv(std::vector<std::string> args) {
    args.insert(args.begin(), std::string(HV_SUITE_DIR) + "/Handvane");
    return args;
  }
  // A later start: its exit code (it must end by itself).
  int later(std::vector<std::string> args) {
    auto p = Process::start(argv(std::move(args)));
    if (!p) return -1;
    if (auto code = p->wait(30s)) return *code;
    p->kill(9);  // it did not end: it must not stay behind as a first instance
    p->wait(10s);
    return -2;
  }
  bool waitForCalls(size_t n) {
    for (int i = 0; i < 400; ++i) {
      if (calls().size() >= n) return true;
      std::this_thread::sleep_for(25ms);
    }
    return false;
  }
  std::string runtime_;
  std::optional<Process> first_;
};

TEST_F(HandoverTest, FirstStartCarriesOutItsLineLaterStartsHandTheirsOver) {
  first_ = Process::start(argv({"-f", "text"}));
  ASSERT_TRUE(first_);
  ASSERT_TRUE(waitForCalls(2));  // both entries named "Lumo字"
  EXPECT_EQ(calls(), (std::vector<std::string>{"||", "||"}));

  // Each later start returns only after the first instance launched what it asked for.
  EXPECT_EQ(later({"/tmp/note.txt", "-U:web7"}), 0);
  EXPECT_EQ(calls().size(), 4u);
  EXPECT_EQ(calls().back(), "|/tmp/note.txt|web7");
  EXPECT_EQ(later({}), 0);
  EXPECT_EQ(later({"/tmp/my note.txt"}), 0);  // cut at the blank: launches nothing
  EXPECT_EQ(later({"-f", "image"}), 0);       // a library without DoConvert
  EXPECT_EQ(calls().size(), 4u);
  EXPECT_FALSE(first_->wait(0ms));  // still running
}

TEST_F(HandoverTest, StartAfterAKilledFirstInstanceBecomesTheFirst) {
  // The first instance has carried out its own line once its window is registered.
  first_ = Process::start(argv({"-f", "text"}));
  ASSERT_TRUE(first_);
  ASSERT_TRUE(waitForCalls(2));
  first_->kill(9);
  first_->wait(10s);
  Process::Options o;
  o.outputFile = home_ + "/second.out";
  first_ = Process::start(argv({"-f", "text"}), o);
  ASSERT_TRUE(first_);
  EXPECT_TRUE(waitForCalls(4));
  const auto ended = first_->wait(200ms);  // it is the running instance now, not a later start
  EXPECT_FALSE(ended) << "exit " << ended.value_or(-1) << ": "
                      << fs::readFile(home_ + "/second.out").value_or("");
}

}  // namespace
}  // namespace hv::launcher
