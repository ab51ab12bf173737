// The update check and the web hand-off watcher with an update client and a hand-off component
// of the test's own, a real cookie store and real hand-off files; waits are counted, not timed.
#include "main/background.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "cookies/channel.h"
#include "platform/fs.h"
#include "platform/gbk.h"
#include "platform/tests/test_dir.h"
#include "ui/core/ui.h"

namespace hv::launcher {
namespace {

using namespace std::chrono_literals;

struct FakeUpdate {
  std::vector<int> checks{2};  // successive answers of checkUpdate; the last one repeats
  int count = 2;
  int getFailures = 1;       // item 0 cannot be read the first time
  int downloadFailures = 1;  // nor downloaded
  bool secondDone = true;    // item 1 is staged already
  int local = 0;
  std::vector<std::string> calls;

  UpdateClient client() {
    return UpdateClient{
        [this] { return calls.push_back("init"), 0; },
        [this] {
          calls.push_back("check");
          const int r = checks.front();
          if (checks.size() > 1) checks.erase(checks.begin());
          return r;
        },
        [this] { return calls.push_back("create"), 0; },
        [this] { return count; },
        [this](int i, void* item) {
          calls.push_back("get" + std::to_string(i));
          if (i == 0 && getFailures-- > 0) return 0;
          if (i == 1 && secondDone) {
            const uint32_t done = 1;
            std::memcpy(static_cast<char*>(item) + 1028, &done, 4);
          }
          return 1;
        },
        [this](void*, void*, void*) {
          calls.push_back("download");
          return downloadFailures-- > 0 ? -1 : 0;
        },
        [this](int i, void*) { return calls.push_back("set" + std::to_string(i)), 0; },
        [this] { return calls.push_back("local"), local; },
        [](char*, int) { return 0; },
    };
  }
};

class UpdateCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    backend = std::make_shared<ui::ScriptedBackend>();
    ui::setBackend(backend);
  }
  void TearDown() override { ui::setBackend(nullptr); }

  UpdateHooks hooks() {
    UpdateHooks h;
    h.sleep = [this](std::chrono::milliseconds d) {
      sleeps.push_back(int(d.count()));
      return int(sleeps.size()) > stopAfterSleeps;
    };
    h.copyInstaller = [this] { return copies++, std::string("/tmp/x/Patchrun"); };
    h.closeMainWindow = [this] { ++closes; };
    h.downloadPage = "http://site.example/download.asp";
    return h;
  }
  // Runs the check on its thread to the end.
  std::string run(FakeUpdate& fake) {
    UpdateCheck check(fake.client(), hooks());
    EXPECT_TRUE(check.start());
    EXPECT_TRUE(check.waitFinished(std::nullopt));
    return check.installer();
  }

  std::shared_ptr<ui::ScriptedBackend> backend;
  std::vector<int> sleeps;
  int stopAfterSleeps = 1 << 30;
  int copies = 0, closes = 0;
};

TEST_F(UpdateCheckTest, DownloadsRetriesAndInstallsWhenTheUserAgrees) {
  FakeUpdate fake;
  backend->answer(ui::Answer::Yes);
  EXPECT_EQ(run(fake), "/tmp/x/Patchrun");
  EXPECT_EQ(fake.calls,
            (std::vector<std::string>{"init", "check", "create", "get0", "get0", "download", "get0",
                                      "download", "set0", "get1", "init", "local"}));
  // 1000 ms first; 100 ms after the failed read, the failed download and the staged item.
  EXPECT_EQ(sleeps, (std::vector<int>{1000, 100, 100, 100}));
  ASSERT_EQ(backend->boxes().size(), 1u);
  EXPECT_EQ(backend->boxTexts()[0], "检查到新的版本，是否现在就进行更新？");
  EXPECT_EQ(backend->boxes()[0].caption, "Handvane");
  EXPECT_EQ(backend->boxes()[0].buttons, ui::Buttons::YesNo);
  EXPECT_EQ(copies, 1);
  EXPECT_EQ(closes, 1);
}

