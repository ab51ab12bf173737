// Draws the pictures the animation dialog loads: its header "DATA/Lumo影.jpg" (800 x 70, with
// the minimise, close and module buttons painted where the dialog places them), the phone
// "PHONE/Lumo影手机.jpg" (187 x 410) whose screen shows the preview 40 pixels down, and the
// buttons "PHONE/flickport_<control id>.bmp". Run when a picture changes:
//   hv-draw-flickport <shipped folder>
// and commit what it wrote.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

const QColor kDeep(0x17, 0x4a, 0x96);
const QColor kLight(0x4f, 0x96, 0xe8);
const QColor kBody(0x2b, 0x3a, 0x55);
const QColor kBodyLight(0x55, 0x6e, 0x98);
const QColor kDialog(0xef, 0xef, 0xef);

QFont font(int pixels, bool bold = false) {
  QFont f(QStringLiteral("WenQuanYi Micro Hei"));
  f.setPixelSize(pixels);
  f.setBold(bold);
  return f;
}

bool save(const QImage& img, const QString& path, const char* format) {
  QDir().mkpath(QFileInfo(path).path());
  const bool ok = img.save(path, format, QByteArray(format) == "JPEG" ? 92 : -1);
  std::fprintf(stderr, "%s %s\n", ok ? "wrote" : "FAILED", path.toUtf8().constData());
  return ok;
}

QRect ltrb(int l, int t, int r, int b) {
  return QRect(QPoint(l, t), QPoint(r, b));
}

enum class Glyph { Minimize, Close, Text, Image, Music };

void headerButton(QPainter& p, const QRect& r, Glyph g) {
  p.save();
  p.setPen(QPen(QColor(255, 255, 255, 200), 1));
  p.setBrush(QColor(255, 255, 255, 45));
  p.drawRoundedRect(r.adjusted(0, 0, -1, -1), 3, 3);
  p.setPen(QPen(Qt::white, 2));
  p.setBrush(Qt::NoBrush);
  const QRect in = r.adjusted(r.width() / 4, r.height() / 4, -r.width() / 4, -r.height() / 4);
  switch (g) {
    case Glyph::Minimize:
      p.drawLine(in.bottomLeft(), in.bottomRight());
      break;
    case Glyph::Close:
      p.drawLine(in.topLeft(), in.bottomRight());
      p.drawLine(in.topRight(), in.bottomLeft());
      break;
    case Glyph::Text:
      p.setFont(font(in.height() + 4, true));
      p.drawText(r, Qt::AlignCenter, QStringLiteral("字"));
      break;
    case Glyph::Image:
      p.drawRect(in);
      p.drawLine(in.left(), in.bottom(), in.center().x(), in.center().y());
      p.drawLine(in.center().x(), in.center().y(), in.right(), in.bottom());
      break;
    case Glyph::Music:
      p.setBrush(Qt::white);
      p.drawEllipse(QPoint(in.left() + 3, in.bottom() - 2), 3, 2);
      p.drawLine(in.left() + 6, in.bottom() - 2, in.left() + 6, in.top());
      p.drawLine(in.left() + 6, in.top(), in.right(), in.top() + 3);
      break;
  }
  p.restore();
}

// A strip of film frames, the module's sign.
void film(QPainter& p, const QRect& r) {
  p.save();
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 255, 255, 60));
  p.drawRoundedRect(r, 4, 4);
  p.setBrush(Qt::white);
  for (int y = r.top() + 3; y < r.bottom() - 3; y += 7) {
    p.drawRect(r.left() + 3, y, 4, 4);
    p.drawRect(r.right() - 6, y, 4, 4);
  }
  p.setBrush(QColor(0xff, 0xc8, 0x5a));
  p.drawRect(QRect(r.left() + 10, r.top() + 5, r.width() - 20, r.height() / 2 - 8));
  p.setBrush(QColor(0x9f, 0xe0, 0x8a));
  p.drawRect(QRect(r.left() + 10, r.center().y() + 3, r.width() - 20, r.height() / 2 - 8));
  p.restore();
}

