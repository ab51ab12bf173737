#pragma once
// The login dialog (template 9000) as a controller; its Qt view binds widgets to these controls.
//
// Controls (id: kind, caption):
//   9017 picture: the banner; its text is the path of "DATA/登录.jpg" when the file is there, and
//        it is visible only then (the view shows the picture when it loads)
//   9001 editable drop-down list, caption "用户手机号：": text is the edit field (digits only;
//        the controller removes anything else on onChange), items the remembered ids
//   9002 password edit, caption "密码："
//   9004 default button "登录"           9006 check box "下次自动登录"
//   9007 button "退出登录"               9018 button "新用户注册"     9019 button "找回密码"
//   9005 button "高级>>" collapsed / "高级<<" expanded
//   9015 frame marking the collapsed size; never visible
//   the expanding part (visible only when expanded): 9016 check box "使用代理", 9009 and 9010
//        radio buttons "SOCK4" and "SOCK5", 9011 edit "服务器地址：" (proxy host), 9012 edit
//        "端口号：" (proxy port), 9013 edit "认证用户名：" (proxy user), 9014 password edit
//        "认证密码：" (proxy password)
//   9008 button "直接进入", hidden
// Edits keep their typed text as the control text; their captions are in controls().
//
// Protocol for the view: set a check box's or radio button's new check state and then send
// onCommand(id); set an edit's text and then send onChange(id); a press of Enter is a command of
// 9004. focusControl() names the control that should have the focus. Dragging the dialog by its
// background is the view's business. The dialog ends with outcome() 0 after a successful sign-in,
// 1 for "直接进入" and -1 for "退出登录" or the window's close box.
#include <functional>
#include <string>
#include <vector>

#include "include/handvane/export.h"
#include "login/login_settings.h"
#include "ui/core/ui.h"

namespace hv::login {

class HV_EXPORT LoginDialog : public ui::DialogController {
 public:
  static constexpr int kTemplate = 9000;
  static constexpr int kUserId = 9001, kPassword = 9002, kLogin = 9004, kAdvanced = 9005,
                       kAutoLogin = 9006, kLogout = 9007, kDirectEntry = 9008, kSock4 = 9009,
                       kSock5 = 9010, kProxyHost = 9011, kProxyPort = 9012, kProxyUser = 9013,
                       kProxyPassword = 9014, kCollapsedFrame = 9015, kUseProxy = 9016,
                       kBanner = 9017, kRegister = 9018, kRecoverPassword = 9019;
  static constexpr int kSignedIn = 0, kWorkOffline = 1, kCancelled = -1;

  enum class Kind {
    Picture,
    IdList,
    Edit,
    PasswordEdit,
    DefaultButton,
    Button,
    CheckBox,
    Radio,
    Frame
  };
  struct ControlInfo {
    int id;
    Kind kind;
    std::string caption;  // GBK
  };
  // Every control of the template with its kind and caption.
  static std::vector<ControlInfo> controls();

  // The service's web pages behind "新用户注册" and "找回密码", below the suite's web base.
  static constexpr char kRegisterPage[] = "register.asp";
  static constexpr char kRecoverPage[] = "forgetpass.asp";

  using UrlOpener = std::function<void(const std::string& url)>;
  // settings preset the dialog; presetId is the id to select. openUrl shows a page in the default
  // browser (by default xdg-open).
  LoginDialog(const LoginSettings& settings, std::string presetId, UrlOpener openUrl = {});

  void onInit() override;
  void onCommand(int id) override;
  void onChange(int id) override;
  bool onClose() override;

  int outcome() const { return outcome_; }
  bool expanded() const { return expanded_; }
  int focusControl() const { return focus_; }
  // The settings as the dialog left them: the preset ones with the auto-login flag and the proxy
  // taken from the controls (meaningful after "登录" or "直接进入").
  const LoginSettings& settings() const { return settings_; }
  const std::string& typedId() const { return typedId_; }
  const std::string& typedPassword() const { return typedPassword_; }

 private:
  void applyProxyType(const std::string& type);
  void setExpanded(bool expanded);
  std::string idText() const;
  void takeControls();
  void finish(int outcome);

  LoginSettings settings_;
  std::string presetId_;
  UrlOpener openUrl_;
  std::string proxyType_;
  bool expanded_ = false;
  int focus_ = kUserId;
  int outcome_ = kCancelled;
  std::string typedId_, typedPassword_;
};

}  // namespace hv::login
