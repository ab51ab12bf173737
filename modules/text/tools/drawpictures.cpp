// Draws the pictures of the text dialog: the phone "PHONE/手机.jpg" whose screen holds the message
// text, and the picture send button "PHONE/PTX/normal_send1.bmp" (at rest) and
// "normal_send2.bmp" (under the mouse). Run once when a picture changes:
//   hv-draw-textport-pictures <shipped folder>
// The results are kept in shipped/PHONE. The places follow the dialog: the screen under the text
// edit at (20, 46) 150 x 200, the send key at (159, 267) 23 x 28, the fee notice on a light
// panel at (23, 287)-(143, 327), all relative to the phone's top left corner.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cstdio>
#include <cstdlib>

namespace {

const QSize kPhoneSize(190, 340);
const QRect kSendKey(159, 267, 23, 28);
// The dialog paints its background from #eaf2fc at the top of the window to #d2e2f6 at the
// bottom (418 pixels: 66 of header, 352 of body); the phone sits 72 pixels down.
const QColor kTop(0xea, 0xf2, 0xfc), kBottom(0xd2, 0xe2, 0xf6);
constexpr int kWindowHeight = 418, kPhoneTop = 72;
const QColor kBodyTop(0x34, 0x48, 0x66), kBodyBottom(0x1a, 0x25, 0x36);

QColor mix(const QColor& a, const QColor& b, double t) {
  return QColor::fromRgbF(a.redF() + (b.redF() - a.redF()) * t,
                          a.greenF() + (b.greenF() - a.greenF()) * t,
                          a.blueF() + (b.blueF() - a.blueF()) * t);
}

void dialogBackground(QImage& img) {
  for (int y = 0; y < img.height(); ++y) {
    const QColor c = mix(kTop, kBottom, double(kPhoneTop + y) / kWindowHeight);
    for (int x = 0; x < img.width(); ++x) img.setPixelColor(x, y, c);
  }
}

QImage phone() {
  QImage img(kPhoneSize, QImage::Format_RGB32);
  dialogBackground(img);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);

  // Body with a light rim.
  const QRectF body(3.5, 1.5, 183, 336);
  QLinearGradient g(0, 0, 0, kPhoneSize.height());
  g.setColorAt(0, kBodyTop);
  g.setColorAt(1, kBodyBottom);
  p.setPen(QPen(QColor(0xb8, 0xc8, 0xdc), 2));
  p.setBrush(g);
  p.drawRoundedRect(body, 26, 26);

  // Earpiece and camera.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x0e, 0x15, 0x20));
  p.drawRoundedRect(QRectF(75, 16, 40, 6), 3, 3);
  p.setBrush(QColor(0x3d, 0x6f, 0xb0));
  p.drawEllipse(QPointF(130, 19), 3, 3);

  // The screen: a dark bezel and the light display the text edit lies on.
  p.setBrush(QColor(0x0b, 0x11, 0x1a));
  p.drawRoundedRect(QRectF(14, 38, 162, 216), 6, 6);
  p.setBrush(QColor(0xf4, 0xfb, 0xff));
  p.drawRect(QRect(20, 46, 150, 200));

  // Soft keys and the navigation key between them.
  p.setBrush(QColor(0x4a, 0x60, 0x82));
  p.drawRoundedRect(QRectF(22, 261, 34, 12), 5, 5);
  p.drawRoundedRect(QRectF(112, 261, 34, 12), 5, 5);
  QRadialGradient nav(QPointF(84, 267), 12);
  nav.setColorAt(0, QColor(0x9c, 0xb2, 0xd0));
  nav.setColorAt(1, QColor(0x56, 0x6c, 0x8e));
  p.setBrush(nav);
  p.drawEllipse(QPointF(84, 267), 11, 11);

  // The recess of the send key.
  p.setBrush(QColor(0x0e, 0x15, 0x20));
  p.drawRoundedRect(QRectF(kSendKey).adjusted(-2, -2, 2, 2), 7, 7);

  // The light panel the fee notice is written on.
  p.setBrush(QColor(0xee, 0xf4, 0xfc));
  p.setPen(QPen(QColor(0x8e, 0xa6, 0xc6), 1));
  p.drawRoundedRect(QRectF(19.5, 283.5, 128, 48), 6, 6);
  return img;
}

// The send key alone, on the phone's body colour so that its corners blend in.
QImage sendKey(bool hover) {
  QImage img(kSendKey.size(), QImage::Format_RGB32);
  img.fill(QColor(0x0e, 0x15, 0x20));
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient g(0, 0, 0, img.height());
  g.setColorAt(0, hover ? QColor(0x7d, 0xe8, 0x6a) : QColor(0x4c, 0xc2, 0x3e));
  g.setColorAt(1, hover ? QColor(0x2f, 0xa8, 0x2a) : QColor(0x1f, 0x80, 0x1c));
  p.setPen(QPen(hover ? QColor(0xe6, 0xff, 0xd8) : QColor(0x9b, 0xe0, 0x8c), 1));
  p.setBrush(g);
  p.drawRoundedRect(QRectF(0.5, 0.5, img.width() - 1, img.height() - 1), 6, 6);
  // An envelope with an arrow: "send".
  p.setPen(QPen(Qt::white, 1.4));
  p.setBrush(Qt::NoBrush);
  const QRectF env(4.5, 9.5, 14, 10);
  p.drawRect(env);
  p.drawLine(env.topLeft(), QPointF(env.center().x(), env.center().y() + 1));
  p.drawLine(env.topRight(), QPointF(env.center().x(), env.center().y() + 1));
  QPainterPath arrow;
  arrow.moveTo(11.5, 3);
  arrow.lineTo(15.5, 7);
  arrow.lineTo(7.5, 7);
  arrow.closeSubpath();
  p.fillPath(arrow, Qt::white);
  return img;
}

bool save(const QImage& img, const QString& path, const char* format) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  // Windows 3 BMP with 24 bits per pixel; JPEG at high quality.
  const QImage out = QByteArray(format) == "BMP" ? img.convertToFormat(QImage::Format_RGB888) : img;
  const bool ok = out.save(path, format, 92);
  std::fprintf(stderr, "%s %s\n", ok ? "wrote" : "FAILED", path.toUtf8().constData());
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: hv-draw-textport-pictures <shipped folder>\n");
    return 2;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  const QDir dir(QString::fromLocal8Bit(argv[1]));
  bool ok = save(phone(), dir.filePath(QStringLiteral("PHONE/手机.jpg")), "JPEG");
  ok &= save(sendKey(false), dir.filePath(QStringLiteral("PHONE/PTX/normal_send1.bmp")), "BMP");
  ok &= save(sendKey(true), dir.filePath(QStringLiteral("PHONE/PTX/normal_send2.bmp")), "BMP");
  return ok ? 0 : 1;
}