QImage header() {
  const QSize size(800, 70);
  QImage img(size, QImage::Format_RGB32);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient g(0, 0, size.width(), size.height());
  g.setColorAt(0, kDeep);
  g.setColorAt(1, kLight);
  p.fillRect(img.rect(), g);
  p.setPen(QPen(QColor(255, 255, 255, 40), 2));
  for (int r = 30; r < size.width(); r += 28) p.drawEllipse(QPoint(size.width() - 40, 35), r, r);
  film(p, QRect(12, 6, 38, 58));
  p.setPen(Qt::white);
  p.setFont(font(22, true));
  p.drawText(QRect(62, 4, 300, 38), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Lumo影"));
  p.setFont(font(12));
  p.setPen(QColor(0xe0, 0xee, 0xff));
  p.drawText(QRect(62, 40, 400, 24), Qt::AlignLeft | Qt::AlignVCenter,
             QStringLiteral("动画发送 · Flash 动画变成手机动画和漫画"));
  headerButton(p, ltrb(754, 7, 768, 20), Glyph::Minimize);
  headerButton(p, ltrb(776, 7, 792, 20), Glyph::Close);
  headerButton(p, ltrb(665, 36, 693, 64), Glyph::Text);
  headerButton(p, ltrb(706, 36, 735, 64), Glyph::Image);
  headerButton(p, ltrb(748, 36, 778, 64), Glyph::Music);
  return img;
}

// 187 x 410: a phone whose screen (the preview's place, 40 pixels down) is framed by the body,
// with room for the send key at (62, 262) 63 x 26 and a keypad below it.
QImage phone() {
  QImage img(187, 410, QImage::Format_RGB32);
  img.fill(kDialog);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient body(0, 0, 187, 0);
  body.setColorAt(0, kBody);
  body.setColorAt(1, kBodyLight);
  p.setPen(QPen(QColor(0xb8, 0xc8, 0xdc), 2));
  p.setBrush(body);
  p.drawRoundedRect(QRectF(1, 1, 185, 408), 24, 24);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x0e, 0x15, 0x20));
  p.drawRoundedRect(QRectF(73, 14, 40, 6), 3, 3);  // the earpiece
  p.setBrush(QColor(0xd9, 0xe8, 0xd2));
  p.setPen(QPen(QColor(0x10, 0x18, 0x28), 2));
  p.drawRect(QRect(QPoint(3, 30), QPoint(183, 254)));
  p.setPen(QColor(0x7a, 0x8c, 0x70));
  p.setFont(font(10));
  p.drawText(QRect(8, 31, 170, 9), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("中国移动"));
  p.drawText(QRect(8, 31, 170, 9), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("12:00"));
  // Soft keys on either side of the send key, then the keypad.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x9f, 0xb8, 0xdf));
  p.drawRoundedRect(QRectF(14, 265, 40, 20), 8, 8);
  p.drawRoundedRect(QRectF(133, 265, 40, 20), 8, 8);
  p.setFont(font(13, true));
  const QString keys = QStringLiteral("123456789*0#");
  for (int i = 0; i < 12; ++i) {
    const QRectF k(22 + (i % 3) * 50, 298 + (i / 3) * 27, 42, 22);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 50));
    p.drawRoundedRect(k, 9, 9);
    p.setPen(QColor(0xe8, 0xf0, 0xff));
    p.drawText(k, Qt::AlignCenter, keys.mid(i, 1));
  }
  return img;
}

// A transport button: a light rounded face with a dark glyph.
QImage button(QSize size, const std::function<void(QPainter&, const QRectF&)>& glyph) {
  QImage img(size, QImage::Format_RGB32);
  img.fill(kDialog);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient face(0, 0, 0, size.height());
  face.setColorAt(0, QColor(0xfd, 0xfe, 0xff));
  face.setColorAt(1, QColor(0xc9, 0xdb, 0xf2));
  p.setPen(QPen(QColor(0x6d, 0x8c, 0xb8), 1));
  p.setBrush(face);
  p.drawRoundedRect(QRectF(0.5, 0.5, size.width() - 1, size.height() - 1), 4, 4);
  const QRectF in(size.width() / 2.0 - 7, size.height() / 2.0 - 6, 14, 12);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x1f, 0x3b, 0x66));
  glyph(p, in);
  return img;
}

