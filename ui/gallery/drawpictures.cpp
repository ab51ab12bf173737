// Draws the pictures the dialogs load: the login banner and the header backgrounds of the module
// dialogs, with the header buttons painted where the dialogs place their (bitmap-less) buttons.
// Run once when a picture changes: hv-draw-pictures <folder>; the results are shipped in DATA.
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

const QColor kDeep(0x17, 0x4a, 0x96);
const QColor kLight(0x4f, 0x96, 0xe8);

QFont font(int pixels, bool bold = false) {
  QFont f(QStringLiteral("WenQuanYi Micro Hei"));
  f.setPixelSize(pixels);
  f.setBold(bold);
  return f;
}

void background(QPainter& p, const QSize& size) {
  QLinearGradient g(0, 0, size.width(), size.height());
  g.setColorAt(0, kDeep);
  g.setColorAt(1, kLight);
  p.fillRect(QRect(QPoint(0, 0), size), g);
  // Soft waves, like a signal spreading from a phone.
  p.setPen(QPen(QColor(255, 255, 255, 40), 2));
  for (int r = 30; r < size.width(); r += 28) {
    p.drawEllipse(QPoint(size.width() - 40, size.height() / 2), r, r);
  }
}

void phone(QPainter& p, const QRect& r) {
  p.setPen(QPen(Qt::white, 2));
  p.setBrush(QColor(255, 255, 255, 50));
  p.drawRoundedRect(r, 5, 5);
  p.setBrush(QColor(0xd8, 0xf0, 0xff));
  p.drawRect(r.adjusted(4, 8, -4, -r.height() / 2));
  p.setBrush(Qt::white);
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 3; ++col) {
      p.drawEllipse(QPoint(r.left() + r.width() * (col + 1) / 4,
                           r.top() + r.height() * 6 / 10 + row * r.height() / 8),
                    1, 1);
    }
  }
}

enum class Glyph { Minimize, Close, Text, Image, Flash, Music };

void button(QPainter& p, const QRect& r, Glyph g) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
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
    case Glyph::Flash: {
      QPainterPath bolt;
      bolt.moveTo(in.center().x() + 3, in.top());
      bolt.lineTo(in.left() + 2, in.center().y() + 2);
      bolt.lineTo(in.center().x(), in.center().y() + 2);
      bolt.lineTo(in.center().x() - 3, in.bottom());
      bolt.lineTo(in.right() - 2, in.center().y() - 2);
      bolt.lineTo(in.center().x(), in.center().y() - 2);
      bolt.closeSubpath();
      p.fillPath(bolt, Qt::white);
      break;
    }
    case Glyph::Music:
      p.setBrush(Qt::white);
      p.drawEllipse(QPoint(in.left() + 3, in.bottom() - 2), 3, 2);
      p.drawLine(in.left() + 6, in.bottom() - 2, in.left() + 6, in.top());
      p.drawLine(in.left() + 6, in.top(), in.right(), in.top() + 3);
      break;
  }
  p.restore();
}

struct Placed {
  QRect rect;
  Glyph glyph;
};

// Rectangles are written as the dialogs give them: left, top, right, bottom (inclusive).
QRect ltrb(int l, int t, int r, int b) {
  return QRect(QPoint(l, t), QPoint(r, b));
}

QImage header(QSize size, const QString& title, const QString& subtitle,
              std::initializer_list<Placed> buttons) {
  QImage img(size, QImage::Format_RGB32);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  background(p, size);
  phone(p, QRect(12, 6, size.height() / 2, size.height() - 12));
  p.setPen(Qt::white);
  p.setFont(font(size.height() >= 60 ? 22 : 16, true));
  const int x = 20 + size.height() / 2;
  p.drawText(QRect(x, 4, size.width() / 2, size.height() / 2 + 4), Qt::AlignLeft | Qt::AlignVCenter,
             title);
  if (!subtitle.isEmpty()) {
    p.setFont(font(12));
    p.setPen(QColor(0xe0, 0xee, 0xff));
    p.drawText(QRect(x, size.height() / 2 + 4, size.width() / 2, size.height() / 2 - 8),
               Qt::AlignLeft | Qt::AlignVCenter, subtitle);
  }
  for (const Placed& b : buttons) button(p, b.rect, b.glyph);
  return img;
}

QImage banner() {
  const QSize size(360, 96);
  QImage img(size, QImage::Format_RGB32);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  background(p, size);
  phone(p, QRect(24, 14, 40, 68));
  p.setPen(Qt::white);
  p.setFont(font(26, true));
  p.drawText(QRect(84, 14, 260, 40), Qt::AlignLeft | Qt::AlignVCenter,
             QStringLiteral("Lumoi 用户登录"));
  p.setFont(font(13));
  p.setPen(QColor(0xe0, 0xee, 0xff));
  p.drawText(QRect(84, 54, 260, 28), Qt::AlignLeft | Qt::AlignVCenter,
             QStringLiteral("短信、图片、铃声、动画，一键发到手机"));
  return img;
}

bool save(const QImage& img, const QString& dir, const QString& name) {
  const QString path = QDir(dir).filePath(name);
  const bool ok = img.save(path, "JPEG", 92);
  std::fprintf(stderr, "%s %s\n", ok ? "wrote" : "FAILED", path.toUtf8().constData());
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: hv-draw-pictures <folder>\n");
    return 2;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  const QString dir = QString::fromLocal8Bit(argv[1]);
  bool ok = save(banner(), dir, QStringLiteral("登录.jpg"));
  ok &= save(header(QSize(490, 66), QStringLiteral("Lumo字"), QStringLiteral("短信发送"),
                    {{ltrb(445, 6, 464, 25), Glyph::Minimize},
                     {ltrb(465, 6, 484, 25), Glyph::Close},
                     {ltrb(368, 30, 398, 61), Glyph::Flash},
                     {ltrb(407, 30, 442, 61), Glyph::Image},
                     {ltrb(453, 30, 482, 61), Glyph::Music}}),
             dir, QStringLiteral("Lumo字.jpg"));
  ok &= save(header(QSize(490, 66), QStringLiteral("Lumo音"), QStringLiteral("铃声发送"),
                    {{ltrb(445, 6, 464, 25), Glyph::Minimize},
                     {ltrb(465, 6, 484, 25), Glyph::Close},
                     {ltrb(368, 30, 398, 61), Glyph::Text},
                     {ltrb(407, 30, 442, 61), Glyph::Image},
                     {ltrb(453, 30, 482, 61), Glyph::Flash}}),
             dir, QStringLiteral("Lumo音.jpg"));
  ok &= save(header(QSize(640, 70), QStringLiteral("Lumo图"), QStringLiteral("图片发送"),
                    {{ltrb(594, 7, 608, 20), Glyph::Minimize},
                     {ltrb(616, 7, 632, 20), Glyph::Close},
                     {ltrb(505, 36, 533, 64), Glyph::Text},
                     {ltrb(546, 36, 575, 64), Glyph::Music},
                     {ltrb(588, 36, 618, 64), Glyph::Flash}}),
             dir, QStringLiteral("Lumo图.jpg"));
  ok &= save(
      header(QSize(505, 36), QStringLiteral("好友列表维护"), QString(),
             {{ltrb(460, 10, 474, 28), Glyph::Minimize}, {ltrb(483, 10, 497, 28), Glyph::Close}}),
      dir, QStringLiteral("好友.jpg"));
  return ok ? 0 : 1;
}
