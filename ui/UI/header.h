#pragma once
// The skinned title area of a module dialog: a background picture across the top of a frameless
// dialog, with the minimise and close buttons and the buttons that switch to the other modules
// placed on it. Dragging the header moves the dialog.
#include <QPixmap>
#include <QRect>
#include <QWidget>
#include <functional>
#include <map>
#include <string_view>

#include "include/handvane/export.h"

class CButtonST;

class HV_EXPORT CDialogHeader : public QWidget {
 public:
  enum class Button { Close, Minimize, Text, Image, Flash, Music };

  CDialogHeader();

  // Becomes the header of dialog: the dialog loses its frame and the header sits at its top.
  void Init(QWidget* dialog);
  // GBK path of the background; false when it cannot be loaded (a plain gradient is drawn then).
  bool SetBackgroudBmp(std::string_view path);
  // Each button at its rectangle in header coordinates; the bitmap (GBK path) may be empty, the
  // button is then drawn over the background's own picture of it.
  void SetCloseButton(const QRect& rect, std::string_view bitmap = {});
  void SetMinButton(const QRect& rect, std::string_view bitmap = {});
  void SetTextButton(const QRect& rect, std::string_view bitmap = {});
  void SetImageButton(const QRect& rect, std::string_view bitmap = {});
  void SetFlashButton(const QRect& rect, std::string_view bitmap = {});
  void SetMusicButton(const QRect& rect, std::string_view bitmap = {});
  // The image button sends this command to the dialog (through SetCommandHandler).
  void SetImageCallBack(int commandId) { imageCommand_ = commandId; }
  // Where the header's commands go (the dialog's controller); without one they are dropped.
  void SetCommandHandler(std::function<void(int commandId)> handler) {
    commandHandler_ = std::move(handler);
  }
  // Called when the text, image (without a command), animation or music button is pressed.
  void SetModuleHandler(std::function<void(Button)> handler) {
    moduleHandler_ = std::move(handler);
  }
  // Moves the dialog's other controls below the header and makes the dialog that much taller.
  void MoveCtrls(QWidget* dialog);

  int headerHeight() const;
  CButtonST* button(Button b) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  void place(Button b, const QRect& rect, std::string_view bitmap);
  void pressed(Button b);

  QWidget* dialog_ = nullptr;
  QPixmap background_;
  std::map<Button, CButtonST*> buttons_;
  int imageCommand_ = 0;
  std::function<void(int)> commandHandler_;
  std::function<void(Button)> moduleHandler_;
  QPoint dragOffset_;
  bool moved_ = false;
};
