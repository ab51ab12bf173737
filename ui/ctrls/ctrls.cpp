#include "ui/ctrls/ctrls.h"

#include <QLayout>
#include <QMouseEvent>

#include "ui/UI/helper.h"
#include "ui/qt/qtext.h"

// ---- CTrayIcon

CTrayIcon::CTrayIcon() = default;
CTrayIcon::~CTrayIcon() {
  RemoveIcon();
}

bool CTrayIcon::IsAvailable() {
  return QSystemTrayIcon::isSystemTrayAvailable();
}

bool CTrayIcon::Create(hv::WindowId window, uint32_t callbackMessage, std::string_view tip,
                       const QIcon& icon, uint32_t id) {
  window_ = window;
  message_ = callbackMessage;
  id_ = id;
  if (!IsAvailable()) return false;
  tray_ = std::make_unique<QSystemTrayIcon>(icon);
  tray_->setToolTip(hv::ui::qt::toQ(tip));
  QObject::connect(tray_.get(), &QSystemTrayIcon::activated, tray_.get(),
                   [this](QSystemTrayIcon::ActivationReason r) { Activated(r); });
  tray_->show();
  return true;
}

void CTrayIcon::Activated(QSystemTrayIcon::ActivationReason reason) {
  intptr_t mouse = 0;
  switch (reason) {
    case QSystemTrayIcon::Trigger:
      mouse = kLeftButtonUp;
      break;
    case QSystemTrayIcon::DoubleClick:
      mouse = kLeftDoubleClick;
      break;
    case QSystemTrayIcon::Context:
      mouse = kRightButtonUp;
      break;
    default:
      return;
  }
  if (window_ != 0) hv::PostMessage(window_, message_, id_, mouse);
}

void CTrayIcon::SetIcon(const QIcon& icon) {
  if (tray_) tray_->setIcon(icon);
}

void CTrayIcon::SetTooltipText(std::string_view tip) {
  if (tray_) tray_->setToolTip(hv::ui::qt::toQ(tip));
}

void CTrayIcon::MoveToRight() {
  if (!tray_) return;
  tray_->hide();
  tray_->show();
}

void CTrayIcon::RemoveIcon() {
  if (tray_) tray_->hide();
  tray_.reset();
}

bool CTrayIcon::IsVisible() const {
  return tray_ && tray_->isVisible();
}

// ---- CHyperLink

CHyperLink::CHyperLink(QWidget* parent) : QLabel(parent) {
  setCursor(Qt::PointingHandCursor);
  setStyleSheet(QStringLiteral("color: #0645ad; text-decoration: underline;"));
}

void CHyperLink::SetURL(std::string_view url) {
  url_ = url;
  setToolTip(hv::ui::qt::toQ(url));
  if (text().isEmpty()) setText(hv::ui::qt::toQ(url));
}

void CHyperLink::SetText(std::string_view gbk) {
  setText(hv::ui::qt::toQ(gbk));
}

void CHyperLink::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) &&
      !url_.empty()) {
    CHandvaneHelper::OpenUrl(url_);
  }
  QLabel::mouseReleaseEvent(event);
}

// ---- CExpandingDialog

CExpandingDialog::CExpandingDialog(int templateId, QWidget* parent, int frameId, int buttonId,
                                   std::string_view expandText, std::string_view collapseText,
                                   bool expanded)
    : QDialog(parent),
      templateId_(templateId),
      frameId_(frameId),
      buttonId_(buttonId),
      expandText_(hv::ui::qt::toQ(expandText)),
      collapseText_(hv::ui::qt::toQ(collapseText)),
      expanded_(expanded) {}

QWidget* CExpandingDialog::GetDlgItem(int id) const {
  auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : it->second.data();
}

void CExpandingDialog::ConnectCommands() {
  for (const auto& [id, w] : controls_) {
    if (auto* b = qobject_cast<QAbstractButton*>(w.data())) {
      connect(b, &QAbstractButton::clicked, this, [this, id = id] { OnCommand(id); });
    }
  }
}

bool CExpandingDialog::OnDialogExpanding(bool) {
  return true;
}
void CExpandingDialog::OnDialogExpanded(bool) {}

void CExpandingDialog::OnCommand(int id) {
  if (id == buttonId_) Expand(!expanded_);
}

void CExpandingDialog::Expand(bool expand) {
  if (applied_ && expand == expanded_) return;
  if (applied_ && !OnDialogExpanding(expand)) return;
  expanded_ = expand;
  apply();
  OnDialogExpanded(expand);
}

void CExpandingDialog::apply() {
  QWidget* frame = GetDlgItem(frameId_);
  if (!applied_) {
    // What lies beyond the frame is the part that expanding reveals; widgets hidden by the
    // template stay hidden either way.
    if (layout()) layout()->activate();
    if (frame) {
      const QRect area = frame->geometry();
      for (QObject* o : children()) {
        auto* w = qobject_cast<QWidget*>(o);
        if (!w || w == frame || w->isWindow() || w->isHidden()) continue;
        const QRect g = w->geometry();
        if (g.top() >= area.bottom() || g.left() >= area.right()) outside_.push_back(w);
      }
    }
    applied_ = true;
  }
  for (const auto& w : outside_) {
    if (w) w->setVisible(expanded_);
  }
  if (auto* b = qobject_cast<QAbstractButton*>(GetDlgItem(buttonId_))) {
    b->setText(expanded_ ? collapseText_ : expandText_);
  }
  if (layout()) {
    layout()->activate();
    adjustSize();
  } else if (frame && !expanded_) {
    resize(frame->geometry().right() + 1, frame->geometry().bottom() + 1);
  } else {
    adjustSize();
  }
}
