// Draws the shipped skins: run "hv-draw-skins <shipped/SKIN>" (offscreen is enough) and commit
// what it writes. Two skins, "blue.skin" (蓝色海洋) and "amber.skin" (琥珀时光), each with a
// background, every button at rest and under the mouse (magenta 255,0,255 is transparent) and the
// 32 x 32 icons of the tray menu.
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTextStream>
#include <cstdio>
#include <functional>
#include <vector>

#include "platform/gbk.h"

namespace {

const QColor kKey(255, 0, 255);  // the transparent colour of every button picture

struct Theme {
  QString file, folder, name;
  QColor dark, light, accent, panel;
  bool round;  // round module buttons (amber) or rounded squares (blue)
};

struct Button {
  QString name, type, picture, icon, dll;
  QRect rect;
  QString label;
};

QFont font(int px, bool bold = false) {
  QFont f(QStringLiteral("WenQuanYi Micro Hei"));
  f.setPixelSize(px);
  f.setBold(bold);
  return f;
}

// The glyph of a module, drawn into a square of side s centred at c.
void glyph(QPainter& p, const QString& kind, QPointF c, double s, const QColor& ink) {
  p.save();
  p.setPen(QPen(ink, s / 12, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  const QRectF box(c.x() - s / 2, c.y() - s / 2, s, s);
  if (kind == QStringLiteral("text")) {
    QPainterPath bubble;
    bubble.addRoundedRect(box.adjusted(0, 0, 0, -s / 5), s / 6, s / 6);
    bubble.moveTo(box.left() + s / 4, box.bottom() - s / 5);
    bubble.lineTo(box.left() + s / 5, box.bottom());
    bubble.lineTo(box.left() + s / 2.5, box.bottom() - s / 5);
    p.drawPath(bubble);
    p.setFont(font(int(s / 2.2), true));
    p.setPen(ink);
    p.drawText(box.adjusted(0, 0, 0, -s / 5), Qt::AlignCenter, QStringLiteral("字"));
  } else if (kind == QStringLiteral("image")) {
    p.drawRoundedRect(box.adjusted(0, s / 8, 0, -s / 8), s / 10, s / 10);
    QPainterPath hills;
    hills.moveTo(box.left() + s / 10, box.bottom() - s / 5);
    hills.lineTo(box.left() + s / 2.8, box.top() + s / 2);
    hills.lineTo(box.left() + s / 1.8, box.bottom() - s / 3);
    hills.lineTo(box.left() + s / 1.4, box.top() + s / 1.7);
    hills.lineTo(box.right() - s / 10, box.bottom() - s / 5);
    p.drawPath(hills);
    p.setBrush(ink);
    p.drawEllipse(QPointF(box.right() - s / 4, box.top() + s / 3), s / 12, s / 12);
  } else if (kind == QStringLiteral("flash")) {
    const QRectF film = box.adjusted(s / 10, 0, -s / 10, 0);
    p.drawRect(film);
    for (int i = 0; i < 4; ++i) {
      const double y = film.top() + s / 8 + i * s / 4.5;
      p.drawRect(QRectF(film.left() + s / 20, y, s / 12, s / 12));
      p.drawRect(QRectF(film.right() - s / 20 - s / 12, y, s / 12, s / 12));
    }
    QPainterPath play;
    play.moveTo(c.x() - s / 8, c.y() - s / 5);
    play.lineTo(c.x() + s / 5, c.y());
    play.lineTo(c.x() - s / 8, c.y() + s / 5);
    play.closeSubpath();
    p.setBrush(ink);
    p.drawPath(play);
  } else if (kind == QStringLiteral("music")) {
    p.setBrush(ink);
    p.drawEllipse(QPointF(c.x() - s / 4, c.y() + s / 4), s / 7, s / 9);
    p.drawEllipse(QPointF(c.x() + s / 4, c.y() + s / 6), s / 7, s / 9);
    p.drawLine(QPointF(c.x() - s / 4 + s / 7, c.y() + s / 4),
               QPointF(c.x() - s / 10, c.y() - s / 3));
    p.drawLine(QPointF(c.x() + s / 4 + s / 7, c.y() + s / 6),
               QPointF(c.x() + s / 2.6, c.y() - s / 2.4));
    p.drawLine(QPointF(c.x() - s / 10, c.y() - s / 3), QPointF(c.x() + s / 2.6, c.y() - s / 2.4));
  } else if (kind == QStringLiteral("friends")) {
    p.setBrush(ink);
    p.drawEllipse(QPointF(c.x() - s / 6, c.y() - s / 6), s / 7, s / 7);
    p.drawEllipse(QPointF(c.x() + s / 5, c.y() - s / 8), s / 8, s / 8);
    p.drawPie(QRectF(c.x() - s / 2.4, c.y(), s / 2, s / 2), 0, 180 * 16);
    p.drawPie(QRectF(c.x(), c.y() + s / 20, s / 2.4, s / 2.4), 0, 180 * 16);
  } else if (kind == QStringLiteral("help")) {
    p.drawEllipse(box.adjusted(s / 10, s / 10, -s / 10, -s / 10));
    p.setFont(font(int(s / 1.8), true));
    p.setPen(ink);
    p.drawText(box, Qt::AlignCenter, QStringLiteral("?"));
  } else if (kind == QStringLiteral("contact")) {
    QPainterPath phone;
    phone.addRoundedRect(box.adjusted(s / 4, 0, -s / 4, 0), s / 10, s / 10);
    p.drawPath(phone);
    p.drawLine(QPointF(c.x() - s / 12, box.bottom() - s / 8),
               QPointF(c.x() + s / 12, box.bottom() - s / 8));
  } else if (kind == QStringLiteral("about")) {
    p.drawEllipse(box.adjusted(s / 10, s / 10, -s / 10, -s / 10));
    p.setFont(font(int(s / 1.8), true));
    p.setPen(ink);
    p.drawText(box, Qt::AlignCenter, QStringLiteral("i"));
  } else if (kind == QStringLiteral("minimize")) {
    p.drawLine(QPointF(box.left() + s / 4, c.y() + s / 6),
               QPointF(box.right() - s / 4, c.y() + s / 6));
  } else if (kind == QStringLiteral("exit")) {
    p.drawLine(box.topLeft() + QPointF(s / 4, s / 4), box.bottomRight() - QPointF(s / 4, s / 4));
    p.drawLine(box.topRight() + QPointF(-s / 4, s / 4), box.bottomLeft() + QPointF(s / 4, -s / 4));
  }
  p.restore();
}

// A button picture on the transparent colour: hover is lighter and ringed.
QImage buttonPicture(const Theme& t, const Button& b, bool hover) {
  QImage img(b.rect.size(), QImage::Format_RGB32);
  img.fill(kKey);
  QPainter p(&img);
  // No antialiasing at the edge: a blended edge pixel would not be the transparent colour.
  const QRectF area(0.5, 0.5, b.rect.width() - 1.0, b.rect.height() - 1.0);
  QLinearGradient g(0, 0, 0, b.rect.height());
  g.setColorAt(0, hover ? t.light.lighter(115) : t.light);
  g.setColorAt(1, hover ? t.accent.lighter(120) : t.accent);
  p.setBrush(g);
  p.setPen(QPen(hover ? QColor(Qt::white) : t.dark, hover ? 2 : 1));
  const bool round = t.round && b.rect.width() == b.rect.height();
  if (round) {
    p.drawEllipse(area.adjusted(1, 1, -1, -1));
  } else if (b.rect.width() < 30) {
    p.drawRect(area.adjusted(1, 1, -1, -1));
  } else {
    p.drawRoundedRect(area.adjusted(1, 1, -1, -1), 9, 9);
  }
  p.setRenderHint(QPainter::Antialiasing);
  const double s = std::min(b.rect.width(), b.rect.height());
  if (!b.label.isEmpty() && b.rect.height() >= 60) {
    glyph(p, b.icon, QPointF(b.rect.width() / 2.0, b.rect.height() / 2.0 - 8), s * 0.48, Qt::white);
    p.setPen(Qt::white);
    p.setFont(font(13, true));
    p.drawText(QRect(0, b.rect.height() - 24, b.rect.width(), 20), Qt::AlignCenter, b.label);
  } else if (!b.label.isEmpty()) {
    glyph(p, b.icon, QPointF(s / 2 + 4, b.rect.height() / 2.0), s * 0.6, Qt::white);
    p.setPen(Qt::white);
    p.setFont(font(14, true));
    p.drawText(QRect(int(s), 0, b.rect.width() - int(s) - 4, b.rect.height()), Qt::AlignCenter,
               b.label);
  } else {
    glyph(p, b.icon, QPointF(b.rect.width() / 2.0, b.rect.height() / 2.0), s, Qt::white);
  }
  return img;
}

QImage icon(const Theme& t, const QString& kind) {
  QImage img(32, 32, QImage::Format_ARGB32);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(t.accent);
  p.setPen(Qt::NoPen);
  p.drawRoundedRect(QRectF(1, 1, 30, 30), 7, 7);
  glyph(p, kind, QPointF(16, 16), 22, Qt::white);
  return img;
}

QImage background(const Theme& t, const std::vector<Button>& buttons) {
  QImage img(400, 300, QImage::Format_RGB32);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient g(0, 0, 0, 300);
  g.setColorAt(0, t.dark);
  g.setColorAt(0.55, t.light);
  g.setColorAt(1, t.dark);
  p.fillRect(img.rect(), g);
  QRadialGradient glow(320, 20, 220);
  glow.setColorAt(0, QColor(255, 255, 255, 90));
  glow.setColorAt(1, QColor(255, 255, 255, 0));
  p.fillRect(img.rect(), glow);
  p.setPen(QColor(255, 255, 255, 230));
  p.setFont(font(22, true));
  p.drawText(QRect(16, 6, 200, 32), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Lumoi"));
  p.setFont(font(12));
  p.drawText(QRect(96, 10, 200, 28), Qt::AlignLeft | Qt::AlignVCenter, t.name);
  // The links are drawn into the background; their entries are invisible hot areas over them.
  p.setFont(font(12));
  for (const auto& b : buttons) {
    if (b.type != QStringLiteral("提示型")) continue;
    p.setPen(QColor(255, 255, 255, 240));
    p.drawText(b.rect, Qt::AlignCenter, b.name);
    p.setPen(QColor(255, 255, 255, 120));
    p.drawLine(b.rect.left() + 3, b.rect.bottom(), b.rect.right() - 3, b.rect.bottom());
  }
  // The sign-in panel's place.
  p.setBrush(t.panel);
  p.setPen(QPen(t.dark, 1));
  p.drawRoundedRect(QRectF(12, 190, 376, 100), 10, 10);
  return img;
}

std::vector<Button> layout(const Theme& t) {
  std::vector<Button> b;
  const QString modules[4][5] = {
      {QStringLiteral("Lumo字"), QStringLiteral("text"), QStringLiteral("短信"),
       QStringLiteral("../libTextport.so"), QStringLiteral("text")},
      {QStringLiteral("Lumo图"), QStringLiteral("image"), QStringLiteral("图片"),
       QStringLiteral("../libPictport.so"), QStringLiteral("image")},
      {QStringLiteral("Lumo影"), QStringLiteral("flash"), QStringLiteral("动画"),
       QStringLiteral("../libFlickport.so"), QStringLiteral("flash")},
      {QStringLiteral("Lumo音"), QStringLiteral("music"), QStringLiteral("铃声"),
       QStringLiteral("../libRingport.so"), QStringLiteral("music")},
  };
  for (int i = 0; i < 4; ++i) {
    const QRect r = t.round ? QRect(28 + i * 92, 48, 72, 72) : QRect(20 + i * 95, 48, 76, 84);
    b.push_back({modules[i][0], QStringLiteral("图片型"), modules[i][1], modules[i][4],
                 modules[i][3], r, modules[i][2]});
  }
  b.push_back({QStringLiteral("好友列表"),
               t.round ? QStringLiteral("文字型") : QStringLiteral("图片型"),
               QStringLiteral("friends"),
               QStringLiteral("friends"),
               {},
               QRect(20, 142, 112, 36),
               QStringLiteral("好友列表")});
  const QString links[6][2] = {{QStringLiteral("帮助"), QStringLiteral("help")},
                               {QStringLiteral("联系"), QStringLiteral("contact")},
                               {QStringLiteral("邮件"), {}},
                               {QStringLiteral("关于我们"), QStringLiteral("about")},
                               {QStringLiteral("资费说明"), {}},
                               {QStringLiteral("首页"), {}}};
  int x = 140;
  for (const auto& l : links) {
    const int w = int(l[0].size()) * 12 + 4;
    b.push_back({l[0], QStringLiteral("提示型"), {}, l[1], {}, QRect(x, 150, w, 22), {}});
    x += w + 4;
  }
  b.push_back({QStringLiteral("最小化"),
               QStringLiteral("图片型"),
               QStringLiteral("minimize"),
               QStringLiteral("minimize"),
               {},
               QRect(344, 8, 22, 22),
               {}});
  b.push_back({QStringLiteral("退出"),
               QStringLiteral("图片型"),
               QStringLiteral("exit"),
               QStringLiteral("exit"),
               {},
               QRect(370, 8, 22, 22),
               {}});
  return b;
}

QString rect(const QRect& r) {
  return QStringLiteral("%1,%2,%3,%4")
      .arg(r.left())
      .arg(r.top())
      .arg(r.right() + 1)
      .arg(r.bottom() + 1);
}

bool writeSkin(const QString& out, const Theme& t) {
  QDir().mkpath(out + QLatin1Char('/') + t.folder);
  const auto buttons = layout(t);
  const QString dir = out + QLatin1Char('/') + t.folder + QLatin1Char('/');
  bool ok = background(t, buttons).save(dir + QStringLiteral("background.jpg"), "JPG", 92);
  ok = icon(t, QStringLiteral("text")).save(dir + QStringLiteral("appicon.png")) && ok;
  QString text;
  QTextStream s(&text);
  s << "[ALL]\r\nname=" << t.name << "\r\nbackground=" << t.folder << "/background.jpg\r\n"
    << "appicons=" << t.folder << "/appicon.png\r\nfocuscount=" << buttons.size() << "\r\n";
  for (size_t i = 0; i < buttons.size(); ++i) {
    const Button& b = buttons[i];
    s << "\r\n[" << i << "]\r\ntype=" << b.type << "\r\nname=" << b.name << "\r\n";
    if (b.type == QStringLiteral("提示型")) {
      s << "rect0=1,1,1,1\r\nrect1=" << rect(b.rect) << "\r\n";
    } else {
      s << "rect0=" << rect(b.rect) << "\r\n";
      if (b.type == QStringLiteral("文字型")) s << "rect1=" << rect(b.rect) << "\r\n";
      const QString base = dir + b.picture;
      ok = buttonPicture(t, b, false).save(base + QStringLiteral("0.bmp"), "BMP") && ok;
      ok = buttonPicture(t, b, true).save(base + QStringLiteral("1.bmp"), "BMP") && ok;
      s << "pic0=" << t.folder << "/" << b.picture << "0.bmp\r\npic1=" << t.folder << "/"
        << b.picture << "1.bmp\r\nrgb0=255,0,255\r\nrgb1=255,0,255\r\n";
    }
    if (!b.dll.isEmpty()) s << "dll=" << b.dll << "\r\n";
    const bool menuIcon =
        !b.icon.isEmpty() && b.name != QStringLiteral("最小化") && b.name != QStringLiteral("退出");
    if (menuIcon) {
      ok = icon(t, b.icon).save(dir + QStringLiteral("icon-") + b.icon + QStringLiteral(".png")) &&
           ok;
      s << "icon=" << t.folder << "/icon-" << b.icon << ".png\r\n";
    }
  }
  s.flush();
  // Skin files are GBK, as every profile file of the suite.
  QFile f(out + QLatin1Char('/') + t.file);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  const auto gbk = hv::utf8ToGbk(text.toStdString());
  if (!gbk) return false;
  f.write(gbk->data(), qint64(gbk->size()));
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: hv-draw-skins <shipped/SKIN folder>\n");
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  const Theme blue{QStringLiteral("blue.skin"), QStringLiteral("blue"),
                   QStringLiteral("蓝色海洋"),  QColor(16, 58, 120),
                   QColor(70, 140, 215),        QColor(25, 95, 190),
                   QColor(235, 243, 252),       false};
  const Theme amber{QStringLiteral("amber.skin"), QStringLiteral("amber"),
                    QStringLiteral("琥珀时光"),   QColor(120, 60, 10),
                    QColor(235, 160, 60),         QColor(200, 105, 20),
                    QColor(253, 244, 230),        true};
  const bool ok = writeSkin(out, blue) && writeSkin(out, amber);
  return ok ? 0 : 1;
}