TEST_F(UpdateCheckTest, NoMeansNoInstallerAndNothingWaitingAsksNothing) {
  FakeUpdate fake;
  backend->answer(ui::Answer::No);
  EXPECT_EQ(run(fake), "");
  EXPECT_EQ(copies + closes, 0);

  backend->clearBoxes();
  FakeUpdate nothing;
  nothing.local = 1;
  EXPECT_EQ(run(nothing), "");
  EXPECT_TRUE(backend->boxes().empty());
}

TEST_F(UpdateCheckTest, NoAnswerIsAskedAgainAfter3000StepsAndAStopEndsTheWait) {
  FakeUpdate fake;
  fake.checks = {-1, 0};
  fake.count = 0;
  fake.local = 1;
  run(fake);
  EXPECT_EQ(sleeps.size(), 1u + 3000u);
  EXPECT_EQ(std::count(fake.calls.begin(), fake.calls.end(), "check"), 2);

  sleeps.clear();
  stopAfterSleeps = 10;
  FakeUpdate never;
  never.checks = {-1};
  run(never);
  EXPECT_EQ(sleeps.size(), 11u);
  EXPECT_EQ(std::count(never.calls.begin(), never.calls.end(), "create"), 0);
}

TEST_F(UpdateCheckTest, AVersionForManualDownloadIsOnlyAnnounced) {
  FakeUpdate fake;
  fake.checks = {1};
  run(fake);
  ASSERT_EQ(backend->boxes().size(), 1u);
  EXPECT_EQ(backend->boxTexts()[0],
            "Lumoi客户端有了更新的版本，请登陆http://site.example/download.asp下载更新！");
  EXPECT_EQ(backend->boxes()[0].caption, T("更新"));
  EXPECT_EQ(backend->boxes()[0].icon, ui::Icon::Information);
  EXPECT_EQ(std::count(fake.calls.begin(), fake.calls.end(), "create"), 0);
}

TEST(InstallerCopyTest, CopiesBothFilesOrNothingIsStarted) {
  TestDir dir;
  fs::makeDirectories(dir / "install");
  fs::makeDirectories(dir / "tmp");
  fs::writeFileAtomic(dir / "install/Patchrun", "program", 0755);
  EXPECT_EQ(copyInstaller(dir / "install/", dir / "tmp/"), "");  // no libPatchclient.so
  fs::writeFileAtomic(dir / "install/libPatchclient.so", "library");
  fs::writeFileAtomic(dir / "tmp/Patchrun", "stale");
  EXPECT_EQ(copyInstaller(dir / "install/", dir / "tmp/"), dir / "tmp/Patchrun");
  EXPECT_EQ(fs::readFile(dir / "tmp/Patchrun"), "program");
  EXPECT_EQ(fs::readFile(dir / "tmp/libPatchclient.so"), "library");
  EXPECT_EQ(copyInstaller(dir / "install/", ""), "");
}

TEST(ProgramLibraryTest, AMissingLibraryGivesTheLoadersReason) {
  // The test program's folder holds no suite libraries.
  ASSERT_NE(::access((fs::programDirectory() + "libPatchclient.so").c_str(), F_OK), 0);
  std::string why;
  EXPECT_EQ(openProgramLibrary("libNoSuchPart.so", &why), nullptr);
  EXPECT_NE(why.find("libNoSuchPart.so"), std::string::npos) << why;
  EXPECT_EQ(openProgramLibrary("libNoSuchPart.so"), nullptr);  // no reason asked for
  why.clear();
  EXPECT_NE(openProgramLibrary("libNoconvert.so", &why), nullptr);  // the test module beside it
  EXPECT_EQ(why, "");

  why.clear();
  EXPECT_FALSE(patchclient(&why));
  EXPECT_NE(why.find("libPatchclient.so"), std::string::npos) << why;
}

struct Recorder {
  std::mutex mutex;
  std::vector<std::string> calls;
  HandoffFactory factory() {
    return [this]() -> std::optional<HandoffComponent> {
      return HandoffComponent{[this](const std::string& a, const std::string& id, int mode) {
        std::lock_guard lock(mutex);
        calls.push_back(a + "|" + id + "|" + std::to_string(mode));
        return 0;
      }};
    };
  }
  size_t size() {
    std::lock_guard lock(mutex);
    return calls.size();
  }
};

