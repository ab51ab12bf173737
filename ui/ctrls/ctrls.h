#pragma once
// The ctrls library: the tray icon, hyperlinks and the expanding dialog.
#include <QAbstractButton>
#include <QDialog>
#include <QIcon>
#include <QLabel>
#include <QPointer>
#include <QSystemTrayIcon>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "include/handvane/export.h"
#include "platform/messages.h"

// The notification-area icon. Mouse actions on it are posted to the window given to Create as its
// callback message, with the icon's id as word parameter and the mouse message as long parameter
// (kLeftButtonUp, kLeftDoubleClick, kRightButtonUp), as the Windows notification area does.
class HV_EXPORT CTrayIcon {
 public:
  static constexpr intptr_t kLeftButtonUp = 0x0202;
  static constexpr intptr_t kLeftDoubleClick = 0x0203;
  static constexpr intptr_t kRightButtonUp = 0x0205;

  CTrayIcon();
  ~CTrayIcon();
  // False when the desktop has no notification area: then nothing is shown and the caller must
  // keep its window reachable (never hide it on minimise).
  bool Create(hv::WindowId window, uint32_t callbackMessage, std::string_view tip,
              const QIcon& icon, uint32_t id);
  void SetIcon(const QIcon& icon);
  void SetTooltipText(std::string_view tip);
  // Puts the icon back after the notification area was rebuilt.
  void MoveToRight();
  void RemoveIcon();
  bool IsVisible() const;
  static bool IsAvailable();
  // What a click would post; also used when the tray reports an activation.
  void Activated(QSystemTrayIcon::ActivationReason reason);
  QSystemTrayIcon* trayIcon() const { return tray_.get(); }

 private:
  std::unique_ptr<QSystemTrayIcon> tray_;
  hv::WindowId window_ = 0;
  uint32_t message_ = 0;
  uint32_t id_ = 0;
};

// A label that opens its address in the browser when clicked.
class HV_EXPORT CHyperLink : public QLabel {
 public:
  explicit CHyperLink(QWidget* parent = nullptr);
  void SetURL(std::string_view url);
  const std::string& GetURL() const { return url_; }
  // GBK text shown (the address when none).
  void SetText(std::string_view gbk);

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  std::string url_;
};

// A dialog that shows only the area of its frame control until the toggle button expands it to
// its full size; the button's label switches between the expand and the collapse text. Subclasses
// build their widgets, register the frame and the button with SetControl, and call Expand.
class HV_EXPORT CExpandingDialog : public QDialog {
 public:
  // Texts are GBK. expanded: the state to start in.
  CExpandingDialog(int templateId, QWidget* parent, int frameId, int buttonId,
                   std::string_view expandText, std::string_view collapseText, bool expanded);

  void SetControl(int id, QWidget* widget) { controls_[id] = widget; }
  QWidget* GetDlgItem(int id) const;
  int templateId() const { return templateId_; }

  // Shows the full dialog (true) or only the frame's area (false).
  void Expand(bool expand);
  bool IsExpanded() const { return expanded_; }
  QString ExpandText() const { return expandText_; }
  QString CollapseText() const { return collapseText_; }

 protected:
  // Before the change: false keeps the dialog as it is.
  virtual bool OnDialogExpanding(bool expanding);
  virtual void OnDialogExpanded(bool expanded);
  // A press of a registered button; the toggle button expands or collapses.
  virtual void OnCommand(int id);
  // Connects the registered buttons to OnCommand (call once the controls are registered).
  void ConnectCommands();

 private:
  void apply();
  const int templateId_;
  const int frameId_;
  const int buttonId_;
  const QString expandText_;
  const QString collapseText_;
  bool expanded_;
  bool applied_ = false;
  std::map<int, QPointer<QWidget>> controls_;
  std::vector<QPointer<QWidget>> outside_;
};
