// The single-instance channel across real processes (onlyone_probe started with fork and exec),
// and its socket layer on its own. Every test gets a private runtime folder of its own
// (XDG_RUNTIME_DIR, inherited by the probes), so tests never meet each other's channels.
#include "instance/onlyone.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <thread>
#include <vector>

#include "instance/channel.h"
#include "instance/tests/probe_process.h"
#include "platform/fs.h"

namespace hv::onlyone {
namespace {

using namespace std::chrono_literals;
using testing::ProbeProcess;

class RuntimeFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/onlyone-test-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    setenv("XDG_RUNTIME_DIR", root_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("XDG_RUNTIME_DIR");
    fs::removeAll(root_);
  }
  std::string socketPath(const std::string& name) const {
    return root_ + "/handvane/onlyone-" + std::to_string(::getuid()) + "-" + name + ".sock";
  }
  // A file in the test's folder holding the bytes.
  std::string writeBytes(const std::string& file, const std::string& bytes) const {
    const std::string path = root_ + "/" + file;
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    return path;
  }
  std::string readBytes(const std::string& path) const {
    return fs::readFile(path).value_or("<missing " + path + ">");
  }
  // A probe that became the first instance of name and registered a window of that kind, its
  // received bytes going to the test's folder.
  void makeFirst(ProbeProcess& p, const std::string& name, const char* window = "hook") {
    ASSERT_EQ(p.line(), "ready");
    ASSERT_EQ(p.ask("out " + root_), "ok");
    ASSERT_EQ(p.ask("get " + name), "get 0");
    ASSERT_EQ(p.ask(std::string("register ") + window), "registered 0");
  }
  void makeLater(ProbeProcess& p, const std::string& name) {
    ASSERT_EQ(p.line(), "ready");
    ASSERT_EQ(p.ask("get " + name), "get 1");
  }