const std::string kChannel = "http://127.0.0.1:8080/nrlm";

TEST(HandoffWatcherTest, ARequestReachesTheComponentOnceAndStopSaysNo) {
  TestDir dir;
  cookies::CookieStore store(dir / "cookies.txt");
  cookies::CookieChannel channel(store, kChannel, "1.2");
  Recorder recorder;
  HandoffWatcher watcher(channel, recorder.factory(), 1ms);
  ASSERT_TRUE(watcher.startChannel());
  EXPECT_EQ(store.get(kChannel), "INSTALL=Version1.2; START=YES");
  // The identifier first: the watcher takes a request as soon as it sees the address.
  ASSERT_TRUE(store.set(kChannel, "ID", "r1"));
  ASSERT_TRUE(store.set(kChannel, "URL", "www.site.example/pic%2Ejpg"));
  // Bounded by the number of looks, not by time.
  for (int i = 0; i < 100000 && recorder.size() == 0; ++i) std::this_thread::sleep_for(1ms);
  ASSERT_EQ(recorder.size(), 1u);
  EXPECT_EQ(recorder.calls[0], "http://www.site.example/pic.jpg|r1|2");
  for (int i = 0; i < 100000 && !cookies::channelItem(*store.get(kChannel), "URL=").empty(); ++i) {
    std::this_thread::sleep_for(1ms);
  }
  watcher.requestStop();
  ASSERT_TRUE(watcher.waitFinished(std::nullopt));
  EXPECT_EQ(recorder.size(), 1u);
  EXPECT_EQ(store.get(kChannel), "INSTALL=Version1.2; START=NO; ID=r1; URL=");
}

TEST(HandoffWatcherTest, WithoutTheComponentTheThreadEndsAndStartStaysYes) {
  TestDir dir;
  cookies::CookieStore store(dir / "cookies.txt");
  cookies::CookieChannel channel(store, kChannel, "1.2");
  HandoffWatcher watcher(
      channel, [] { return std::optional<HandoffComponent>(); }, 1ms);
  ASSERT_TRUE(watcher.startChannel());
  ASSERT_TRUE(watcher.waitFinished(std::nullopt));  // ended by itself, without a stop
  EXPECT_EQ(store.get(kChannel), "INSTALL=Version1.2; START=YES");

  cookies::CookieStore broken(dir / "cookies.txt/x");
  cookies::CookieChannel unusable(broken, kChannel, "1.2");
  HandoffWatcher refused(unusable, [] { return std::optional<HandoffComponent>(); });
  EXPECT_FALSE(refused.startChannel());
  EXPECT_FALSE(refused.started());
}

TEST(HandoffFileTest, RequestsOfHandoffFilesReachTheComponent) {
  TestDir dir;
  Recorder recorder;
  const auto write = [&](const std::string& name, const std::string& text) {
    fs::writeFileAtomic(dir / name, text);
    return dir / name;
  };
  readHandoffFile(write("a.hdv", "URL=//127.0.0.1/a.gif;ID=9\r\n"), recorder.factory());
  readHandoffFile(write("empty.hdv", ""), recorder.factory());
  readHandoffFile(dir / "missing.hdv", recorder.factory());
  // Only the first 4095 bytes count: the address after them is never seen.
  readHandoffFile(write("big.hdv", std::string(4095, ' ') + "URL=h/x"), recorder.factory());
  readHandoffFile(write("garbage.hdv", "\x01\xff\x00URL=x"), recorder.factory());
  readHandoffFile(write("ftp.hdv", "ID=3;URL=ftp://h/a"), recorder.factory());
  // An empty address is passed on too; the component refuses it.
  EXPECT_EQ(recorder.calls, (std::vector<std::string>{"http://127.0.0.1/a.gif|9|2", "http://||2",
                                                      "http://||2", "http://ftp://h/a|3|2"}));
}

}  // namespace
}  // namespace hv::launcher
