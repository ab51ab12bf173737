#pragma once
// The launcher: the main window's behaviour without its widgets. It owns the current skin and
// its entries, carries out command lines, runs the entries' commands, keeps the embedded sign-in
// panel (the window's controls, by id) and the three timers' work. The window it drives is an
// interface (LauncherWindow), so tests run the launcher headless with a recording window.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "main/cmdline.h"
#include "main/modules.h"
#include "main/skin.h"
#include "ui/core/ui.h"

namespace hv::launcher {

// The main window's template and its sign-in panel's controls.
inline constexpr int kMainTemplate = 102;
inline constexpr int kAboutTemplate = 100;
inline constexpr int kContactTemplate = 141;
enum PanelControl {
  kLoginButton = 1001,  // "登录", the default button
  kNumberLabel = 1010,
  kNumber = 1011,
  kPasswordLabel = 1012,
  kPassword = 1013,
  kRegisterLink = 1014,
  kRecoverLink = 1015,
  kStatusButton = 1016,
  kWelcome = 1017,
};
// Launcher entry i has command kEntryBase + i; the tray menu's "退出" without an entry named so
// gets kNoCommand, which does nothing.
inline constexpr int kEntryBase = 101;
inline constexpr int kNoCommand = 100;
enum Timer { kCommandLineTimer = 1, kSignInTimer = 2, kStatusTimer = 3 };

// What the launcher asks of its window. Qt implements it; tests record the calls.
class LauncherWindow {
 public:
  virtual ~LauncherWindow() = default;
  // Loads the pictures of skin (background, window icon, button bitmaps, menu icons). A
  // background that cannot be decoded is reported to the user here. True when the window icon
  // was loaded.
  virtual bool prepareSkin(const SkinFile& skin) = 0;
  // Shows the skin prepared last: size, icons, one button per entry with command kEntryBase + i.
  virtual void applySkin(const SkinFile& skin) = 0;
  virtual void setTrayIcon() = 0;  // the applied skin's window icon
  virtual void hideWindow() = 0;
  // Shown, restored, raised and brought to the foreground.
  virtual void showWindow() = 0;
  // The system command: minimised (and hidden while a notification area shows the tray icon).
  virtual void minimizeWindow() = 0;
  // The system command: closed, which ends the program.
  virtual void closeWindow() = 0;
  virtual void focusControl(int id) = 0;
  virtual void armTimer(int id, int milliseconds) = 0;
  virtual void disarmTimer(int id) = 0;
  virtual void redrawStatus() = 0;
};

// The outside services the launcher's commands use. Every member may be left empty.
struct LauncherServices {
  std::function<int(const char* user, const char* password)> login;  // LOGIN_Login
  std::function<int()> loginState;                                   // LOGIN_GetState's result
  std::function<std::string()> signedInUser;                         // its user id
  std::function<std::string()> lastUserId;                           // LOGIN_GetLastUserId
  std::function<int(const char* user)> friendsDialog;                // FMFriendsListMantance
  std::function<std::string(std::string_view page)> pageUrl;         // a page of the web site
  std::function<bool(const std::string& url)> openUrl;               // the desktop's opener
  std::function<void(const std::string& path)> readHandoff;          // a ".hdv" hand-off file
};

struct TrayMenuItem {
  std::string name;      // GBK; empty for the separator
  std::string iconPath;  // "" for none
  int command = kNoCommand;
};

class Launcher : public ui::DialogController {
 public:
  Launcher(LauncherWindow& window, LauncherServices services, std::string skinFolder,
           std::string commandLine);

  // Window start-up: the skin (applied when it loads), the sign-in view, timers 1 and 2.
  void onInit() override;
  void onCommand(int id) override;
  bool onClose() override;
  void onTimer(int id);

  // A command line: the program's own (timer 1) or one handed over by a later start.
  void carryOut(std::string_view commandLine);
  // Runs entry index's command; false when there is no such entry.
  bool runEntry(int index);
  // The right mouse button released over the window.
  void nextSkin();
  // The tray menu: entries with an icon, a separator, "退出".
  std::vector<TrayMenuItem> trayMenu() const;
  // Loads the module libraries of the skin's entries that are not loaded yet. The window calls it
  // once it has first been painted, so that the launcher shows before the modules (and all they
  // link) are mapped; a launch before then loads its own library first.
  void loadModules();
  bool modulesPending() const { return modulesPending_; }

  const SkinFile& skin() const { return skin_; }
  bool skinApplied() const { return applied_; }
  bool signedInView() const { return signedInView_; }
  ModuleLibraries& libraries() { return libraries_; }
  SkinCatalog& catalog() { return catalog_; }

 private:
  struct PluginCommand {
    std::string path;  // the entry's "dll" file; "" for none
    bool loaded = false;
    void* library = nullptr;
    std::string receiver, file, tag;
  };
  void* library(PluginCommand& p);
  bool loadSkin(const std::string& path);
  void launch(size_t index);
  void signIn();
  void showSignInView();
  void showSignedInView();
  void runLink(const std::string& name);

  LauncherWindow& window_;
  LauncherServices services_;
  SkinCatalog catalog_;
  std::string commandLine_;
  ModuleLibraries libraries_;
  SkinFile skin_;
  std::vector<PluginCommand> plugins_;  // one per entry
  bool applied_ = false;
  bool signedInView_ = false;
  bool modulesPending_ = false;
};

// The About box (template 100) and the contact box (template 141).
class InfoBox : public ui::DialogController {
 public:
  enum { kPicture = 1, kText = 2, kOk = ui::kIdOk };
  InfoBox(int templateId, std::string title, std::string text);
  void onCommand(int id) override;
};

std::unique_ptr<InfoBox> makeAboutBox();
std::unique_ptr<InfoBox> makeContactBox(std::string_view webAddress);

// The support mailbox's "mailto:" address with the subject and body of a question about the
// program, percent-encoded as UTF-8 (RFC 6068).
std::string supportMailto();

}  // namespace hv::launcher
