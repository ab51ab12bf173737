// The launcher driven headless: start-up, command lines carried out against the recording test
// module, every entry command, skin switching, the tray menu, the timers and the sign-in panel
// against the real delivery service.
#include "main/launcher.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>

#include "login/login_settings.h"
#include "main/signon_services.h"
#include "main/tests/launcher_fixture.h"
#include "platform/profile.h"
#include "records/vaultrec.h"
#include "tests/service-e2e/peers.h"

namespace hv::launcher {
namespace {

using testing::HomeFixture;
using testing::RecordingWindow;

class LauncherTest : public HomeFixture {
 protected:
  void SetUp() override {
    HomeFixture::SetUp();
    for (const char* f : {"bg.jpg", "icon.png", "text.png", "image.png", "friends.png"})
      writeFile(skins_ + f, "picture");
    skin_ = writeSkin("full.skin", testing::kFullSkin);
  }
  std::unique_ptr<Launcher> start(const std::string& commandLine = "") {
    services_.friendsDialog = [this](const char* user) {
      friendsCalls_.push_back(user);
      return 0;
    };
    services_.pageUrl = [](std::string_view page) {
      return "http://web.test/" + std::string(page);
    };
    services_.openUrl = [this](const std::string& url) {
      opened_.push_back(url);
      return true;
    };
    services_.readHandoff = [this](const std::string& path) { handoffs_.push_back(path); };
    auto l = std::make_unique<Launcher>(window_, services_, skins_, commandLine);
    l->onInit();
    return l;
  }
  int entryIndex(const Launcher& l, const std::string& utf8Name) {
    for (size_t i = 0; i < l.skin().entries.size(); ++i)
      if (l.skin().entries[i].name == T(utf8Name)) return int(i);
    return -1;
  }