void triangle(QPainter& p, QPointF a, QPointF b, QPointF c) {
  QPainterPath path;
  path.moveTo(a);
  path.lineTo(b);
  path.lineTo(c);
  path.closeSubpath();
  p.drawPath(path);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: hv-draw-flickport <shipped folder>\n");
    return 2;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  const QDir root(QString::fromLocal8Bit(argv[1]));
  bool ok = save(header(), root.filePath(QStringLiteral("DATA/Lumo影.jpg")), "JPEG");
  ok &= save(phone(), root.filePath(QStringLiteral("PHONE/Lumo影手机.jpg")), "JPEG");
  const QSize small(30, 26);
  auto bmp = [&](int id, QSize size, const std::function<void(QPainter&, const QRectF&)>& g) {
    ok &= save(button(size, g), root.filePath(QStringLiteral("PHONE/flickport_%1.bmp").arg(id)),
               "BMP");
  };
  bmp(1007, small, [](QPainter& p, const QRectF& r) {  // open: a folder
    p.drawRect(QRectF(r.left(), r.top() + 3, r.width(), r.height() - 3));
    p.drawRect(QRectF(r.left(), r.top() + 1, 6, 3));
    p.setBrush(QColor(0xff, 0xc8, 0x5a));
    p.drawRect(QRectF(r.left() + 1.5, r.top() + 5, r.width() - 3, r.height() - 6.5));
  });
  bmp(1008, small, [](QPainter& p, const QRectF& r) {  // play
    triangle(p, r.topLeft() + QPointF(2, 0), r.bottomLeft() + QPointF(2, 0),
             QPointF(r.right(), r.center().y()));
  });
  bmp(1009, small, [](QPainter& p, const QRectF& r) {  // pause
    p.drawRect(QRectF(r.left() + 2, r.top(), 4, r.height()));
    p.drawRect(QRectF(r.right() - 6, r.top(), 4, r.height()));
  });
  bmp(1010, small, [](QPainter& p, const QRectF& r) {  // stop
    p.drawRect(r.adjusted(1, 0, -1, 0));
  });
  bmp(1011, small, [](QPainter& p, const QRectF& r) {  // previous frame
    p.drawRect(QRectF(r.left(), r.top(), 3, r.height()));
    triangle(p, QPointF(r.right(), r.top()), QPointF(r.right(), r.bottom()),
             QPointF(r.left() + 3, r.center().y()));
  });
  bmp(1012, small, [](QPainter& p, const QRectF& r) {  // next frame
    p.drawRect(QRectF(r.right() - 3, r.top(), 3, r.height()));
    triangle(p, r.topLeft(), r.bottomLeft(), QPointF(r.right() - 3, r.center().y()));
  });
  bmp(1013, small, [](QPainter& p, const QRectF& r) {  // first mark: |-
    p.drawRect(QRectF(r.left() + 1, r.top(), 3, r.height()));
    p.drawRect(QRectF(r.left() + 4, r.center().y() - 1.5, r.width() - 5, 3));
    p.setBrush(QColor(0xe8, 0x6a, 0x1f));
    p.drawRect(QRectF(r.left() + 6, r.bottom() - 2, r.width() - 7, 2));
  });
  bmp(1014, small, [](QPainter& p, const QRectF& r) {  // last mark: -|
    p.drawRect(QRectF(r.right() - 4, r.top(), 3, r.height()));
    p.drawRect(QRectF(r.left() + 1, r.center().y() - 1.5, r.width() - 5, 3));
    p.setBrush(QColor(0xe8, 0x6a, 0x1f));
    p.drawRect(QRectF(r.left() + 1, r.bottom() - 2, r.width() - 7, 2));
  });
  const QSize square(26, 26);
  bmp(1062, square, [](QPainter& p, const QRectF& r) {  // move up
    triangle(p, QPointF(r.center().x(), r.top()), r.bottomLeft(), r.bottomRight());
  });
  bmp(1061, square, [](QPainter& p, const QRectF& r) {  // move down
    triangle(p, r.topLeft(), r.topRight(), QPointF(r.center().x(), r.bottom()));
  });
  // The phone's send key: a green key with the word on it.
  {
    QImage key(63, 26, QImage::Format_RGB32);
    key.fill(QColor(0x3e, 0x51, 0x74));
    QPainter p(&key);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, 26);
    g.setColorAt(0, QColor(0x7d, 0xd8, 0x6a));
    g.setColorAt(1, QColor(0x2f, 0x9a, 0x3c));
    p.setPen(QPen(QColor(0x1d, 0x5e, 0x25), 1));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(0.5, 0.5, 62, 25), 11, 11);
    p.setPen(Qt::white);
    p.setFont(font(13, true));
    p.drawText(key.rect(), Qt::AlignCenter, QStringLiteral("发送"));
    p.end();
    ok &= save(key, root.filePath(QStringLiteral("PHONE/flickport_1052.bmp")), "BMP");
  }
  return ok ? 0 : 1;
}
