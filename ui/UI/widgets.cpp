#include "ui/UI/widgets.h"

#include <QPainter>
#include <algorithm>

#include "ui/UI/image.h"
#include "ui/qt/qtext.h"

QValidator::State DigitsOnlyValidator::validate(QString& input, int& pos) const {
  QString digits;
  int newPos = 0;
  for (int i = 0; i < input.size(); ++i) {
    const QChar c = input.at(i);
    if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
      digits += c;
      if (i < pos) ++newPos;
    }
  }
  if (limit_ > 0 && digits.size() > limit_) digits.truncate(limit_);
  input = digits;
  pos = std::min(newPos, static_cast<int>(digits.size()));
  return Acceptable;
}

CNumEdit::CNumEdit(QWidget* parent) : QLineEdit(parent), validator_(new DigitsOnlyValidator(this)) {
  setValidator(validator_);
}

CButtonST::CButtonST(QWidget* parent) : QPushButton(parent) {
  setFlat(true);
  setCursor(Qt::PointingHandCursor);
}

bool CButtonST::SetBitmaps(std::string_view normal, std::string_view hover) {
  const QPixmap n = LoadImage(nullptr, normal);
  if (n.isNull()) return false;
  SetBitmaps(n, hover.empty() ? QPixmap() : LoadImage(nullptr, hover));
  return true;
}

void CButtonST::SetBitmaps(const QPixmap& normal, const QPixmap& hover) {
  normal_ = normal;
  hover_ = hover.isNull() ? normal : hover;
  update();
}

void CButtonST::SetTooltipText(std::string_view gbk) {
  setToolTip(hv::ui::qt::toQ(gbk));
}

void CButtonST::paintEvent(QPaintEvent* event) {
  if (normal_.isNull()) {
    QPushButton::paintEvent(event);
    return;
  }
  QPainter p(this);
  const QPixmap& pm = over_ ? hover_ : normal_;
  p.drawPixmap(rect(), pm);
  if (isDown()) p.fillRect(rect(), QColor(0, 0, 0, 40));
  if (!isEnabled()) p.fillRect(rect(), QColor(255, 255, 255, 120));
}

void CButtonST::enterEvent(QEnterEvent* event) {
  over_ = true;
  update();
  QPushButton::enterEvent(event);
}

void CButtonST::leaveEvent(QEvent* event) {
  over_ = false;
  update();
  QPushButton::leaveEvent(event);
}

CTransparentStatic::CTransparentStatic(QWidget* parent) : QLabel(parent) {
  setAttribute(Qt::WA_TranslucentBackground);
  setAutoFillBackground(false);
}

void CTransparentStatic::SetText(std::string_view gbk) {
  setText(hv::ui::qt::toQ(gbk));
}