  std::string skin_;
  RecordingWindow window_;
  LauncherServices services_;
  std::vector<std::string> friendsCalls_, opened_, handoffs_;
};

TEST_F(LauncherTest, StartAppliesTheCurrentSkinAndArmsTimers) {
  auto l = start();
  EXPECT_TRUE(l->skinApplied());
  EXPECT_EQ(window_.applied, skin_);
  EXPECT_EQ(l->skin().entries.size(), 14u);
  EXPECT_EQ(window_.timers, (std::map<int, int>{{kCommandLineTimer, 100}, {kSignInTimer, 100}}));
  EXPECT_FALSE(l->signedInView());
  EXPECT_TRUE(l->visible(kLoginButton));
  EXPECT_FALSE(l->visible(kWelcome));
  EXPECT_EQ(window_.focused, kNumber);  // no remembered user
}

TEST_F(LauncherTest, SkinWithoutWindowIconIsNotAppliedAtStart) {
  fs::removeFile(skins_ + "icon.png");
  auto l = start();
  EXPECT_FALSE(l->skinApplied());
  EXPECT_TRUE(window_.called("prepare " + skin_));
  EXPECT_FALSE(window_.called("apply " + skin_));
}

TEST_F(LauncherTest, OwnCommandLineRunsOnceOnTimerOne) {
  auto l = start("-f text");
  EXPECT_TRUE(calls().empty());
  l->onTimer(kCommandLineTimer);
  EXPECT_EQ(window_.timers.count(kCommandLineTimer), 0u);
  // Both entries named "Lumo字" in any case, in skin order; empty receiver, file and tag.
  EXPECT_EQ(calls(), (std::vector<std::string>{"||", "||"}));
}

TEST_F(LauncherTest, FileAndTagReachTheModuleThenAreReset) {
  auto l = start();
  // Only a quote at the very start and the very end is removed: a quoted path followed by an
  // option keeps its closing quote and names no known type.
  l->carryOut("\"/tmp/note.txt\" -U:tag42");
  EXPECT_TRUE(calls().empty());
  l->carryOut("/tmp/note.txt -U:tag42");
  EXPECT_EQ(calls(), (std::vector<std::string>{"|/tmp/note.txt|tag42", "|/tmp/note.txt|tag42"}));
  // A click afterwards launches with empty strings again.
  l->onCommand(kEntryBase + entryIndex(*l, "Lumo字"));
  EXPECT_EQ(calls().back(), "||");
  EXPECT_EQ(calls().size(), 3u);
}

TEST_F(LauncherTest, CommandLinesThatNameNothingLaunchNothing) {
  auto l = start();
  for (const char* line : {"", "-f text a.txt", "/x-files/a.txt", "-U:t /tmp/a.txt",
                           "/tmp/my note.txt", "/tmp/a.doc", "/tmp/a.hdv -U:x"}) {
    l->carryOut(line);
  }
  EXPECT_TRUE(calls().empty());
  EXPECT_TRUE(handoffs_.empty());
  EXPECT_FALSE(window_.called("hide"));
}

TEST_F(LauncherTest, HideAndHandoffFiles) {
  auto l = start();
  l->carryOut("-hide -f text");
  EXPECT_TRUE(window_.called("hide"));
  EXPECT_EQ(calls().size(), 2u);
  l->carryOut("\"/tmp/get.HDV\"");
  EXPECT_EQ(handoffs_, (std::vector<std::string>{"/tmp/get.HDV"}));
}

TEST_F(LauncherTest, BrokenModulesLeaveTheirEntriesWithoutEffect) {
  writeFile(home_ + "/libFake.so", "this is no library");
  auto l = start();
  // Lumo图: a library without DoConvert; Lumo影: missing; Lumo音: outside the installation.
  for (const char* name : {"Lumo图", "Lumo影", "Lumo音"}) {
    const int i = entryIndex(*l, name);
    ASSERT_GE(i, 0) << name;
    l->onCommand(kEntryBase + i);
  }
  l->carryOut("-f image");
  l->carryOut("/tmp/a.swf");
  l->carryOut("-f music");
  EXPECT_TRUE(calls().empty());
  EXPECT_EQ(l->skin().entries[size_t(entryIndex(*l, "Lumo音"))].dllPath, "");
  EXPECT_EQ(l->libraries().load(home_ + "/libFake.so"), nullptr);
  EXPECT_FALSE(ModuleLibraries::launch(nullptr, "", "", ""));
}

// The launcher shows before the module libraries are mapped: they load once the window asks
// (after its first paint), or when an entry is launched before that.
TEST_F(LauncherTest, ModuleLibrariesLoadAfterStartOrOnFirstLaunch) {
  const std::string lib = home_ + "/libTestport.so";
  auto loaded = [&] {
    void* h = ::dlopen(lib.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (h) ::dlclose(h);  // the reference RTLD_NOLOAD took
    return h != nullptr;
  };
  writeSkin("zz.skin", "[ALL]\nfocuscount=0\n");
  ASSERT_FALSE(loaded());
  auto l = start();
  EXPECT_TRUE(l->modulesPending());
  EXPECT_FALSE(loaded());
  l->onCommand(kEntryBase + entryIndex(*l, "Lumo字"));  // loads its own library first
  EXPECT_EQ(calls(), std::vector<std::string>{"||"});
  EXPECT_TRUE(loaded());
  EXPECT_TRUE(l->modulesPending());
  l->loadModules();
  EXPECT_FALSE(l->modulesPending());
  l->nextSkin();  // a skin without entries has nothing to load
  EXPECT_FALSE(l->modulesPending());
}

TEST_F(LauncherTest, LibrariesStayLoadedAcrossSkinChanges) {
  writeSkin("zz.skin", "[ALL]\nfocuscount=0\n");
  auto l = start();
  const std::string lib = home_ + "/libTestport.so";
  void* before = l->libraries().load(lib);
  ASSERT_NE(before, nullptr);
  l->nextSkin();
  EXPECT_EQ(window_.applied, skins_ + "zz.skin");  // applied although it has no entries
  EXPECT_TRUE(l->skin().entries.empty());
  void* still = ::dlopen(lib.c_str(), RTLD_NOW | RTLD_NOLOAD);
  EXPECT_EQ(still, before);
  if (still) ::dlclose(still);  // the reference RTLD_NOLOAD took
  EXPECT_TRUE(window_.called("tray icon"));
  EXPECT_EQ(profile::getString(skins_ + "skincfg.dat", "ALL", "skin", ""), "zz.skin");
  l->nextSkin();
  EXPECT_EQ(window_.applied, skin_);
  EXPECT_EQ(profile::getString(skins_ + "skincfg.dat", "ALL", "skin", ""), "full.skin");
}

TEST_F(LauncherTest, ExitAsksFirst) {
  auto l = start();
  const int exit = kEntryBase + entryIndex(*l, "退出");
  backend_->answer(ui::Answer::Cancel);
  l->onCommand(exit);
  EXPECT_FALSE(window_.called("close"));
  backend_->answer(ui::Answer::Ok);
  l->onCommand(exit);
  EXPECT_TRUE(window_.called("close"));
  const auto boxes = backend_->boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, T("您是否要退出？"));
  EXPECT_EQ(boxes[0].caption, "Handvane");
  EXPECT_EQ(boxes[0].icon, ui::Icon::Question);
  EXPECT_EQ(boxes[0].buttons, ui::Buttons::OkCancel);
}

TEST_F(LauncherTest, FriendsMinimiseAndLinks) {
  auto l = start();
  auto press = [&](const char* name) { l->onCommand(kEntryBase + entryIndex(*l, name)); };
  press("好友列表");
  EXPECT_EQ(friendsCalls_, (std::vector<std::string>{""}));
  press("最小化");
  EXPECT_TRUE(window_.called("minimize"));
  press("帮助");
  press("资费说明");
  press("首页");
  l->onCommand(kRegisterLink);
  l->onCommand(kRecoverLink);
  EXPECT_EQ(opened_, (std::vector<std::string>{"http://web.test/service.asp",
                                               "http://web.test/inc/service/zfsm.asp",
                                               "http://web.test/", "http://web.test/register.asp",
                                               "http://web.test/forgetpass.asp"}));
  press("邮件");
  ASSERT_EQ(opened_.size(), 6u);
  // "Lumoi使用问题" and "Lumoi客服：\n\r\t我的问题是：\n\r" as UTF-8, percent-encoded by hand.
  EXPECT_EQ(opened_.back(),
            "mailto:support@handvane.example?subject=Lumoi%E4%BD%BF%E7%94%A8%E9%97%AE%E9%A2%98"
            "&body=Lumoi%E5%AE%A2%E6%9C%8D%EF%BC%9A%0A%0D%09%E6%88%91%E7%9A%84%E9%97%AE%E9%A2%98"
            "%E6%98%AF%EF%BC%9A%0A%0D");
  press("关于我们");
  press("联系");
  EXPECT_EQ(backend_->modalCount(kAboutTemplate), 1);
  EXPECT_EQ(backend_->modalCount(kContactTemplate), 1);
  EXPECT_FALSE(l->runEntry(99));
  EXPECT_FALSE(l->runEntry(-1));
}

TEST_F(LauncherTest, AboutAndContactBoxesHoldTheirTexts) {
  auto about = makeAboutBox();
  EXPECT_NE(about->text(InfoBox::kText).find(T("版本 1.2 build 0303")), std::string::npos);
  EXPECT_EQ(about->text(InfoBox::kOk), T("确定"));
  about->onCommand(InfoBox::kOk);
  EXPECT_TRUE(about->ended());
  auto contact = makeContactBox("http://web.test/");
  EXPECT_NE(contact->text(InfoBox::kText).find("http://web.test/"), std::string::npos);
}

TEST_F(LauncherTest, TrayMenuListsEntriesWithIconsThenExit) {
  auto l = start();
  const auto menu = l->trayMenu();
  ASSERT_EQ(menu.size(), 5u);
  EXPECT_EQ(menu[0].name, T("Lumo字"));
  EXPECT_EQ(menu[0].command, kEntryBase + 0);
  EXPECT_EQ(menu[1].name, T("Lumo图"));
  EXPECT_EQ(menu[2].name, T("好友列表"));
  EXPECT_EQ(menu[2].command, kEntryBase + 4);
  EXPECT_EQ(menu[2].iconPath, skins_ + "friends.png");
  EXPECT_TRUE(menu[3].name.empty());
  EXPECT_EQ(menu[4].name, T("退出"));
  EXPECT_EQ(menu[4].command, kEntryBase + 12);
}

TEST_F(LauncherTest, TrayExitWithoutExitEntryDoesNothing) {
  writeSkin("full.skin",
            "[ALL]\nappicons=icon.png\nfocuscount=1\n[0]\ntype=x\nname=首页\n"
            "rect0=1,1,2,2\nicon=text.png\n");
  auto l = start();
  const auto menu = l->trayMenu();
  ASSERT_EQ(menu.size(), 3u);
  EXPECT_EQ(menu[2].command, kNoCommand);
  l->onCommand(kNoCommand);
  EXPECT_TRUE(opened_.empty());
  EXPECT_FALSE(window_.called("close"));
}

TEST_F(LauncherTest, EmptySkinFolderKeepsThePlainWindow) {
  fs::removeFile(skin_);
  auto l = start();
  EXPECT_FALSE(l->skinApplied());
  EXPECT_FALSE(fs::exists(skins_ + "skincfg.dat"));
  l->nextSkin();
  EXPECT_FALSE(l->skinApplied());
  l->carryOut("-f text");
  EXPECT_TRUE(calls().empty());
}

// ---- the sign-in panel against handvane-service

class SignInPanelTest : public LauncherTest {
 protected:
  void SetUp() override {
    LauncherTest::SetUp();
    ASSERT_EQ(service_.command({"add-account", "13800138000", "right-pass"}), 0);
    ASSERT_TRUE(service_.start());
    login::LoginSettings s;
    std::memset(&s, 0, sizeof s);
    std::strcpy(s.regionHost, "127.0.0.1");
    s.regionPort = service_.region;
    const std::string file = home_ + "/DATA/logincfg.dat";
    ASSERT_EQ(CRYPT_Create(file.c_str(), 980), 1);
    CryptFile* f = CRYPT_Open(file.c_str());
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(CRYPT_AddRecord(f, &s), 0);
    CRYPT_Close(f);
    bindSignon(services_);
  }
  void TearDown() override {
    service_.stop();
    LauncherTest::TearDown();
  }
  e2e::LocalService service_;
};

TEST_F(SignInPanelTest, EmptyFieldsTakeTheFocus) {
  auto l = start();
  l->onCommand(kLoginButton);
  EXPECT_EQ(window_.focused, kNumber);
  l->setText(kNumber, "13800138000");
  l->onCommand(kLoginButton);
  EXPECT_EQ(window_.focused, kPassword);
  EXPECT_TRUE(backend_->boxes().empty());
}

TEST_F(SignInPanelTest, WrongPasswordIsRefusedAndEmptied) {
  auto l = start();
  l->setText(kNumber, "13800138000");
  l->setText(kPassword, "wrong-pass");
  l->onCommand(kLoginButton);
  ASSERT_EQ(backend_->boxTexts().size(), 1u);
  EXPECT_EQ(backend_->boxTexts()[0],
            "对不起，登录失败，请检查用户名和密码是否正确以及是否连接到网络");
  EXPECT_EQ(backend_->boxes()[0].caption, "Lumoi");
  EXPECT_EQ(backend_->boxes()[0].icon, ui::Icon::Stop);
  EXPECT_EQ(l->text(kPassword), "");
  EXPECT_EQ(window_.focused, kPassword);
  EXPECT_FALSE(l->signedInView());
}

TEST_F(SignInPanelTest, SignInSwitchesToWelcomeAndTimerTwoNoticesIt) {
  auto l = start();
  l->onTimer(kSignInTimer);
  EXPECT_FALSE(l->signedInView());
  EXPECT_EQ(window_.timers.count(kSignInTimer), 1u);
  l->setText(kNumber, "13800138000");
  l->setText(kPassword, "right-pass");
  l->onCommand(kLoginButton);
  EXPECT_TRUE(backend_->boxes().empty());
  EXPECT_TRUE(l->signedInView());
  EXPECT_EQ(l->text(kWelcome), T("欢迎13800138000进入Lumoi"));
  EXPECT_FALSE(l->visible(kNumber));
  EXPECT_TRUE(l->visible(kStatusButton));
  l->onTimer(kSignInTimer);
  EXPECT_EQ(window_.timers, (std::map<int, int>{{kCommandLineTimer, 100}, {kStatusTimer, 2000}}));
  l->onTimer(kStatusTimer);
  EXPECT_TRUE(window_.called("redraw status"));
  // A later start's launcher fills in the remembered number and focuses the password.
  RecordingWindow second;
  Launcher again(second, services_, skins_, "");
  again.onInit();
  EXPECT_EQ(again.text(kNumber), "13800138000");
  EXPECT_EQ(second.focused, kPassword);
}

}  // namespace
}  // namespace hv::launcher
