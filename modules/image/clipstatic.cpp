#include "modules/image/clipstatic.h"

#include <QMouseEvent>
#include <QPainter>

using hv::pictport::Handle;
using hv::pictport::Rect;

namespace {

QRect toQ(const Rect& r) {
  return QRect(r.left, r.top, r.width(), r.height());
}

// The veil's key colour and its opacity.
const QColor kVeil(180, 180, 180, 150);

}  // namespace

CClipStatic::CClipStatic(QWidget* parent) : QWidget(parent) {
  setMouseTracking(true);
  setToolTip(QStringLiteral("在此选择原始图象"));
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void CClipStatic::setPictures(QImage display, QImage thresholded) {
  display_ = std::move(display);
  thresholded_ = std::move(thresholded);
  update();
}

void CClipStatic::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().window());
  p.setPen(palette().mid().color());
  p.drawRect(rect().adjusted(0, 0, -1, -1));
  if (!geometry_ || !geometry_->valid() || display_.isNull()) return;
  const QRect display = toQ(geometry_->display());
  const QRect frame = toQ(geometry_->frame());
  p.drawImage(display.topLeft(), display_);
  // The veil over everything of the picture outside the frame.
  QRegion outside = QRegion(display).subtracted(QRegion(frame));
  for (const QRect& r : outside) p.fillRect(r, kVeil);
  if (!thresholded_.isNull()) {
    p.drawImage(frame.topLeft(), thresholded_, frame.translated(-display.topLeft()));
  }
  p.setPen(QPen(Qt::red, 1, Qt::DashLine));
  p.setBrush(Qt::NoBrush);
  p.drawRect(frame.adjusted(0, 0, -1, -1));
  // The handles that respond: the sides always, the corners only for a free frame.
  const Rect& f = geometry_->frame();
  const int cx = (f.left + f.right) / 2, cy = (f.top + f.bottom) / 2;
  std::vector<QPoint> handles = {{f.left, cy}, {f.right, cy}, {cx, f.top}, {cx, f.bottom}};
  if (!geometry_->keepRatio()) {
    handles.insert(handles.end(),
                   {{f.left, f.top}, {f.right, f.top}, {f.left, f.bottom}, {f.right, f.bottom}});
  }
  const int r = hv::pictport::ClipGeometry::kHandleReach;
  p.setPen(Qt::black);
  p.setBrush(Qt::white);
  for (const QPoint& h : handles) p.drawRect(QRect(h - QPoint(r, r), QSize(2 * r, 2 * r)));
}

void CClipStatic::updateCursor(Handle h) {
  switch (h) {
    case Handle::Inside:
      setCursor(Qt::SizeAllCursor);
      break;
    case Handle::Left:
    case Handle::Right:
      setCursor(Qt::SizeHorCursor);
      break;
    case Handle::Top:
    case Handle::Bottom:
      setCursor(Qt::SizeVerCursor);
      break;
    case Handle::TopLeft:
    case Handle::BottomRight:
      setCursor(Qt::SizeFDiagCursor);
      break;
    case Handle::TopRight:
    case Handle::BottomLeft:
      setCursor(Qt::SizeBDiagCursor);
      break;
    case Handle::None:
      unsetCursor();
      break;
  }
}

void CClipStatic::mousePressEvent(QMouseEvent* event) {
  if (!geometry_ || event->button() != Qt::LeftButton) return;
  const QPoint at = event->position().toPoint();
  grabbed_ = geometry_->hitTest({at.x(), at.y()});
  last_ = at;
}

void CClipStatic::mouseMoveEvent(QMouseEvent* event) {
  if (!geometry_) return;
  const QPoint at = event->position().toPoint();
  if (grabbed_ == Handle::None) {
    updateCursor(geometry_->hitTest({at.x(), at.y()}));
    return;
  }
  const QPoint d = at - last_;
  if (geometry_->drag(grabbed_, d.x(), d.y())) {
    update();
    if (onFrameChanged) onFrameChanged();
  }
  last_ = at;
}

void CClipStatic::mouseReleaseEvent(QMouseEvent*) {
  grabbed_ = Handle::None;
}
