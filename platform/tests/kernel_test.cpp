#include "platform/kernel.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "platform/fs.h"
#include "platform/tests/test_dir.h"

namespace {

using namespace std::chrono_literals;

TEST(Tick, CountsMillisecondsForward) {
  uint32_t a = hv::GetTickCount();
  std::this_thread::sleep_for(30ms);
  uint32_t elapsed = hv::GetTickCount() - a;  // unsigned difference survives the wrap
  EXPECT_GE(elapsed, 29u);
  EXPECT_LT(elapsed, 5000u);
}

class Semaphore : public ::testing::Test {
 protected:
  std::string name = "test-sem-" + std::to_string(getpid()) + "-" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name();
  void TearDown() override { hv::NamedSemaphore::unlink(name); }
};

TEST_F(Semaphore, CountsUnitsAndEnforcesTheMaximum) {
  auto s = hv::NamedSemaphore::open(name, 2, 2);
  ASSERT_TRUE(s);
  EXPECT_TRUE(s->wait(0ms));
  EXPECT_TRUE(s->wait(0ms));
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(s->wait(50ms));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 45ms);
  EXPECT_FALSE(s->release(3));  // would pass the maximum of 2
  EXPECT_TRUE(s->release(2));
  EXPECT_EQ(s->value(), 2);
  EXPECT_FALSE(s->release(1));
}

TEST_F(Semaphore, IsSharedBetweenProcesses) {
  auto s = hv::NamedSemaphore::open(name, 0, 10);
  ASSERT_TRUE(s);
  pid_t child = fork();
  if (child == 0) {
    auto c = hv::NamedSemaphore::open(name, 0, 10);
    _exit(c && c->release(1) ? 0 : 1);
  }
  EXPECT_TRUE(s->wait(5000ms));
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(RangeLocks, HeldRangeFailsAtOnceForAnotherDescriptorAndProcess) {
  TestDir dir;
  std::string f = dir / "locked.dat";
  ASSERT_TRUE(hv::fs::writeFileAtomic(f, std::string(512, 'x')));
  int a = hv::fs::open(f, O_RDWR), b = hv::fs::open(f, O_RDWR);
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  ASSERT_TRUE(hv::tryLockRange(a, 0, 256));
  EXPECT_FALSE(hv::tryLockRange(b, 100, 10));  // same process, other descriptor
  EXPECT_TRUE(hv::tryLockRange(b, 256, 256));  // a range next to it is free

  pid_t child = fork();
  if (child == 0) {
    int c = hv::fs::open(f, O_RDWR);
    bool headerBlocked = !hv::tryLockRange(c, 0, 1);
    bool secondBlocked = !hv::tryLockRange(c, 300, 1);  // b holds 256..511
    _exit(headerBlocked && secondBlocked ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);

  EXPECT_TRUE(hv::unlockRange(a, 0, 256));
  EXPECT_TRUE(hv::tryLockRange(b, 0, 256));
  EXPECT_FALSE(hv::tryLockRange(-1, 0, 1));
  close(a);
  close(b);
}

class Interpreter : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* c = getenv("ComSpec")) saved_ = c;
  }
  void TearDown() override {
    if (saved_)
      setenv("ComSpec", saved_->c_str(), 1);
    else
      unsetenv("ComSpec");
  }
  std::optional<std::string> saved_;
};

TEST_F(Interpreter, ComSpecWhenSetElseShell) {
  unsetenv("ComSpec");
  EXPECT_EQ(hv::commandInterpreter(), "/bin/sh");
  setenv("ComSpec", "/bin/bash", 1);
  EXPECT_EQ(hv::commandInterpreter(), "/bin/bash");
}

TEST_F(Interpreter, ShellCommandRunsInItsFolderAndReportsItsExitCode) {
  unsetenv("ComSpec");
  TestDir dir;
  hv::Process::Options o;
  o.workingDirectory = dir.path();
  auto p = hv::Process::startShell("echo made > out.txt; exit 3", o);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->wait(5000ms), 3);
  EXPECT_EQ(hv::fs::readFile(dir / "out.txt"), "made\n");
}

TEST(Processes, HaveNoTerminalInputAndCanBeStoppedAndTimedOut) {
  TestDir dir;
  hv::Process::Options o;
  o.outputFile = dir / "log.txt";
  // Reading standard input gets end of file at once: the child is not attached to ours.
  auto p = hv::Process::start({"/bin/sh", "-c", "cat; echo done"}, o);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->wait(5000ms), 0);
  EXPECT_EQ(hv::fs::readFile(dir / "log.txt"), "done\n");

  auto sleeper = hv::Process::start({"sleep", "30"});
  ASSERT_TRUE(sleeper);
  EXPECT_EQ(sleeper->wait(50ms), std::nullopt);
  sleeper->kill(9);
  EXPECT_EQ(sleeper->wait(5000ms), 128 + 9);

  EXPECT_FALSE(hv::Process::start({"/nonexistent/program"}));
}

TEST(Processes, ChildrenNobodyWaitsForAreReaped) {
  pid_t pid;
  {
    auto p = hv::Process::start({"/bin/true"});
    ASSERT_TRUE(p);
    pid = p->pid();
  }  // dropped without wait()
  // The reaper runs on a thread of its own: wait for it, within 30 s.
  const auto end = std::chrono::steady_clock::now() + 30s;
  bool gone = false;
  while (!(gone = kill(pid, 0) != 0) && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(10ms);  // a zombie would still answer
  EXPECT_TRUE(gone);
}

}  // namespace
