// Patchrun's start-up and progress dialog through the scripted backend: with an update client of
// the test's own for the item-by-item rules, and with the real libPatchclient.so against a web
// site on loopback for the whole way.
#include "updater/patchrun.h"

#include <gtest/gtest.h>
#include <openssl/sha.h>
#include <stdlib.h>

#include <memory>

#include "platform/fs.h"
#include "platform/gbk.h"
#include "platform/tests/test_dir.h"
#include "updater/client/patchclient.h"
#include "updater/client/tests/update_server.h"

namespace hv::patchrun {
namespace {

// An update client that installs nothing and records what it was asked.
struct FakeClient {
  int initializeResult = 0;
  int localResult = 0;
  int count = 3;
  int failGetAt = -1;
  int failExecuteAt = -1;
  std::vector<int> executed;
  std::vector<int> recorded;
  int finished = 0;

  UpdateClient client() {
    return UpdateClient{
        [this] { return initializeResult; },
        [this] { return localResult; },
        [this] { return count; },
        [this](int i, void* item) {
          if (i == failGetAt) return 0;
          static_cast<unsigned char*>(item)[0] = static_cast<unsigned char>(i + 1);
          return 1;
        },
        [this](void* item) {
          const int i = static_cast<unsigned char*>(item)[0] - 1;
          if (i == failExecuteAt) return -1;
          executed.push_back(i);
          return 0;
        },
        [this](int i, void*) {
          recorded.push_back(i);
          return 0;
        },
        [this] {
          ++finished;
          return 0;
        },
    };
  }
};

class PatchrunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    backend = std::make_shared<ui::ScriptedBackend>();
    ui::setBackend(backend);
    // The dialog's first timer tick, and what it looked like when it stopped.
    backend->onDialog(kProgressTemplate, [this](ui::DialogController& d) {
      auto& progress = dynamic_cast<ProgressDialog&>(d);
      EXPECT_EQ(progress.text(kCounterId), "1/1");
      EXPECT_EQ(progress.title(), T("正在进行Lumoi客户端程更新..."));
      EXPECT_EQ(progress.text(kTextId), T("正在进行Lumoi的客户端更新..."));
      EXPECT_TRUE(progress.timerRunning());
      progress.onTimer();
      EXPECT_FALSE(progress.timerRunning());
      finalCounter = progress.text(kCounterId);
      finalStatus = progress.text(kStatusId);
    });
  }
  void TearDown() override { ui::setBackend(nullptr); }

  int run(FakeClient& fake) { return runPatchrun(fake.client(), nullptr); }

  std::shared_ptr<ui::ScriptedBackend> backend;
  std::string finalCounter, finalStatus;
};

