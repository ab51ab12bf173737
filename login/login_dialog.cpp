#include "login/login_dialog.h"

#include <strings.h>

#include <algorithm>
#include <limits>

#include "include/handvane/records.h"
#include "login/login_flow.h"
#include "platform/fs.h"
#include "platform/gbk.h"
#include "platform/kernel.h"
#include "platform/web.h"
#include "utils/function.h"

namespace hv::login {

namespace {
constexpr int kProxyGroup[] = {LoginDialog::kUseProxy,     LoginDialog::kSock4,
                               LoginDialog::kSock5,        LoginDialog::kProxyHost,
                               LoginDialog::kProxyPort,    LoginDialog::kProxyUser,
                               LoginDialog::kProxyPassword};

bool equalNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}
// Leading decimal digits of the text, as far as an int32 goes; 0 when there are none.
int32_t portNumber(const std::string& text) {
  int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    v = std::min<int64_t>(v * 10 + (c - '0'), std::numeric_limits<int32_t>::max());
  }
  return int32_t(v);
}
void openInBrowser(const std::string& url) {
  Process::start({"xdg-open", url});
}
}  // namespace

std::vector<LoginDialog::ControlInfo> LoginDialog::controls() {
  return {{kBanner, Kind::Picture, ""},
          {kUserId, Kind::IdList, T("用户手机号：")},
          {kPassword, Kind::PasswordEdit, T("密码：")},
          {kLogin, Kind::DefaultButton, T("登录")},
          {kAutoLogin, Kind::CheckBox, T("下次自动登录")},
          {kLogout, Kind::Button, T("退出登录")},
          {kRegister, Kind::Button, T("新用户注册")},
          {kRecoverPassword, Kind::Button, T("找回密码")},
          {kAdvanced, Kind::Button, T("高级>>")},
          {kCollapsedFrame, Kind::Frame, ""},
          {kUseProxy, Kind::CheckBox, T("使用代理")},
          {kSock4, Kind::Radio, "SOCK4"},
          {kSock5, Kind::Radio, "SOCK5"},
          {kProxyHost, Kind::Edit, T("服务器地址：")},
          {kProxyPort, Kind::Edit, T("端口号：")},
          {kProxyUser, Kind::Edit, T("认证用户名：")},
          {kProxyPassword, Kind::PasswordEdit, T("认证密码：")},
          {kDirectEntry, Kind::Button, T("直接进入")}};
}

LoginDialog::LoginDialog(const LoginSettings& settings, std::string presetId, UrlOpener openUrl)
    : ui::DialogController(kTemplate, T("用户登录")),
      settings_(settings),
      presetId_(std::move(presetId)),
      openUrl_(openUrl ? std::move(openUrl) : UrlOpener(openInBrowser)) {}

void LoginDialog::onInit() {
  for (const auto& c : controls()) {
    bool edit = c.kind == Kind::IdList || c.kind == Kind::Edit || c.kind == Kind::PasswordEdit;
    if (!edit) setText(c.id, c.caption);
  }
  setVisible(kCollapsedFrame, false);
  setVisible(kDirectEntry, false);

  proxyType_ = fieldText(settings_.proxyType);
  applyProxyType(proxyType_);
  setExpanded(checked(kUseProxy) != 0);

  auto ids = rememberedIds(fieldText(settings_.rememberedIds));
  int selected = -1;
  for (size_t i = 0; i < ids.size(); ++i)
    if (selected < 0 && equalNoCase(ids[i], presetId_)) selected = int(i);
  setItems(kUserId, ids);
  setSelection(kUserId, selected);
  setText(kUserId, selected >= 0 ? ids[size_t(selected)] : presetId_);
  onChange(kUserId);
  setText(kPassword, "");
  focus_ = kPassword;

  setChecked(kAutoLogin, settings_.autoLogin ? 1 : 0);
  setText(kProxyHost, fieldText(settings_.proxyHost));
  setText(kProxyPort, std::to_string(settings_.proxyPort));
  setText(kProxyUser, fieldText(settings_.proxyUser));
  setText(kProxyPassword, fieldText(settings_.proxyPassword));

  auto banner = fs::resolveNoCase(CFunction::GetExecutePath() + "DATA/" + T("登录.jpg"));
  setText(kBanner, banner.value_or(""));
  setVisible(kBanner, banner.has_value());
}

