#pragma once
// The launcher window: the thin Qt side of the Launcher. It draws the skin (background, picture
// buttons with transparent colours, invisible hot areas), moves with the mouse on its background,
// switches skin on a right-click, keeps the tray icon and its menu, and hosts the sign-in panel,
// whose controls are bound to the Launcher by id.
#include <QDialog>
#include <QIcon>
#include <QPixmap>
#include <QPointer>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "main/launcher.h"
#include "platform/messages.h"
#include "ui/ctrls/ctrls.h"

class QMenu;
class QTimer;

namespace hv::ui::qt {
class ControllerBinding;
}

namespace hv::launcher {

// Messages the window's receiver id takes (the tray's callback, a handed-over command line).
inline constexpr uint32_t kTrayMessage = 0x401;
inline constexpr uint32_t kTrayIconId = 200;
inline constexpr uint32_t kCopyDataMessage = 0x004A;  // WM_COPYDATA
inline constexpr uint32_t kCommandLineKind = 100;
inline constexpr int kAboutCommand = 16;

// The window's picture of a transparent colour: pixels of that colour become transparent.
QPixmap withTransparentColour(const QPixmap& picture, const Rgb& colour);

class MainWindow : public QDialog, public LauncherWindow {
 public:
  MainWindow(LauncherServices services, std::string skinFolder, std::string commandLine);
  ~MainWindow() override;

  // Binds the panel, runs the launcher's start-up and shows the window.
  void start();
  Launcher& launcher() { return *launcher_; }
  WindowId receiverId() const { return receiver_; }
  // A command line handed over by a later start (the bytes of a copy-data message of kind 100).
  void handOver(const std::string& commandLine);
  // Raised and activated, as a later start asks; shown and restored as well when asked.
  void bringForward(bool showAndRestore);
  // Sees every message of the window's receiver first; returning true handles it (the
  // single-instance channel's messages).
  void setMessageFilter(std::function<bool(const WindowMessage&)> filter) {
    messageFilter_ = std::move(filter);
  }
  // Runs once, from the event loop, right after the window was first painted: the work the
  // first sight of the window need not wait for.
  void setAfterFirstPaint(std::function<void()> task) { afterFirstPaint_ = std::move(task); }
  // Tray icon mouse messages, as CTrayIcon posts them.
  void onTrayMessage(uintptr_t id, intptr_t mouse);
  // The tray menu, built from the launcher's entries (for the tray and for tests).
  std::unique_ptr<QMenu> buildTrayMenu();
  // Checks whether a notification area appeared or went; puts the icon back when one came.
  void checkNotificationArea();
  CTrayIcon& tray() { return tray_; }
  const std::vector<QPointer<QWidget>>& skinButtons() const { return buttons_; }
  QWidget* panelControl(int id) const;
  // The window menu ("关于 Handvane(&A)..."), shown with Alt+Space.
  std::unique_ptr<QMenu> buildWindowMenu();

  // LauncherWindow
  bool prepareSkin(const SkinFile& skin) override;
  void applySkin(const SkinFile& skin) override;
  void setTrayIcon() override;
  void hideWindow() override;
  void showWindow() override;
  void minimizeWindow() override;
  void closeWindow() override;
  void focusControl(int id) override;
  void armTimer(int id, int milliseconds) override;
  void disarmTimer(int id) override;
  void redrawStatus() override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  struct Look {
    QPixmap background;
    QIcon icon;
    std::vector<std::pair<QPixmap, QPixmap>> pictures;  // rest, under the mouse
  };
  void buildPanel();
  void onMessage(const WindowMessage& m);
  void clearButtons();
  bool trayShowing() const;
  // The shown skin's icon, or the plain one when it brings none (or none is shown).
  const QIcon& shownIcon();

  std::unique_ptr<Launcher> launcher_;
  std::function<bool(const WindowMessage&)> messageFilter_;
  ui::qt::ControllerBinding* binding_ = nullptr;
  WindowId receiver_ = 0;
  CTrayIcon tray_;
  bool trayWasAvailable_ = false;
  Look prepared_;
  Look shown_;
  QIcon plainIcon_;
  std::vector<QPointer<QWidget>> buttons_;
  std::map<int, QTimer*> timers_;
  QTimer* trayWatch_ = nullptr;
  QPoint dragOffset_;
  bool dragging_ = false;
  bool firstPaintSeen_ = false;
  bool modulesQueued_ = false;
  std::function<void()> afterFirstPaint_;
};

}  // namespace hv::launcher
