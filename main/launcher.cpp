#include "main/launcher.h"

#include "main/text.h"
#include "platform/gbk.h"

namespace hv::launcher {

namespace {

constexpr int kCommandLineDelayMs = 100;
constexpr int kSignInPollMs = 100;
constexpr int kStatusRedrawMs = 2000;
constexpr int kSignedIn = 2;

const int kSignInControls[] = {kNumberLabel, kNumber,       kPasswordLabel, kPassword,
                               kLoginButton, kRegisterLink, kRecoverLink};
const int kSignedInControls[] = {kStatusButton, kWelcome};

}  // namespace

Launcher::Launcher(LauncherWindow& window, LauncherServices services, std::string skinFolder,
                   std::string commandLine)
    : DialogController(kMainTemplate, T("Lumoi")),
      window_(window),
      services_(std::move(services)),
      catalog_(std::move(skinFolder)),
      commandLine_(std::move(commandLine)) {
  setText(kNumberLabel, T("输入手机号码："));
  setText(kPasswordLabel, T("您的密码："));
  setText(kLoginButton, T("登录"));
  setText(kRegisterLink, T("注册"));
  setText(kRecoverLink, T("找回密码"));
}

void Launcher::onInit() {
  const std::string current = catalog_.current();
  if (!current.empty() && loadSkin(current)) {
    window_.applySkin(skin_);
    applied_ = true;
  }
  showSignInView();
  window_.armTimer(kCommandLineTimer, kCommandLineDelayMs);
  window_.armTimer(kSignInTimer, kSignInPollMs);
}

bool Launcher::loadSkin(const std::string& path) {
  plugins_.clear();
  modulesPending_ = false;
  skin_ = readSkin(path);
  for (const auto& e : skin_.entries) {
    PluginCommand p;
    p.path = e.dllPath;
    modulesPending_ = modulesPending_ || !p.path.empty();
    plugins_.push_back(std::move(p));
  }
  const bool iconLoaded = window_.prepareSkin(skin_);
  return !skin_.entries.empty() && iconLoaded;
}

void Launcher::nextSkin() {
  auto path = catalog_.next();
  if (!path) return;
  loadSkin(*path);  // applied whatever the result: a broken skin shows until the next switch
  window_.applySkin(skin_);
  applied_ = true;
  window_.setTrayIcon();
}

void Launcher::carryOut(std::string_view line) {
  const CommandLine c = parseCommandLine(line);
  if (c.hide) window_.hideWindow();
  if (!c.handoffFile.empty()) {
    if (services_.readHandoff) services_.readHandoff(c.handoffFile);
    return;
  }
  if (c.module.empty()) return;
  for (size_t i = 0; i < skin_.entries.size(); ++i) {
    const SkinEntry& e = skin_.entries[i];
    if (e.command() != EntryCommand::Plugin || !equalsNoCase(e.name, c.module)) continue;
    plugins_[i].receiver.clear();
    plugins_[i].file = c.file;
    plugins_[i].tag = c.tag;
    launch(i);
  }
}

void Launcher::launch(size_t index) {
  PluginCommand& p = plugins_[index];
  // Copies: a module may hand control back (a nested loop) before the strings are reset.
  const std::string receiver = p.receiver, file = p.file, tag = p.tag;
  p.receiver.clear();
  p.file.clear();
  p.tag.clear();
  ModuleLibraries::launch(library(p), receiver, file, tag);
}

void* Launcher::library(PluginCommand& p) {
  if (!p.loaded) {
    p.loaded = true;
    if (!p.path.empty()) p.library = libraries_.load(p.path);
  }
  return p.library;
}

void Launcher::loadModules() {
  modulesPending_ = false;
  for (auto& p : plugins_) library(p);
}

bool Launcher::runEntry(int index) {
  if (index < 0 || static_cast<size_t>(index) >= skin_.entries.size()) return false;
  const SkinEntry& e = skin_.entries[static_cast<size_t>(index)];
  switch (e.command()) {
    case EntryCommand::Plugin:
      launch(static_cast<size_t>(index));
      break;
    case EntryCommand::Friends:
      if (services_.friendsDialog) services_.friendsDialog("");
      break;
    case EntryCommand::Minimize:
      window_.minimizeWindow();
      break;
    case EntryCommand::Exit:
      if (ui::messageBox(T("您是否要退出？"), "Handvane", ui::Icon::Question,
                         ui::Buttons::OkCancel) == ui::Answer::Ok) {
        window_.closeWindow();
      }
      break;
    case EntryCommand::Link:
      runLink(e.name);
      break;
  }
  return true;
}

void Launcher::runLink(const std::string& name) {
  auto open = [this](const std::string& url) {
    if (services_.openUrl) services_.openUrl(url);
  };
  auto page = [this](std::string_view p) {
    return services_.pageUrl ? services_.pageUrl(p) : std::string(p);
  };
  if (name == T("帮助")) {
    open(page("service.asp"));
  } else if (name == T("资费说明")) {
    open(page("inc/service/zfsm.asp"));
  } else if (name == T("首页")) {
    open(page(""));
  } else if (name == T("邮件")) {
    open(supportMailto());
  } else if (name == T("关于我们")) {
    auto box = makeAboutBox();
    ui::backend().runModal(*box);
  } else if (name == T("联系")) {
    auto box = makeContactBox(page(""));
    ui::backend().runModal(*box);
  }
}

std::vector<TrayMenuItem> Launcher::trayMenu() const {
  std::vector<TrayMenuItem> items;
  int exitCommand = kNoCommand;
  for (size_t i = 0; i < skin_.entries.size(); ++i) {
    const SkinEntry& e = skin_.entries[i];
    const int command = kEntryBase + static_cast<int>(i);
    if (e.name == T("退出") && exitCommand == kNoCommand) exitCommand = command;
    if (!e.iconPath.empty()) items.push_back({e.name, e.iconPath, command});
  }
  items.push_back({});
  items.push_back({T("退出"), "", exitCommand});
  return items;
}

void Launcher::onCommand(int id) {
  if (id == kLoginButton) {
    signIn();
  } else if (id == kRegisterLink || id == kRecoverLink) {
    if (services_.openUrl && services_.pageUrl)
      services_.openUrl(services_.pageUrl(id == kRegisterLink ? "register.asp" : "forgetpass.asp"));
  } else if (id >= kEntryBase) {
    runEntry(id - kEntryBase);
  }
}

bool Launcher::onClose() {
  endDialog(ui::kIdCancel);
  return true;
}

void Launcher::onTimer(int id) {
  if (id == kCommandLineTimer) {
    window_.disarmTimer(kCommandLineTimer);
    carryOut(commandLine_);
  } else if (id == kSignInTimer) {
    if (services_.loginState && services_.loginState() == kSignedIn) {
      window_.disarmTimer(kSignInTimer);
      showSignedInView();
      window_.armTimer(kStatusTimer, kStatusRedrawMs);
    }
  } else if (id == kStatusTimer) {
    window_.redrawStatus();
  }
}

void Launcher::signIn() {
  const std::string number = text(kNumber);
  const std::string password = text(kPassword);
  if (number.empty()) return window_.focusControl(kNumber);
  if (password.empty()) return window_.focusControl(kPassword);
  const int state = services_.login ? services_.login(number.c_str(), password.c_str()) : 0;
  if (state == kSignedIn) return showSignedInView();
  ui::messageBox(T("对不起，登录失败，请检查用户名和密码是否正确以及是否连接到网络"), T("Lumoi"),
                 ui::Icon::Stop);
  window_.focusControl(kPassword);
  setText(kPassword, "");
}

void Launcher::showSignInView() {
  signedInView_ = false;
  for (int id : kSignInControls) setVisible(id, true);
  for (int id : kSignedInControls) setVisible(id, false);
  const std::string last = services_.lastUserId ? services_.lastUserId() : std::string();
  setText(kNumber, last);
  window_.focusControl(last.empty() ? kNumber : kPassword);
}

void Launcher::showSignedInView() {
  signedInView_ = true;
  for (int id : kSignInControls) setVisible(id, false);
  for (int id : kSignedInControls) setVisible(id, true);
  const bool signedIn = services_.loginState && services_.loginState() == kSignedIn;
  const std::string user = signedIn && services_.signedInUser ? services_.signedInUser() : "";
  setText(kWelcome, signedIn ? T("欢迎") + user + T("进入Lumoi") : T("您还没有登录！"));
}

// ---- information boxes

InfoBox::InfoBox(int templateId, std::string title, std::string text)
    : DialogController(templateId, std::move(title)) {
  setText(kText, std::move(text));
  setText(kOk, T("确定"));
}

void InfoBox::onCommand(int id) {
  if (id == kOk) endDialog(ui::kIdOk);
}

std::unique_ptr<InfoBox> makeAboutBox() {
  return std::make_unique<InfoBox>(kAboutTemplate, T("关于 Handvane"),
                                   T("Lumoi 手机内容助手\nHandvane 开发组\n版本 1.2 build 0303"));
}

std::unique_ptr<InfoBox> makeContactBox(std::string_view webAddress) {
  return std::make_unique<InfoBox>(
      kContactTemplate, T("联系我们"),
      T("客服电话：400-800-0303\n网址：") + std::string(webAddress) + T("\nHandvane 开发组"));
}

namespace {
std::string percentEncoded(std::string_view utf8) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : utf8) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}
}  // namespace

std::string supportMailto() {
  return "mailto:support@handvane.example?subject=" + percentEncoded("Lumoi使用问题") +
         "&body=" + percentEncoded("Lumoi客服：\n\r\t我的问题是：\n\r");
}

}  // namespace hv::launcher