void LoginDialog::applyProxyType(const std::string& type) {
  bool sock4 = equalNoCase(type, "SOCK4"), sock5 = equalNoCase(type, "SOCK5");
  if (sock4 || sock5) {
    setChecked(kSock4, sock4 ? 1 : 0);
    setChecked(kSock5, sock5 ? 1 : 0);
    setChecked(kUseProxy, 1);
    for (int id : {kSock4, kSock5, kProxyHost, kProxyPort}) setEnabled(id, true);
    // SOCKS4 carries a user id but no password, so its credentials stay out of reach.
    setEnabled(kProxyUser, sock5);
    setEnabled(kProxyPassword, sock5);
  } else {
    setChecked(kUseProxy, 0);
    for (int id : kProxyGroup)
      if (id != kUseProxy) setEnabled(id, false);
  }
}

void LoginDialog::setExpanded(bool expanded) {
  expanded_ = expanded;
  setText(kAdvanced, expanded ? T("高级<<") : T("高级>>"));
  for (int id : kProxyGroup) setVisible(id, expanded);
}

// The text in the box, whatever is selected: the view puts a chosen item's text there, and a
// box the user cleared after choosing must not sign in with the item chosen before.
std::string LoginDialog::idText() const {
  return text(kUserId);
}

void LoginDialog::takeControls() {
  settings_.autoLogin = checked(kAutoLogin) ? 1 : 0;
  copyField(settings_.proxyType, checked(kUseProxy) ? (checked(kSock4) ? "SOCK4" : "SOCK5") : "");
  copyField(settings_.proxyHost, text(kProxyHost));
  settings_.proxyPort = portNumber(text(kProxyPort));
  copyField(settings_.proxyUser, text(kProxyUser));
  copyField(settings_.proxyPassword, text(kProxyPassword));
}

void LoginDialog::finish(int outcome) {
  outcome_ = outcome;
  endDialog(outcome);
}

void LoginDialog::onCommand(int id) {
  switch (id) {
    case kLogin: {
      std::string userId = idText(), password = text(kPassword);
      if (userId.empty()) {
        ui::messageBox(T("请首先输入用户手机号！"), T("用户登录"), ui::Icon::Information);
        focus_ = kUserId;
        return;
      }
      if (password.empty()) {
        ui::messageBox(T("请首先输入密码！"), T("用户登录"), ui::Icon::Information);
        focus_ = kPassword;
        return;
      }
      takeControls();
      if (!runLoginSequence(userId, password, settings_)) {
        ui::messageBox(T("对不起，用户登录失败！"), T("用户登录"), ui::Icon::Stop);
        return;
      }
      typedId_ = userId;
      typedPassword_ = password;
      finish(kSignedIn);
      return;
    }
    case kDirectEntry:
      takeControls();
      typedId_ = idText();
      typedPassword_.clear();
      finish(kWorkOffline);
      return;
    case kLogout:
      finish(kCancelled);
      return;
    case kAdvanced:
      setExpanded(!expanded_);
      return;
    case kUseProxy:
      if (checked(kUseProxy) && proxyTypeCode(proxyType_) == 0) proxyType_ = "SOCK4";
      applyProxyType(checked(kUseProxy) ? proxyType_ : std::string());
      return;
    case kSock4:
    case kSock5:
      proxyType_ = id == kSock4 ? "SOCK4" : "SOCK5";
      applyProxyType(proxyType_);
      return;
    case kRegister:
      openUrl_(hv::web::pageUrl(kRegisterPage));
      return;
    case kRecoverPassword:
      openUrl_(hv::web::pageUrl(kRecoverPage));
      return;
    default:
      return;
  }
}

void LoginDialog::onChange(int id) {
  if (id != kUserId) return;
  std::string t = text(kUserId);
  std::string digits;
  std::copy_if(t.begin(), t.end(), std::back_inserter(digits),
               [](char c) { return c >= '0' && c <= '9'; });
  if (digits != t) setText(kUserId, digits);
}

bool LoginDialog::onClose() {
  finish(kCancelled);
  return true;
}

}  // namespace hv::login
