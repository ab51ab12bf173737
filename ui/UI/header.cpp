#include "ui/UI/header.h"

#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

#include "ui/UI/image.h"
#include "ui/UI/widgets.h"

namespace {
constexpr int kPlainHeight = 40;
}

CDialogHeader::CDialogHeader() = default;

void CDialogHeader::Init(QWidget* dialog) {
  dialog_ = dialog;
  setParent(dialog);
  dialog->setWindowFlag(Qt::FramelessWindowHint, true);
  setGeometry(0, 0, std::max(dialog->width(), background_.width()), headerHeight());
  show();
  raise();
}

bool CDialogHeader::SetBackgroudBmp(std::string_view path) {
  background_ = LoadImage(nullptr, path);
  if (!background_.isNull()) {
    resize(background_.size());
    setFixedHeight(background_.height());
  }
  update();
  return !background_.isNull();
}

int CDialogHeader::headerHeight() const {
  return background_.isNull() ? kPlainHeight : background_.height();
}

void CDialogHeader::place(Button b, const QRect& rect, std::string_view bitmap) {
  CButtonST*& button = buttons_[b];
  if (!button) {
    button = new CButtonST(this);
    QObject::connect(button, &QPushButton::clicked, this, [this, b] { pressed(b); });
  }
  button->setGeometry(rect);
  if (!bitmap.empty()) button->SetBitmaps(bitmap);
  if (!button->hasBitmap()) {
    // The background carries the button's picture: keep the button itself invisible.
    button->setStyleSheet(QStringLiteral("background: transparent; border: none;"));
  }
  static const std::map<Button, const char16_t*> tips = {
      {Button::Close, u"关闭"}, {Button::Minimize, u"最小化"}, {Button::Text, u"短信"},
      {Button::Image, u"图片"}, {Button::Flash, u"动画"},      {Button::Music, u"铃声"}};
  button->setToolTip(QString::fromUtf16(tips.at(b)));
  button->show();
}

void CDialogHeader::SetCloseButton(const QRect& r, std::string_view bmp) {
  place(Button::Close, r, bmp);
}
void CDialogHeader::SetMinButton(const QRect& r, std::string_view bmp) {
  place(Button::Minimize, r, bmp);
}
void CDialogHeader::SetTextButton(const QRect& r, std::string_view bmp) {
  place(Button::Text, r, bmp);
}
void CDialogHeader::SetImageButton(const QRect& r, std::string_view bmp) {
  place(Button::Image, r, bmp);
}
void CDialogHeader::SetFlashButton(const QRect& r, std::string_view bmp) {
  place(Button::Flash, r, bmp);
}
void CDialogHeader::SetMusicButton(const QRect& r, std::string_view bmp) {
  place(Button::Music, r, bmp);
}

CButtonST* CDialogHeader::button(Button b) const {
  auto it = buttons_.find(b);
  return it == buttons_.end() ? nullptr : it->second;
}

void CDialogHeader::pressed(Button b) {
  QWidget* d = dialog_ ? dialog_ : window();
  switch (b) {
    case Button::Close:
      d->close();
      return;
    case Button::Minimize:
      d->showMinimized();
      return;
    case Button::Image:
      if (imageCommand_ != 0) {
        if (commandHandler_) commandHandler_(imageCommand_);
        return;
      }
      break;
    default:
      break;
  }
  if (moduleHandler_) moduleHandler_(b);
}

void CDialogHeader::MoveCtrls(QWidget* dialog) {
  if (moved_) return;
  moved_ = true;
  const int h = headerHeight();
  for (QObject* o : dialog->children()) {
    auto* w = qobject_cast<QWidget*>(o);
    if (!w || w == this || w->isWindow()) continue;
    w->move(w->x(), w->y() + h);
  }
  dialog->resize(std::max(dialog->width(), width()), dialog->height() + h);
  setGeometry(0, 0, std::max(dialog->width(), width()), h);
  raise();
}

void CDialogHeader::paintEvent(QPaintEvent*) {
  QPainter p(this);
  if (!background_.isNull()) {
    p.drawPixmap(0, 0, background_);
    return;
  }
  QLinearGradient g(0, 0, 0, height());
  g.setColorAt(0, QColor(0x3a, 0x7b, 0xd5));
  g.setColorAt(1, QColor(0x1c, 0x4f, 0x9c));
  p.fillRect(rect(), g);
  p.setPen(Qt::white);
  p.drawText(rect().adjusted(10, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft,
             window()->windowTitle());
}

void CDialogHeader::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  QWidget* w = window();
  if (w->windowHandle() && w->windowHandle()->startSystemMove()) return;
  dragOffset_ = event->globalPosition().toPoint() - w->frameGeometry().topLeft();
}

void CDialogHeader::mouseMoveEvent(QMouseEvent* event) {
  if (event->buttons() & Qt::LeftButton) {
    window()->move(event->globalPosition().toPoint() - dragOffset_);
  }
}
