// Draws the pictures the image dialog loads: the phone ("PHONE/Lumo图手机.jpg") whose screen shows
// the preview, the phone panel's backgrounds and buttons ("PHONE/PTX/"), the two small flat
// buttons and the cursor for dragging the overlay text. Run when a picture changes:
//   hv-draw-pictport <shipped folder>
// and commit what it wrote under shipped/PHONE.
#include <QApplication>
#include <QDir>
#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>
#include <cstdlib>

namespace {

const QColor kBody(0x2b, 0x3a, 0x55);
const QColor kBodyLight(0x55, 0x6e, 0x98);
const QColor kScreen(0xd9, 0xe8, 0xd2);
const QColor kAccent(0x4f, 0x96, 0xe8);

QFont font(int pixels, bool bold = false) {
  QFont f(QStringLiteral("WenQuanYi Micro Hei"));
  f.setPixelSize(pixels);
  f.setBold(bold);
  return f;
}

bool save(const QImage& img, const QString& path, const char* format) {
  QDir().mkpath(QFileInfo(path).path());
  const bool ok = img.save(path, format, format == QByteArray("JPEG") ? 92 : -1);
  std::fprintf(stderr, "%s %s\n", ok ? "wrote" : "FAILED", path.toUtf8().constData());
  return ok;
}

// 197 x 244: the top of a phone whose screen is the rectangle (9, 20)-(175, 235), where the
// dialog draws the preview.
QImage phone() {
  QImage img(197, 244, QImage::Format_RGB32);
  img.fill(QColor(0xee, 0xf3, 0xfa));
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient body(0, 0, 197, 0);
  body.setColorAt(0, kBody);
  body.setColorAt(1, kBodyLight);
  p.setPen(Qt::NoPen);
  p.setBrush(body);
  p.drawRoundedRect(QRectF(1, 1, 184, 260), 22, 22);
  p.setBrush(QColor(0x1b, 0x25, 0x38));
  p.drawRoundedRect(QRectF(78, 7, 30, 5), 2, 2);  // the speaker
  p.setBrush(QColor(0x9f, 0xb8, 0xdf));
  p.drawEllipse(QPointF(186, 60), 4, 12);  // a side key
  p.setBrush(kScreen);
  p.setPen(QPen(QColor(0x10, 0x18, 0x28), 2));
  p.drawRect(QRect(QPoint(9, 20), QPoint(175, 235)));
  p.setPen(QColor(0x7a, 0x8c, 0x70));
  p.setFont(font(11));
  p.drawText(QRect(12, 22, 160, 16), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("中国移动"));
  p.drawText(QRect(12, 22, 160, 16), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("12:00"));
  return img;
}

// 197 x 202: the lower half of the phone, below the picture, with the keys painted on it; the
// text state has room for the edit box.
QImage panel(bool textState) {
  QImage img(197, 202, QImage::Format_RGB32);
  img.fill(QColor(0xee, 0xf3, 0xfa));
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient body(0, 0, 197, 0);
  body.setColorAt(0, kBody);
  body.setColorAt(1, kBodyLight);
  p.setPen(Qt::NoPen);
  p.setBrush(body);
  QPainterPath path;
  path.addRoundedRect(QRectF(1, -40, 184, 238), 22, 22);
  p.drawPath(path);
  if (!textState) {
    p.setBrush(QColor(255, 255, 255, 40));
    for (int row = 0; row < 3; ++row) {
      for (int col = 0; col < 3; ++col) {
        p.drawRoundedRect(QRectF(28 + col * 46, 108 + row * 28, 38, 20), 8, 8);
      }
    }
  } else {
    p.setBrush(QColor(255, 255, 255, 30));
    p.drawRoundedRect(QRectF(8, 6, 170, 92), 6, 6);
  }
  return img;
}

// A panel button: a rounded key with its label; the second look is lit.
QImage key(QSize size, const QString& label, bool lit) {
  QImage img(size, QImage::Format_RGB32);
  img.fill(kBody);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient g(0, 0, 0, size.height());
  g.setColorAt(0, lit ? QColor(0x8c, 0xc4, 0xff) : kAccent);
  g.setColorAt(1, lit ? kAccent : QColor(0x23, 0x5f, 0xb0));
  p.setPen(QPen(QColor(255, 255, 255, 160), 1));
  p.setBrush(g);
  p.drawRoundedRect(QRectF(0.5, 0.5, size.width() - 1, size.height() - 1), 8, 8);
  p.setPen(Qt::white);
  p.setFont(font(size.height() >= 30 ? 16 : 13, true));
  p.drawText(QRect(QPoint(0, 0), size), Qt::AlignCenter, label);
  return img;
}

// The flat buttons beside the recipient box (a person) and the model picker (a phone).
QImage smallIcon(bool person) {
  QImage img(20, 20, QImage::Format_RGB32);
  img.fill(QColor(0xee, 0xf3, 0xfa));
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(kAccent);
  if (person) {
    p.drawEllipse(QPointF(10, 6), 4, 4);
    p.drawRoundedRect(QRectF(3, 11, 14, 8), 4, 4);
  } else {
    p.drawRoundedRect(QRectF(6, 1, 8, 18), 2, 2);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(7.5, 3, 5, 7));
  }
  return img;
}

