#pragma once
// Screenshots of Qt views for a look by eye, and the check that every Chinese character a view
// shows is drawn from a real font (not a missing-glyph box).
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QTreeWidget>
#include <QWidget>
#include <set>

namespace hv::ui::qt::testing {

// $HV_SCREENSHOT_DIR, default "screenshots" in the test's folder; created.
inline QString screenshotDir() {
  const QByteArray env = qgetenv("HV_SCREENSHOT_DIR");
  const QString dir = env.isEmpty() ? QStringLiteral("screenshots") : QString::fromLocal8Bit(env);
  QDir().mkpath(dir);
  return dir;
}

inline QImage glyph(const QFont& font, char32_t c) {
  QImage img(48, 48, QImage::Format_RGB32);
  img.fill(Qt::white);
  QPainter p(&img);
  p.setFont(font);
  p.setPen(Qt::black);
  p.drawText(img.rect(), Qt::AlignCenter, QString::fromUcs4(&c, 1));
  return img;
}

inline int ink(const QImage& img) {
  int n = 0;
  for (int y = 0; y < img.height(); ++y) {
    for (int x = 0; x < img.width(); ++x) n += qGray(img.pixel(x, y)) < 160;
  }
  return n;
}

// Saves the view as NAME.png and checks each Chinese character its labels, buttons, drop-down
// lists and tree headers show; the number of characters checked.
inline int checkAndSave(QWidget* view, const QString& name) {
  const QImage shot = view->grab().toImage();
  EXPECT_TRUE(shot.save(QDir(screenshotDir()).filePath(name + QStringLiteral(".png"))));
  int checked = 0;
  for (QWidget* w : view->findChildren<QWidget*>()) {
    if (!w->isVisibleTo(view)) continue;
    QString text;
    if (auto* l = qobject_cast<QLabel*>(w)) text = l->text();
    if (auto* b = qobject_cast<QAbstractButton*>(w)) text = b->text();
    if (auto* c = qobject_cast<QComboBox*>(w)) text = c->currentText();
    if (auto* t = qobject_cast<QTreeWidget*>(w)) {
      for (int i = 0; i < t->columnCount(); ++i) text += t->headerItem()->text(i);
    }
    const QImage missing = glyph(w->font(), U'\U0010FFFD');
    std::set<char32_t> seen;
    for (char32_t c : text.toUcs4()) {
      if (c < 0x2E80 || !seen.insert(c).second) continue;
      ++checked;
      EXPECT_TRUE(QFontMetrics(w->font()).inFontUcs4(c)) << name.toStdString();
      const QImage g = glyph(w->font(), c);
      EXPECT_GT(ink(g), 2) << name.toStdString();
      EXPECT_NE(g, missing) << name.toStdString() << " U+" << std::hex << uint32_t(c);
    }
  }
  return checked;
}

}  // namespace hv::ui::qt::testing