TEST_F(PatchrunTest, ThreeItemsCountUpToTheCompletionMessage) {
  FakeClient fake;
  std::vector<std::string> seen;
  ProgressDialog* current = nullptr;
  backend->onDialog(kProgressTemplate, [&](ui::DialogController& d) {
    current = &dynamic_cast<ProgressDialog&>(d);
    current->onTimer();
  });
  const int code = runPatchrun(fake.client(), [&] { seen.push_back(current->text(kCounterId)); });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(seen, (std::vector<std::string>{"1/3", "2/3", "3/3"}));
  EXPECT_EQ(fake.executed, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(fake.recorded, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(fake.finished, 1);
  ASSERT_EQ(backend->boxes().size(), 1u);
  EXPECT_EQ(backend->boxTexts()[0], "更新完成，请重新启动Lumoi！");
  EXPECT_EQ(backend->boxes()[0].caption, T("Lumoi更新"));
  EXPECT_EQ(backend->boxes()[0].icon, ui::Icon::Information);
}

TEST_F(PatchrunTest, FailingSecondItemStopsWithTheFirstRecorded) {
  FakeClient fake;
  fake.failExecuteAt = 1;
  EXPECT_NE(run(fake), 0);
  EXPECT_EQ(fake.recorded, (std::vector<int>{0}));
  EXPECT_EQ(finalCounter, "1/3");
  EXPECT_EQ(finalStatus, T("执行更新出错！"));
  EXPECT_EQ(fake.finished, 0);
  EXPECT_TRUE(backend->boxes().empty());

  FakeClient unreadable;
  unreadable.failGetAt = 0;
  EXPECT_NE(run(unreadable), 0);
  EXPECT_TRUE(unreadable.executed.empty());
  EXPECT_EQ(finalCounter, "1/1");
  EXPECT_EQ(finalStatus, T("更新过程出错！"));
  EXPECT_EQ(unreadable.finished, 0);
  EXPECT_TRUE(backend->boxes().empty());
}

TEST_F(PatchrunTest, ZeroItemsFinishAtOnceAndANegativeCountStays) {
  FakeClient none;
  none.count = 0;
  EXPECT_EQ(run(none), 0);
  EXPECT_EQ(none.finished, 1);
  EXPECT_EQ(backend->boxTexts(), (std::vector<std::string>{"更新完成，请重新启动Lumoi！"}));

  backend->clearBoxes();
  FakeClient broken;
  broken.count = -1;
  EXPECT_NE(run(broken), 0);
  EXPECT_EQ(broken.finished, 0);
  EXPECT_TRUE(broken.executed.empty());
  EXPECT_TRUE(backend->boxes().empty());
}

TEST_F(PatchrunTest, StartUpChecksEndWithTheirMessage) {
  FakeClient notInstalled;
  notInstalled.initializeResult = -1;
  EXPECT_NE(run(notInstalled), 0);
  FakeClient nothingWaiting;
  nothingWaiting.localResult = 1;
  EXPECT_NE(run(nothingWaiting), 0);
  EXPECT_EQ(backend->boxTexts(),
            (std::vector<std::string>{"对不起，Lumoi客户端程序没有正确安装，请下载安装新的版本！",
                                      "对不起，没有检查到新的版本！"}));
  for (const auto& box : backend->boxes()) {
    EXPECT_EQ(box.caption, "Lumoi");
    EXPECT_EQ(box.icon, ui::Icon::Stop);
  }
  EXPECT_EQ(backend->modalCount(kProgressTemplate), 0);
}

TEST_F(PatchrunTest, AboutItemShowsTheAboutBox) {
  FakeClient fake;
  ProgressDialog dialog(fake.client(), nullptr);
  dialog.onCommand(kAboutCommand);
  ASSERT_EQ(backend->boxes().size(), 1u);
  EXPECT_EQ(backend->boxTexts()[0], "Patchrun 1.0 版");
  EXPECT_EQ(backend->boxes()[0].caption, T("关于 Patchrun"));
  EXPECT_EQ(ProgressDialog::aboutItemText(), T("关于 Patchrun(&A)..."));
}

std::string sha256Hex(const std::string& data) {
  unsigned char d[32];
  SHA256(reinterpret_cast<const unsigned char*>(data.data()), data.size(), d);
  char out[65];
  for (int i = 0; i < 32; ++i) std::snprintf(out + 2 * i, 3, "%02x", d[i]);
  return out;
}

TEST_F(PatchrunTest, RealClientInstallsAPublishedUpdate) {
  TestDir dir;
  const std::string install = dir / "install/", site = dir / "site/";
  fs::makeDirectories(install + "DATA");
  fs::makeDirectories(site + "update");
  fs::writeFileAtomic(install + "DATA/tips.txt", "old tips");
  fs::writeFileAtomic(site + "update/tips.txt", "tips of 1.3");
  fs::writeFileAtomic(site + "update/manifest.txt",
                      "handvane-update 1\nversion 1.3\nmanual no\nitem 11 " +
                          sha256Hex("tips of 1.3") + " 0644 DATA/tips.txt tips.txt\n");
  UpdateServer server(site);
  ASSERT_NE(server.port(), 0);
  setenv("HANDVANE_INSTALL_DIR", install.c_str(), 1);
  setenv("HANDVANE_UPDATE_URL", server.url("update/manifest.txt").c_str(), 1);

  // What Handvane's update check does before starting Patchrun.
  ASSERT_EQ(UPDATE_Initialize(), 0);
  ASSERT_EQ(UPDATE_CheckUpdate(), 2);
  ASSERT_EQ(UPDATE_CreateUpdateProcess(), 0);
  ASSERT_EQ(UPDATE_GetUpdateItemCount(), 1);
  unsigned char item[1032] = {};
  ASSERT_NE(UPDATE_GetUpdateItem(0, item), 0);
  ASSERT_EQ(UPDATE_DownloadUpdateItem(item, nullptr, nullptr), 0);
  ASSERT_EQ(UPDATE_SetUpdateItem(0, item), 0);
  EXPECT_EQ(fs::readFile(install + "DATA/tips.txt"), "old tips");

  backend->onDialog(kProgressTemplate,
                    [](ui::DialogController& d) { dynamic_cast<ProgressDialog&>(d).onTimer(); });
  const UpdateClient real{UPDATE_Initialize,    UPDATE_CheckUpdateLocal,  UPDATE_GetUpdateItemCount,
                          UPDATE_GetUpdateItem, UPDATE_ExecuteUpdateItem, UPDATE_SetUpdateItem,
                          UPDATE_FinishedUpdate};
  EXPECT_EQ(runPatchrun(real, nullptr), 0);
  EXPECT_EQ(fs::readFile(install + "DATA/tips.txt"), "tips of 1.3");
  char version[16];
  ASSERT_GT(UPDATE_GetVersion(version, sizeof version), 0);
  EXPECT_STREQ(version, "1.3");
  EXPECT_EQ(backend->boxTexts(), (std::vector<std::string>{"更新完成，请重新启动Lumoi！"}));

  // A second run finds nothing waiting.
  backend->clearBoxes();
  EXPECT_NE(runPatchrun(real, nullptr), 0);
  EXPECT_EQ(backend->boxTexts(), (std::vector<std::string>{"对不起，没有检查到新的版本！"}));
  unsetenv("HANDVANE_INSTALL_DIR");
  unsetenv("HANDVANE_UPDATE_URL");
}

}  // namespace
}  // namespace hv::patchrun
