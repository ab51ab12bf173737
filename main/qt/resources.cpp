#include "main/qt/resources.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace hv::launcher {

QPixmap loginBitmap() {
  QPixmap pm(64, 50);
  pm.fill(Qt::white);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient g(0, 0, 0, 50);
  g.setColorAt(0, QColor(90, 170, 255));
  g.setColorAt(1, QColor(20, 90, 200));
  p.setBrush(g);
  p.setPen(QPen(QColor(10, 60, 150), 2));
  p.drawRoundedRect(QRectF(3, 3, 58, 44), 12, 12);
  p.setPen(Qt::white);
  QFont f = p.font();
  f.setPixelSize(17);
  f.setBold(true);
  p.setFont(f);
  p.drawText(QRect(3, 3, 58, 44), Qt::AlignCenter, QStringLiteral("登录"));
  return pm;
}

QPixmap statusBitmap() {
  QPixmap pm(44, 44);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(QColor(40, 170, 80));
  p.setPen(QPen(QColor(20, 110, 50), 2));
  p.drawEllipse(QRectF(3, 3, 38, 38));
  QPainterPath tick;
  tick.moveTo(12, 23);
  tick.lineTo(19, 30);
  tick.lineTo(32, 14);
  p.setPen(QPen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  p.drawPath(tick);
  return pm;
}

QIcon programIcon() {
  QPixmap pm(32, 32);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(QColor(30, 110, 220));
  p.setPen(Qt::NoPen);
  p.drawRoundedRect(QRectF(1, 1, 30, 30), 7, 7);
  p.setPen(Qt::white);
  QFont f = p.font();
  f.setPixelSize(22);
  f.setBold(true);
  p.setFont(f);
  p.drawText(QRect(0, 0, 32, 32), Qt::AlignCenter, QStringLiteral("L"));
  return QIcon(pm);
}

}  // namespace hv::launcher
