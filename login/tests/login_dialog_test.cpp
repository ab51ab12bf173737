// The login dialog controller driven headless: proxy-type rules, the expanding part, the id box
// and the web-page buttons.
#include "login/login_dialog.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "include/handvane/records.h"
#include "login/tests/login_fixture.h"
#include "platform/gbk.h"

namespace {

using hv::login::LoginDialog;
using hv::login::LoginSettings;
using namespace hv::login::testing;

class LoginDialogTest : public LoginFixture {
 protected:
  LoginSettings settings(const char* proxyType) {
    LoginSettings s;
    std::memset(&s, 0, sizeof s);
    std::strcpy(s.proxyType, proxyType);
    std::strcpy(s.proxyHost, "proxy.local");
    s.proxyPort = 1080;
    std::strcpy(s.proxyUser, "alice");
    std::strcpy(s.proxyPassword, "pw");
    std::strcpy(s.rememberedIds, "13800138000;13900000001;");
    return s;
  }
  // Enabled state of radio 4, radio 5, host, port, user, password.
  static std::vector<bool> enabledProxyControls(const LoginDialog& d) {
    std::vector<bool> v;
    for (int id : {LoginDialog::kSock4, LoginDialog::kSock5, LoginDialog::kProxyHost,
                   LoginDialog::kProxyPort, LoginDialog::kProxyUser, LoginDialog::kProxyPassword})
      v.push_back(d.enabled(id));
    return v;
  }
};

TEST_F(LoginDialogTest, OpensWithEveryControlTextAndTheHiddenDirectEntry) {
  LoginDialog d(settings(""), "");
  d.onInit();
  EXPECT_EQ(d.templateId(), 9000);
  EXPECT_EQ(d.title(), hv::T("用户登录"));
  EXPECT_EQ(hv::gbkToUtf8(d.text(9004)), "登录");
  EXPECT_EQ(hv::gbkToUtf8(d.text(9006)), "下次自动登录");
  EXPECT_EQ(hv::gbkToUtf8(d.text(9007)), "退出登录");
  EXPECT_EQ(hv::gbkToUtf8(d.text(9018)), "新用户注册");
  EXPECT_EQ(hv::gbkToUtf8(d.text(9019)), "找回密码");
  EXPECT_EQ(hv::gbkToUtf8(d.text(9016)), "使用代理");
  EXPECT_EQ(d.text(9009), "SOCK4");
  EXPECT_EQ(d.text(9010), "SOCK5");
  EXPECT_EQ(hv::gbkToUtf8(d.text(9008)), "直接进入");
  EXPECT_FALSE(d.visible(9008));
  EXPECT_FALSE(d.visible(9015));
  std::map<int, std::string> captions;
  for (const auto& c : LoginDialog::controls()) captions[c.id] = *hv::gbkToUtf8(c.caption);
  EXPECT_EQ(captions.size(), 18u);
  EXPECT_EQ(captions[9001], "用户手机号：");
  EXPECT_EQ(captions[9002], "密码：");
  EXPECT_EQ(captions[9011], "服务器地址：");
  EXPECT_EQ(captions[9012], "端口号：");
  EXPECT_EQ(captions[9013], "认证用户名：");
  EXPECT_EQ(captions[9014], "认证密码：");
  EXPECT_EQ(d.text(9011), "proxy.local");
  EXPECT_EQ(d.text(9012), "1080");
  EXPECT_EQ(d.text(9013), "alice");
  EXPECT_EQ(d.text(9014), "pw");
  EXPECT_EQ(d.focusControl(), 9002);
}

TEST_F(LoginDialogTest, ProxyTypeDecidesChecksAndEnabledControls) {
  LoginDialog sock4(settings("sock4"), "");
  sock4.onInit();
  EXPECT_EQ(sock4.checked(9016), 1);
  EXPECT_EQ(sock4.checked(9009), 1);
  EXPECT_EQ(sock4.checked(9010), 0);
  EXPECT_EQ(enabledProxyControls(sock4), (std::vector<bool>{true, true, true, true, false, false}));
  EXPECT_TRUE(sock4.expanded());
  EXPECT_EQ(hv::gbkToUtf8(sock4.text(9005)), "高级<<");

  LoginDialog sock5(settings("SOCK5"), "");
  sock5.onInit();
  EXPECT_EQ(sock5.checked(9010), 1);
  EXPECT_EQ(sock5.checked(9016), 1);
  EXPECT_EQ(enabledProxyControls(sock5), std::vector<bool>(6, true));

  LoginDialog none(settings("HTTP"), "");
  none.onInit();
  EXPECT_EQ(none.checked(9016), 0);
  EXPECT_TRUE(none.enabled(9016));
  EXPECT_EQ(enabledProxyControls(none), std::vector<bool>(6, false));
  EXPECT_FALSE(none.expanded());
  EXPECT_EQ(hv::gbkToUtf8(none.text(9005)), "高级>>");
  EXPECT_FALSE(none.visible(9011));
}

TEST_F(LoginDialogTest, UseProxyAndRadioClicksSetTheType) {
  LoginDialog d(settings(""), "");
  d.onInit();
  d.onCommand(9005);
  EXPECT_TRUE(d.expanded());
  EXPECT_TRUE(d.visible(9016) && d.visible(9014));
  EXPECT_EQ(hv::gbkToUtf8(d.text(9005)), "高级<<");

  d.setChecked(9016, 1);
  d.onCommand(9016);  // no type yet: SOCK4
  EXPECT_EQ(d.checked(9009), 1);
  EXPECT_EQ(enabledProxyControls(d), (std::vector<bool>{true, true, true, true, false, false}));

  d.setChecked(9010, 1);
  d.onCommand(9010);
  EXPECT_EQ(d.checked(9009), 0);
  EXPECT_EQ(enabledProxyControls(d), std::vector<bool>(6, true));

  d.setChecked(9016, 0);
  d.onCommand(9016);
  EXPECT_EQ(enabledProxyControls(d), std::vector<bool>(6, false));
  d.setChecked(9016, 1);
  d.onCommand(9016);  // the type chosen before comes back
  EXPECT_EQ(d.checked(9010), 1);

  d.onCommand(9005);
  EXPECT_FALSE(d.expanded());
  EXPECT_FALSE(d.visible(9016));
}

TEST_F(LoginDialogTest, DirectEntryTakesTheProxyFromTheControls) {
  LoginDialog d(settings(""), "");
  d.onInit();
  d.setChecked(9016, 1);
  d.onCommand(9016);
  d.setText(9011, "10.0.0.1");
  d.setText(9012, "1081x");
  d.setText(9001, "139");
  d.setChecked(9006, 1);
  d.onCommand(9008);
  EXPECT_TRUE(d.ended());
  EXPECT_EQ(d.outcome(), LoginDialog::kWorkOffline);
  EXPECT_EQ(d.typedId(), "139");
  EXPECT_EQ(d.typedPassword(), "");
  EXPECT_EQ(hv::fieldText(d.settings().proxyType), "SOCK4");
  EXPECT_EQ(hv::fieldText(d.settings().proxyHost), "10.0.0.1");
  EXPECT_EQ(d.settings().proxyPort, 1081);
  EXPECT_EQ(d.settings().autoLogin, 1);
}

TEST_F(LoginDialogTest, IdBoxSelectsThePresetWithoutRegardToCaseAndKeepsDigitsOnly) {
  LoginSettings s = settings("");
  std::strcpy(s.rememberedIds, "abc;13900000001;;ABD;");
  LoginDialog d(s, "abd");
  d.onInit();
  EXPECT_EQ(d.items(9001), (std::vector<std::string>{"abc", "13900000001", "ABD"}));
  EXPECT_EQ(d.selection(9001), 2);
  d.setText(9001, "139-0000 0001");
  d.onChange(9001);
  EXPECT_EQ(d.text(9001), "13900000001");
}

// The text in the id box is what signs in: a remembered id chosen and then cleared leaves the box
// empty, and "登录" asks for the id instead of signing in with the one chosen before.
TEST_F(LoginDialogTest, ClearedIdBoxAsksForTheIdThoughARememberedIdWasChosen) {
  LoginDialog d(settings(""), "");
  d.onInit();
  // The view reports a choice from the list as the selection and the text it puts in the box.
  d.setSelection(9001, 1);
  d.setText(9001, "13900000001");
  d.onChange(9001);
  d.setText(9001, "");
  d.onChange(9001);
  d.setText(9002, "secret");
  d.onCommand(9004);
  EXPECT_FALSE(d.ended());
  EXPECT_EQ(backend_->boxTexts(), std::vector<std::string>{"请首先输入用户手机号！"});
  EXPECT_EQ(d.focusControl(), 9001);
  // "直接进入" goes on with the empty id too, not with the one chosen before.
  d.onCommand(9008);
  EXPECT_EQ(d.outcome(), LoginDialog::kWorkOffline);
  EXPECT_EQ(d.typedId(), "");
}

TEST_F(LoginDialogTest, WebButtonsOpenTheServicePagesAndCloseBoxCancels) {
  std::vector<std::string> opened;
  ::setenv("HANDVANE_WEB_BASE", "http://127.0.0.1:18080/site", 1);
  LoginDialog d(settings(""), "", [&](const std::string& url) { opened.push_back(url); });
  d.onInit();
  d.onCommand(9018);
  d.onCommand(9019);
  ::unsetenv("HANDVANE_WEB_BASE");
  EXPECT_EQ(opened, (std::vector<std::string>{"http://127.0.0.1:18080/site/register.asp",
                                              "http://127.0.0.1:18080/site/forgetpass.asp"}));
  EXPECT_FALSE(d.ended());
  EXPECT_TRUE(d.onClose());
  EXPECT_EQ(d.outcome(), LoginDialog::kCancelled);
}

TEST_F(LoginDialogTest, BannerIsShownOnlyWhenItsFileIsThere) {
  LoginDialog without(settings(""), "");
  without.onInit();
  EXPECT_FALSE(without.visible(9017));
  std::string banner = home_ + "/DATA/" + hv::T("登录.jpg");
  ASSERT_TRUE(hv::fs::writeFileAtomic(banner, "jpeg"));
  LoginDialog with(settings(""), "");
  with.onInit();
  EXPECT_TRUE(with.visible(9017));
  std::string shown = with.text(9017);
  EXPECT_TRUE(hv::fs::exists(shown)) << shown;
  EXPECT_TRUE(shown.ends_with("/DATA/" + hv::T("登录.jpg"))) << shown;
}

}  // namespace
