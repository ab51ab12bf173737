#pragma once
// Small controls of the suite's dialogs.
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QValidator>
#include <string_view>

#include "include/handvane/export.h"

// Keeps only the digits of whatever is typed or pasted ("138-0013 8000" becomes "13800138000").
class HV_EXPORT DigitsOnlyValidator : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int& pos) const override;
  // At most this many digits are kept (the digits are counted after the rest was dropped, so a
  // pasted "电话 13800138000" still yields the whole number); 0 for no limit.
  void setLimit(int digits) { limit_ = digits; }

 private:
  int limit_ = 0;
};

// An edit control that takes digits only, pasted text included.
class HV_EXPORT CNumEdit : public QLineEdit {
 public:
  explicit CNumEdit(QWidget* parent = nullptr);
  void SetLimitText(int digits) { validator_->setLimit(digits); }

 private:
  DigitsOnlyValidator* validator_;
};

// A button drawn from bitmaps (normal, and while the pointer is over it), with a tool tip. Without
// bitmaps it is a flat button showing its text.
class HV_EXPORT CButtonST : public QPushButton {
 public:
  explicit CButtonST(QWidget* parent = nullptr);
  // GBK paths; an empty or unreadable hover picture reuses the normal one. False when the normal
  // picture cannot be loaded (the button then keeps its text).
  bool SetBitmaps(std::string_view normal, std::string_view hover = {});
  void SetBitmaps(const QPixmap& normal, const QPixmap& hover = {});
  void SetTooltipText(std::string_view gbk);
  void SetFlat(bool flat) { setFlat(flat); }
  bool hasBitmap() const { return !normal_.isNull(); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  QPixmap normal_;
  QPixmap hover_;
  bool over_ = false;
};

// A label without a background of its own, for text over a dialog's picture.
class HV_EXPORT CTransparentStatic : public QLabel {
 public:
  explicit CTransparentStatic(QWidget* parent = nullptr);
  void SetText(std::string_view gbk);
};