  std::string root_;
};

std::string sent(int result, Error e) {
  return "sent " + std::to_string(result) + " " + std::to_string(int(e));
}

TEST_F(RuntimeFolder, LaterStartDeliversItsCommandLineAndReturnsAfterItWasCarriedOut) {
  ProbeProcess first, later;
  makeFirst(first, "MyProgramName");
  ASSERT_EQ(first.ask("slow 300"), "ok");
  makeLater(later, "MyProgramName");
  const std::string line = std::string("-f text /home/u/a b.txt") + '\0';
  // The sender's answer comes only after the receiver wrote the bytes to disk (300 ms later).
  EXPECT_EQ(later.ask("send " + writeBytes("line", line)), sent(0, Error::None));
  EXPECT_TRUE(fs::exists(root_ + "/recv-1.bin"));
  EXPECT_EQ(readBytes(root_ + "/recv-1.bin"), line);
  EXPECT_EQ(first.line(), "activate 0");  // brought forward, not restored
  EXPECT_EQ(first.line(), "received 1 24 100");
  // The handle is used up: a second send fails and delivers nothing.
  EXPECT_EQ(later.ask("send " + root_ + "/line"), sent(-1, Error::UnknownHandle));
  EXPECT_FALSE(first.line(300ms).has_value());
}

TEST_F(RuntimeFolder, EmptyCommandLineAsksToShowAndRestore) {
  ProbeProcess first, later;
  makeFirst(first, "MyProgramName");
  makeLater(later, "MyProgramName");
  EXPECT_EQ(later.ask("send " + writeBytes("empty", std::string(1, '\0'))), sent(0, Error::None));
  EXPECT_EQ(first.line(), "activate 1");
  EXPECT_EQ(first.line(), "received 1 1 100");
  // Two bytes starting with NUL are a command line like any other.
  ProbeProcess third;
  makeLater(third, "MyProgramName");
  EXPECT_EQ(third.ask("send " + writeBytes("two", std::string("\0x", 2))), sent(0, Error::None));
  EXPECT_EQ(first.line(), "activate 0");
  EXPECT_EQ(first.line(), "received 2 2 100");
}

TEST_F(RuntimeFolder, PlainWindowHandlerGetsKindLengthAndBytes) {
  ProbeProcess first, later;
  makeFirst(first, "plain", "raw");
  ASSERT_EQ(first.ask("slow 200"), "ok");
  makeLater(later, "plain");
  EXPECT_EQ(later.ask("send " + writeBytes("line", "abc")), sent(0, Error::None));
  EXPECT_TRUE(fs::exists(root_ + "/recv-1.bin"));
  EXPECT_EQ(first.line(), "activate 0");
  EXPECT_EQ(first.line(), "received 1 3 100");
  ProbeProcess nothing;
  makeLater(nothing, "plain");
  EXPECT_EQ(nothing.ask("sendnull"), sent(0, Error::None));
  EXPECT_EQ(first.line(), "activate 0");
  EXPECT_EQ(first.line(), "received 2 0 100");
}

TEST_F(RuntimeFolder, HookThatRunsANestedMessageLoopKeepsTheSenderWaiting) {
  ProbeProcess first, later;
  makeFirst(first, "nested");
  ASSERT_EQ(first.ask("nested 400"), "ok");
  makeLater(later, "nested");
  EXPECT_EQ(later.ask("send " + writeBytes("line", "nested")), sent(0, Error::None));
  EXPECT_EQ(readBytes(root_ + "/recv-1.bin"), "nested");
}

TEST_F(RuntimeFolder, BigCommandLinesOfAnyBytesArriveWhole) {
  ProbeProcess first;
  makeFirst(first, "big");
  std::mt19937 random(20240607);
  for (size_t size : {size_t(1) << 16, size_t(3) << 20}) {
    std::string bytes(size, '\0');
    for (char& c : bytes) c = char(random());
    bytes[0] = '\0';
    bytes[size / 2] = '\xFF';
    ProbeProcess later;
    makeLater(later, "big");
    EXPECT_EQ(later.ask("send " + writeBytes("big", bytes)), sent(0, Error::None));
    EXPECT_EQ(first.line(), "activate 0");
    const std::string n = size == (size_t(1) << 16) ? "1" : "2";
    EXPECT_EQ(first.line(), "received " + n + " " + std::to_string(size) + " 100");
    EXPECT_TRUE(readBytes(root_ + "/recv-" + n + ".bin") == bytes) << "bytes differ, size " << size;
  }
}

TEST_F(RuntimeFolder, ExactlyOneOfSimultaneousStartsBecomesFirst) {
  for (int round = 0; round < 6; ++round) {
    const int count = round == 0 ? 8 : 2;
    std::vector<std::unique_ptr<ProbeProcess>> probes;
    for (int i = 0; i < count; ++i) {
      probes.push_back(std::make_unique<ProbeProcess>());
      ASSERT_EQ(probes.back()->line(), "ready");
    }
    const std::string name = "race" + std::to_string(round);
    for (auto& p : probes) p->send("get " + name);
    int first = 0, later = 0;
    for (auto& p : probes) {
      const auto answer = p->line();
      first += answer == "get 0";
      later += answer == "get 1";
    }
    EXPECT_EQ(first, 1) << "round " << round;
    EXPECT_EQ(later, count - 1) << "round " << round;
  }
}

TEST_F(RuntimeFolder, StaleSocketOfAKilledFirstInstanceIsTakenOver) {
  {
    ProbeProcess dead;
    makeFirst(dead, "stale");
    dead.killWith(SIGKILL);
  }
  struct stat st;
  ASSERT_EQ(::lstat(socketPath("stale").c_str(), &st), 0) << "the killed instance left no socket";
  ASSERT_TRUE(S_ISSOCK(st.st_mode));
  ProbeProcess successor, later;
  makeFirst(successor, "stale");
  makeLater(later, "stale");
  EXPECT_EQ(later.ask("send " + writeBytes("line", "after")), sent(0, Error::None));
  EXPECT_EQ(successor.line(), "activate 0");
  EXPECT_EQ(successor.line(), "received 1 5 100");
}

TEST_F(RuntimeFolder, NormalExitRemovesTheSocket) {
  ProbeProcess first;
  makeFirst(first, "tidy");
  ASSERT_TRUE(fs::exists(socketPath("tidy")));
  first.send("exit");
  EXPECT_EQ(first.waitForExit(), 0);
  EXPECT_FALSE(fs::exists(socketPath("tidy")));
}

TEST_F(RuntimeFolder, HangingFirstInstanceMakesALaterStartGiveUpAndSaySo) {
  ProbeProcess stopped;
  makeFirst(stopped, "hang");
  stopped.stop();  // the whole process, its listening thread included
  ProbeProcess later;
  makeLater(later, "hang");
  ASSERT_EQ(later.ask("timeout 300"), "ok");
  EXPECT_EQ(later.ask("send " + writeBytes("line", "x")), sent(-2, Error::NotAnswering));
  EXPECT_EQ(later.ask("send " + root_ + "/line"), sent(-1, Error::UnknownHandle));
}

TEST_F(RuntimeFolder, BlockedReceivingThreadMakesALaterStartGiveUp) {
  ProbeProcess blocked;
  makeFirst(blocked, "blocked");
  blocked.send("block");  // its main thread no longer runs messages; the listener still accepts
  ProbeProcess later;
  makeLater(later, "blocked");
  ASSERT_EQ(later.ask("timeout 300"), "ok");
  EXPECT_EQ(later.ask("send " + writeBytes("line", "x")), sent(-2, Error::NotAnswering));
}

TEST_F(RuntimeFolder, StartBeforeTheWindowExistsIsHeldUntilItIsRegistered) {
  ProbeProcess first, later;
  ASSERT_EQ(first.line(), "ready");
  ASSERT_EQ(first.ask("out " + root_), "ok");
  ASSERT_EQ(first.ask("get early"), "get 0");
  makeLater(later, "early");
  later.send("send " + writeBytes("line", "early"));
  EXPECT_FALSE(later.line(200ms).has_value()) << "answered before any window was registered";
  ASSERT_EQ(first.ask("register hook"), "registered 0");
  EXPECT_EQ(first.line(), "activate 0");
  EXPECT_EQ(first.line(), "received 1 5 100");
  EXPECT_EQ(later.line(), sent(0, Error::None));
}

TEST_F(RuntimeFolder, WindowThatWentAwayGetsNothingAndTheSenderStillSucceeds) {
  ProbeProcess first, later;
  makeFirst(first, "gone", "raw");
  ASSERT_EQ(first.ask("unregister"), "ok");
  makeLater(later, "gone");
  EXPECT_EQ(later.ask("send " + writeBytes("line", "lost")), sent(0, Error::ReceiverGone));
  EXPECT_FALSE(first.line(300ms).has_value());
}

TEST_F(RuntimeFolder, FirstInstanceThatEndedBeforeTheSendLeavesNothingToDeliverTo) {
  ProbeProcess first, later;
  makeFirst(first, "ended");
  makeLater(later, "ended");
  first.killWith(SIGKILL);
  EXPECT_EQ(later.ask("send " + writeBytes("line", "x")), sent(0, Error::ReceiverGone));
}

TEST_F(RuntimeFolder, HandlesWithinOneProcess) {
  SH_HANDLE first = nullptr, second = nullptr, untouched = reinterpret_cast<SH_HANDLE>(0x5a5a);
  ASSERT_EQ(SH_GetSharedMemoryHandle("same-process", &first), 0);
  ASSERT_EQ(SH_GetSharedMemoryHandle("same-process", &second), 1);
  EXPECT_NE(first, second);
  EXPECT_EQ(SH_SetWindowHandle(second, 0x10001), -1);
  EXPECT_EQ(lastError(), Error::NotFirstInstance);
  EXPECT_EQ(SH_SendData(first, "x", 2), -1);
  EXPECT_EQ(lastError(), Error::FirstInstance);
  EXPECT_EQ(SH_SendData(second, nullptr, 3), -1);
  EXPECT_EQ(lastError(), Error::BadArgument);
  EXPECT_EQ(SH_SendData(second, "x", -1), -1);
  EXPECT_EQ(SH_SendData(second, "x", kMaxDataLength + 1), -1);
  EXPECT_EQ(lastError(), Error::TooLong);
  EXPECT_EQ(SH_GetSharedMemoryHandle(nullptr, &untouched), -1);
  EXPECT_EQ(untouched, reinterpret_cast<SH_HANDLE>(0x5a5a));
  // Refused arguments left the handle open: it still delivers, to this process's own window.
  std::string got;
  bool restored = true;
  CommandLineReceiver receiver(
      ReceiverHooks{[&](bool r) { restored = r; }, [&](std::string_view b) { got = b; }});
  ASSERT_EQ(receiver.attach(first), 0);
  int result = 99;
  std::thread sender([&] { result = SH_SendData(second, "hello", 6); });
  for (int i = 0; i < 400 && got.empty(); ++i) pumpMessagesFor(25ms);
  sender.join();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(got, std::string("hello", 6));
  EXPECT_FALSE(restored);
  // Giving the channel up lets the next call become first again.
  EXPECT_EQ(closeHandle(first), 0);
  EXPECT_EQ(closeHandle(first), -1);
  SH_HANDLE again = nullptr;
  EXPECT_EQ(SH_GetSharedMemoryHandle("same-process", &again), 0);
  closeHandle(again);
}

TEST_F(RuntimeFolder, FolderOpenToOthersIsRefused) {
  ASSERT_TRUE(fs::makeDirectories(root_ + "/handvane", 0755));
  ASSERT_EQ(::chmod((root_ + "/handvane").c_str(), 0755), 0);
  SH_HANDLE h = nullptr;
  EXPECT_EQ(SH_GetSharedMemoryHandle("open-folder", &h), -1);
  EXPECT_EQ(lastError(), Error::NoPrivateFolder);
}

TEST(ChannelNames, NamesBecomeSafeFileNames) {
  EXPECT_EQ(encodeName("MyProgramName"), "MyProgramName");
  EXPECT_EQ(encodeName("a/b c"), "a%2Fb%20c");
  EXPECT_EQ(encodeName(".."), "..");
  EXPECT_EQ(encodeName(std::string("\0\xFF", 2)), "%00%FF");
  // Long names keep a readable start and a digest of the whole name.
  const std::string longName(100, 'x');
  const std::string encoded = encodeName(longName);
  ASSERT_EQ(encoded.size(), 40u + 1 + 16);
  EXPECT_EQ(encoded.substr(0, 41), std::string(40, 'x') + "~");
  EXPECT_EQ(encoded.find_first_not_of("0123456789abcdef", 41), std::string::npos);
  EXPECT_NE(encodeName(longName), encodeName(std::string(99, 'x') + "y"));
}

TEST(ChannelNames, SocketPathMustFitAUnixAddress) {
  auto ok = channelPaths("/run/user/1000/handvane/", "MyProgramName");
  ASSERT_TRUE(std::holds_alternative<ChannelPaths>(ok));
  EXPECT_EQ(
      std::get<ChannelPaths>(ok).socket,
      "/run/user/1000/handvane/onlyone-" + std::to_string(::getuid()) + "-MyProgramName.sock");
  auto tooLong = channelPaths("/" + std::string(90, 'd') + "/", "MyProgramName");
  ASSERT_TRUE(std::holds_alternative<Error>(tooLong));
  EXPECT_EQ(std::get<Error>(tooLong), Error::NameTooLong);
}

TEST(ChannelFrames, HeaderLayout) {
  const uint8_t bytes[] = {'H', 'V', 'O', '1', 100, 0, 0, 0, 0x34, 0x12, 0, 0};
  auto h = parseFrameHeader(bytes);
  ASSERT_TRUE(h.has_value());
  EXPECT_EQ(h->kind, 100u);
  EXPECT_EQ(h->length, 0x1234u);
  EXPECT_EQ(frameHeader(100, 0x1234), std::vector<uint8_t>(bytes, bytes + sizeof bytes));
  uint8_t wrongMagic[12] = {'H', 'V', 'O', '2'};
  EXPECT_FALSE(parseFrameHeader(wrongMagic).has_value());
  uint8_t tooLong[12] = {'H', 'V', 'O', '1', 100, 0, 0, 0, 0x01, 0, 0, 0x04};  // 64 MiB + 1
  EXPECT_FALSE(parseFrameHeader(tooLong).has_value());
}

TEST(ChannelFrames, ShortOrStalledFramesAreDropped) {
  auto frameFrom = [](const std::string& bytes, bool closeAfter) {
    int sv[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    EXPECT_EQ(::write(sv[1], bytes.data(), bytes.size()), ssize_t(bytes.size()));
    if (closeAfter) ::shutdown(sv[1], SHUT_WR);
    auto f = readFrame(sv[0], 100ms);
    ::close(sv[0]);
    ::close(sv[1]);
    return f;
  };
  const std::string head("HVO1\x64\0\0\0\x03\0\0\0", 12);
  auto whole = frameFrom(head + "abc", true);
  ASSERT_TRUE(whole.has_value());
  EXPECT_EQ(std::string(whole->bytes.begin(), whole->bytes.end()), "abc");
  EXPECT_FALSE(frameFrom(head + "ab", true).has_value());   // closed early
  EXPECT_FALSE(frameFrom(head + "ab", false).has_value());  // stalled
  EXPECT_FALSE(frameFrom(head.substr(0, 7), true).has_value());
  EXPECT_FALSE(frameFrom("", true).has_value());  // a probe's empty connection
}

TEST(ChannelErrors, EveryErrorHasAText) {
  for (int e = int(Error::None); e <= int(Error::NotAnswering); ++e) {
    EXPECT_FALSE(errorText(Error(e)).empty()) << e;
  }
}

}  // namespace
}  // namespace hv::onlyone
