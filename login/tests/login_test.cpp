// LOGIN_Login, LOGIN_GetState and LOGIN_GetLastUserId from libSignon.so against handvane-service
// on loopback, with the dialog played by the scripted UI backend.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "include/handvane/records.h"
#include "login/login_dialog.h"
#include "login/signon.h"
#include "login/tests/login_fixture.h"
#include "platform/gbk.h"

namespace {

using hv::login::LoginDialog;
using hv::login::LoginSettings;
using namespace hv::login::testing;

class Signon : public LoginFixture {};

std::string text(const char (&field)[40]) {
  return hv::fieldText(field);
}

TEST_F(Signon, AutoLoginSignsInWithoutDialogAndPreparesTheUserFolderOnce) {
  startService();
  LoginSettings s = serviceSettings();
  s.autoLogin = 1;
  std::strcpy(s.lastUserId, kUser);
  std::strcpy(s.lastPassword, kPassword);
  writeSettings(s);

  EXPECT_EQ(LOGIN_Login(nullptr, nullptr), 2);
  EXPECT_EQ(backend_->modalCount(LoginDialog::kTemplate), 0);
  EXPECT_TRUE(backend_->boxes().empty());
  hv::LoginState st;
  EXPECT_EQ(LOGIN_GetState(&st), 2);
  EXPECT_STREQ(st.userId, kUser);
  EXPECT_STREQ(st.password, kPassword);
  EXPECT_EQ(st.state, 2);

  std::string table = home_ + "/" + kUser + "/FRIENDS.DBF";
  auto copied = hv::fs::readFile(table);
  ASSERT_TRUE(copied) << "the first sign-in copies the template table";
  EXPECT_EQ(*copied, *hv::fs::readFile(home_ + "/DATA/FRIENDS.DBF"));

  // A second sign-in leaves the user's own table alone.
  ASSERT_TRUE(hv::fs::writeFileAtomic(table, "the user's friends"));
  EXPECT_EQ(LOGIN_Login(nullptr, nullptr), 2);
  EXPECT_EQ(*hv::fs::readFile(table), "the user's friends");
}

TEST_F(Signon, FailingAutoLoginIsSilentAndSavesNothing) {
  startService();
  LoginSettings s = serviceSettings();
  s.autoLogin = 1;
  std::strcpy(s.lastUserId, kUser);
  std::strcpy(s.lastPassword, "wrong");
  writeSettings(s);
  auto before = hv::fs::readFile(settingsFile());

  EXPECT_EQ(LOGIN_Login(nullptr, nullptr), 0);
  EXPECT_EQ(backend_->modalCount(LoginDialog::kTemplate), 0);
  EXPECT_TRUE(backend_->boxes().empty());
  EXPECT_EQ(LOGIN_GetState(nullptr), 0);
  EXPECT_EQ(hv::fs::readFile(settingsFile()), before);
  EXPECT_FALSE(hv::fs::exists(home_ + "/" + kUser));
}

TEST_F(Signon, IdAndPasswordSignInSilentlyAndBecomeTheLastUser) {
  startService();
  writeSettings(serviceSettings());
  EXPECT_EQ(LOGIN_Login(kUser, kPassword), 2);
  EXPECT_EQ(backend_->modalCount(LoginDialog::kTemplate), 0);
  LoginSettings saved = readSettings();
  EXPECT_EQ(text(saved.lastUserId), kUser);
  EXPECT_EQ(text(saved.lastPassword), kPassword);
  char last[40];
  std::memset(last, 'x', sizeof last);
  EXPECT_EQ(LOGIN_GetLastUserId(last), 0);
  EXPECT_STREQ(last, kUser);

  // The password reaches the disk only inside the enciphered record.
  std::string bytes = *hv::fs::readFile(settingsFile());
  EXPECT_EQ(bytes.find(kPassword), std::string::npos);
  EXPECT_EQ(bytes.find(kUser), std::string::npos);
}

TEST_F(Signon, PassedIdWithoutPasswordOpensTheDialogPresetWithIt) {
  startService();
  LoginSettings s = serviceSettings();
  std::strcpy(s.rememberedIds, "13900000001;13800138000;");
  std::strcpy(s.lastUserId, "13900000001");
  writeSettings(s);
  auto before = hv::fs::readFile(settingsFile());

  std::string shownId, shownPassword;
  int shownSelection = -2;
  backend_->onDialog(LoginDialog::kTemplate, [&](hv::ui::DialogController& d) {
    shownId = d.text(LoginDialog::kUserId);
    shownPassword = d.text(LoginDialog::kPassword);
    shownSelection = d.selection(LoginDialog::kUserId);
    d.onCommand(LoginDialog::kLogout);
  });
  EXPECT_EQ(LOGIN_Login(kUser, nullptr), 0);
  EXPECT_EQ(backend_->modalCount(LoginDialog::kTemplate), 1);
  EXPECT_EQ(shownId, kUser);
  EXPECT_EQ(shownSelection, 1);
  EXPECT_EQ(shownPassword, "");
  EXPECT_EQ(hv::fs::readFile(settingsFile()), before) << "\"退出登录\" saves nothing";

  // Without an id the last user is preset.
  backend_->onDialog(LoginDialog::kTemplate,
                     [&](hv::ui::DialogController& d) { shownId = d.text(LoginDialog::kUserId); });
  EXPECT_EQ(LOGIN_Login(nullptr, nullptr), 0);
  EXPECT_EQ(shownId, "13900000001");
}

TEST_F(Signon, DirectEntryWorksOfflineWithAnEmptyPassword) {
  writeSettings(serviceSettings());
  auto before = hv::fs::readFile(settingsFile());
  backend_->onDialog(LoginDialog::kTemplate, [](hv::ui::DialogController& d) {
    d.setText(LoginDialog::kUserId, "13912345678");
    d.setText(LoginDialog::kPassword, "typed");
    d.onCommand(LoginDialog::kDirectEntry);
  });
  EXPECT_EQ(LOGIN_Login(nullptr, nullptr), 1);
  hv::LoginState st;
  EXPECT_EQ(LOGIN_GetState(&st), 1);
  EXPECT_STREQ(st.userId, "13912345678");
  EXPECT_STREQ(st.password, "");
  EXPECT_EQ(hv::fs::readFile(settingsFile()), before);

  // A later dialog left with "退出登录" keeps that state.
  backend_->onDialog(LoginDialog::kTemplate,
                     [](hv::ui::DialogController& d) { d.onCommand(LoginDialog::kLogout); });
  EXPECT_EQ(LOGIN_Login(nullptr, nullptr), 1);
}

TEST_F(Signon, DialogSignInRemembersTheIdOnceAndSavesTheChoices) {
  startService();
  LoginSettings s = serviceSettings();
  std::strcpy(s.rememberedIds, "138;");
  writeSettings(s);
  auto play = [&](bool autoLogin) {
    backend_->onDialog(LoginDialog::kTemplate, [autoLogin](hv::ui::DialogController& d) {
      d.setText(LoginDialog::kUserId, kUser);
      d.setText(LoginDialog::kPassword, kPassword);
      d.setChecked(LoginDialog::kAutoLogin, autoLogin ? 1 : 0);
      d.onCommand(LoginDialog::kLogin);
    });
  };
  play(false);
  EXPECT_EQ(LOGIN_Login(nullptr, nullptr), 2);
  LoginSettings saved = readSettings();
  EXPECT_EQ(hv::fieldText(saved.rememberedIds), "138;13800138000;");
  EXPECT_EQ(text(saved.lastUserId), kUser);
  EXPECT_EQ(text(saved.lastPassword), kPassword);
  EXPECT_EQ(saved.autoLogin, 0);
  EXPECT_EQ(hv::fieldText(saved.regionHost), "127.0.0.1");
  EXPECT_EQ(saved.regionPort, regionPort());

  play(true);
  EXPECT_EQ(LOGIN_Login(nullptr, nullptr), 2);
  EXPECT_EQ(backend_->modalCount(LoginDialog::kTemplate), 2);
  saved = readSettings();
  EXPECT_EQ(hv::fieldText(saved.rememberedIds), "138;13800138000;") << "not added twice";
  EXPECT_EQ(saved.autoLogin, 1);
  EXPECT_TRUE(backend_->boxes().empty());
}

TEST_F(Signon, FailedDialogSignInSaysSoAndKeepsTheDialogOpen) {
  startService();
  writeSettings(serviceSettings());
  auto before = hv::fs::readFile(settingsFile());
  bool endedAfterFailure = true;
  backend_->onDialog(LoginDialog::kTemplate, [&](hv::ui::DialogController& d) {
    d.onCommand(LoginDialog::kLogin);  // nothing typed
    d.setText(LoginDialog::kUserId, kUser);
    d.onCommand(LoginDialog::kLogin);  // no password
    d.setText(LoginDialog::kPassword, "not-it");
    d.onCommand(LoginDialog::kLogin);
    endedAfterFailure = d.ended();
    d.onClose();
  });
  EXPECT_EQ(LOGIN_Login(nullptr, nullptr), 0);
  EXPECT_FALSE(endedAfterFailure);
  auto boxes = backend_->boxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(backend_->boxTexts(),
            (std::vector<std::string>{"请首先输入用户手机号！", "请首先输入密码！",
                                      "对不起，用户登录失败！"}));
  for (const auto& b : boxes) EXPECT_EQ(b.caption, hv::T("用户登录"));
  EXPECT_EQ(boxes[0].icon, hv::ui::Icon::Information);
  EXPECT_EQ(boxes[1].icon, hv::ui::Icon::Information);
  EXPECT_EQ(boxes[2].icon, hv::ui::Icon::Stop);
  EXPECT_EQ(hv::fs::readFile(settingsFile()), before);
}

TEST_F(Signon, SignsInThroughASocks5Proxy) {
  startService();
  int port = hv::e2e::freePort();
  hv::e2e::Peer proxy({"microsocks", "-i", "127.0.0.1", "-p", std::to_string(port)}, port,
                      home_ + "/proxy.log");
  if (!proxy.ready()) GTEST_SKIP() << "microsocks did not start";
  writeProxySettings("sock5", port);
  EXPECT_EQ(LOGIN_Login(kUser, kPassword), 2);

  // The proxy is really in the path: with its port closed the same sign-in fails.
  writeProxySettings("sock5", hv::e2e::freePort());
  EXPECT_EQ(LOGIN_Login(kUser, kPassword), 0);
}

// Every file below the folder, with its path; the proxy log and the service's own folder are not
// below it.
void collectFiles(const std::string& dir, std::vector<std::string>& out) {
  for (const auto& name : hv::fs::list(dir)) {
    std::string path = dir + "/" + name;
    if (hv::fs::isDirectory(path))
      collectFiles(path, out);
    else
      out.push_back(path);
  }
}

TEST_F(Signon, DialogSignsInThroughASocks5ProxyWithItsCredentialsAndKeepsPasswordsEnciphered) {
  startService();
  int port = hv::e2e::freePort();
  hv::e2e::Peer proxy(
      {"microsocks", "-i", "127.0.0.1", "-p", std::to_string(port), "-u", "alice", "-P", "pxy-pw"},
      port, service_->directory() + "/microsocks.log");
  if (!proxy.ready()) GTEST_SKIP() << "microsocks did not start";
  writeSettings(serviceSettings());
  auto play = [&](const char* proxyPassword) {
    backend_->onDialog(LoginDialog::kTemplate, [=](hv::ui::DialogController& d) {
      d.setText(LoginDialog::kUserId, kUser);
      d.setText(LoginDialog::kPassword, kPassword);
      d.setChecked(LoginDialog::kUseProxy, 1);
      d.onCommand(LoginDialog::kUseProxy);
      d.setChecked(LoginDialog::kSock5, 1);
      d.onCommand(LoginDialog::kSock5);
      d.setText(LoginDialog::kProxyHost, "127.0.0.1");
      d.setText(LoginDialog::kProxyPort, std::to_string(port));
      d.setText(LoginDialog::kProxyUser, "alice");
      d.setText(LoginDialog::kProxyPassword, proxyPassword);
      d.onCommand(LoginDialog::kLogin);
      if (!d.ended()) d.onCommand(LoginDialog::kLogout);
    });
  };
  play("wrong");
  EXPECT_EQ(LOGIN_Login(nullptr, nullptr), 0) << "the proxy refuses the wrong credentials";
  EXPECT_EQ(backend_->boxTexts(), std::vector<std::string>{"对不起，用户登录失败！"});

  play("pxy-pw");
  EXPECT_EQ(LOGIN_Login(nullptr, nullptr), 2);
  LoginSettings saved = readSettings();
  EXPECT_EQ(text(saved.proxyType), "SOCK5");
  EXPECT_EQ(hv::fieldText(saved.proxyHost), "127.0.0.1");
  EXPECT_EQ(saved.proxyPort, port);
  EXPECT_EQ(text(saved.proxyUser), "alice");
  EXPECT_EQ(text(saved.proxyPassword), "pxy-pw");
  EXPECT_EQ(hv::fieldText(saved.rememberedIds), std::string(kUser) + ";");

  // Neither password is anywhere in the clear below the suite's home.
  std::vector<std::string> files;
  collectFiles(home_, files);
  ASSERT_FALSE(files.empty());
  for (const auto& f : files) {
    std::string bytes = hv::fs::readFile(f).value_or("");
    EXPECT_EQ(bytes.find(kPassword), std::string::npos) << f;
    EXPECT_EQ(bytes.find("pxy-pw"), std::string::npos) << f;
  }
}

TEST_F(Signon, SignsInThroughASocks4Proxy) {
  startService();
  int port = hv::e2e::freePort();
  std::string conf = home_ + "/danted.conf";
  ASSERT_TRUE(hv::fs::writeFileAtomic(
      conf,
      "logoutput: stderr\n"
      "internal: 127.0.0.1 port = " +
          std::to_string(port) +
          "\n"
          "external: 127.0.0.1\n"
          "clientmethod: none\nsocksmethod: none\n"
          "user.privileged: root\nuser.unprivileged: nobody\n"
          "client pass {\n from: 127.0.0.0/8 to: 0.0.0.0/0\n}\n"
          "socks pass {\n from: 127.0.0.0/8 to: 0.0.0.0/0\n protocol: tcp\n log: connect\n}\n"));
  // A pid file of its own: the default one in /run is shared with every other danted.
  hv::e2e::Peer proxy({"danted", "-N", "1", "-f", conf, "-p", home_ + "/danted.pid"}, port,
                      home_ + "/danted.log");
  if (!proxy.ready()) GTEST_SKIP() << "danted did not start";
  writeProxySettings("SOCK4", port);
  EXPECT_EQ(LOGIN_Login(kUser, kPassword), 2);
  std::string log = hv::fs::readFile(home_ + "/danted.log").value_or("");
  // The proxy passed the connection to the region server.
  EXPECT_NE(log.find("tcp/connect"), std::string::npos) << log;
  EXPECT_NE(log.find("127.0.0.1." + std::to_string(regionPort()) + "\n"), std::string::npos) << log;
}

TEST_F(Signon, MissingSettingsFileIsCreatedWithTheLocalServiceAsRegionServer) {
  ASSERT_FALSE(hv::fs::exists(settingsFile()));
  char last[40] = "junk";
  EXPECT_EQ(LOGIN_GetLastUserId(last), 0);
  EXPECT_STREQ(last, "");
  EXPECT_FALSE(hv::fs::exists(settingsFile())) << "reading alone creates nothing";

  backend_->onDialog(LoginDialog::kTemplate,
                     [](hv::ui::DialogController& d) { d.onCommand(LoginDialog::kLogout); });
  EXPECT_EQ(LOGIN_Login(nullptr, nullptr), 0);
  ASSERT_TRUE(hv::fs::exists(settingsFile()));
  LoginSettings s = readSettings();
  EXPECT_EQ(hv::fieldText(s.regionHost), "127.0.0.1");
  EXPECT_EQ(s.regionPort, 17001);
  EXPECT_EQ(hv::fieldText(s.rememberedIds), "");
  EXPECT_EQ(s.autoLogin, 0);
}

TEST_F(Signon, UnreadableSettingsFileIsNeitherTrustedNorOverwritten) {
  startService();
  ASSERT_TRUE(hv::fs::writeFileAtomic(settingsFile(), std::string(300, 'x')));
  EXPECT_EQ(LOGIN_Login(kUser, kPassword), 0) << "no region server known";
  EXPECT_EQ(*hv::fs::readFile(settingsFile()), std::string(300, 'x'));
  char last[40];
  EXPECT_EQ(LOGIN_GetLastUserId(last), 0);
  EXPECT_STREQ(last, "");
}

TEST(ShippedSettings, NameTheLocalServiceAsRegionServer) {
  std::string path = std::string(HV_SOURCE_DIR) + "/shipped/DATA/logincfg.dat";
  CryptFile* f = CRYPT_Open(path.c_str());
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(CRYPT_GetRecordCount(f), 1);
  LoginSettings s;
  ASSERT_EQ(CRYPT_ReadRecord(f, 0, &s), 1);
  CRYPT_Close(f);
  EXPECT_EQ(hv::fieldText(s.regionHost), "127.0.0.1");
  EXPECT_EQ(s.regionPort, 17001);
  EXPECT_EQ(hv::fieldText(s.rememberedIds), "");
  EXPECT_EQ(hv::fieldText(s.lastUserId), "");
  EXPECT_EQ(hv::fieldText(s.lastPassword), "");
  EXPECT_EQ(hv::fieldText(s.proxyType), "");
  EXPECT_EQ(s.autoLogin, 0);
  auto size = hv::fs::fileSize(path);
  ASSERT_TRUE(size);
  EXPECT_EQ(*size, 1245u);
}

}  // namespace