// A hand with four arrows, for the text being dragged; transparent outside.
QImage dragCursor() {
  QImage img(17, 17, QImage::Format_ARGB32);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(Qt::white, 3));
  const QPointF c(8, 8);
  auto arrows = [&](const QPen& pen) {
    p.setPen(pen);
    p.drawLine(QPointF(8, 1), QPointF(8, 15));
    p.drawLine(QPointF(1, 8), QPointF(15, 8));
    p.drawLine(QPointF(8, 1), QPointF(5.5, 3.5));
    p.drawLine(QPointF(8, 1), QPointF(10.5, 3.5));
    p.drawLine(QPointF(8, 15), QPointF(5.5, 12.5));
    p.drawLine(QPointF(8, 15), QPointF(10.5, 12.5));
    p.drawLine(QPointF(1, 8), QPointF(3.5, 5.5));
    p.drawLine(QPointF(1, 8), QPointF(3.5, 10.5));
    p.drawLine(QPointF(15, 8), QPointF(12.5, 5.5));
    p.drawLine(QPointF(15, 8), QPointF(12.5, 10.5));
  };
  arrows(QPen(Qt::white, 3));
  arrows(QPen(Qt::black, 1));
  (void)c;
  return img;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: hv-draw-pictport <shipped folder>\n");
    return 2;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  const QDir root(QString::fromLocal8Bit(argv[1]));
  const QString ptx = root.filePath(QStringLiteral("PHONE/PTX/"));
  bool ok = save(phone(), root.filePath(QStringLiteral("PHONE/Lumo图手机.jpg")), "JPEG");
  ok &= save(panel(false), ptx + QStringLiteral("panel_normal.jpg"), "JPEG");
  ok &= save(panel(true), ptx + QStringLiteral("panel_text.jpg"), "JPEG");
  ok &= save(key(QSize(100, 34), QStringLiteral("发 送"), false), ptx + QStringLiteral("send.bmp"),
             "BMP");
  ok &= save(key(QSize(100, 34), QStringLiteral("发 送"), true),
             ptx + QStringLiteral("send_lit.bmp"), "BMP");
  ok &= save(key(QSize(80, 26), QStringLiteral("字体"), false), ptx + QStringLiteral("font.bmp"),
             "BMP");
  ok &= save(key(QSize(80, 26), QStringLiteral("字体"), true), ptx + QStringLiteral("font_lit.bmp"),
             "BMP");
  ok &= save(key(QSize(80, 26), QStringLiteral("返回"), false), ptx + QStringLiteral("back.bmp"),
             "BMP");
  ok &= save(key(QSize(80, 26), QStringLiteral("返回"), true), ptx + QStringLiteral("back_lit.bmp"),
             "BMP");
  ok &= save(smallIcon(true), root.filePath(QStringLiteral("PHONE/pictport_1007.bmp")), "BMP");
  ok &= save(smallIcon(false), root.filePath(QStringLiteral("PHONE/pictport_1006.bmp")), "BMP");
  ok &= save(dragCursor(), root.filePath(QStringLiteral("PHONE/pictport_drag.png")), "PNG");
  return ok ? 0 : 1;
}
