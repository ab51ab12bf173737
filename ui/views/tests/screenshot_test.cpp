// Renders each dialog to a PNG under the offscreen platform and checks that its Chinese texts were
// drawn with a real font: every character is in the widget's font, draws ink, and does not look
// like the box drawn for a missing glyph. The pictures are left in $HV_SCREENSHOT_DIR (default:
// "screenshots" in the test's working folder) for a look by eye.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDir>
#include <QFontMetrics>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <set>

#include "service/progress_dialog.h"
#include "ui/views/standin_login.h"
#include "ui/views/tests/view_support.h"

namespace hv::ui::qt {
namespace {

QString screenshotDir() {
  const QByteArray env = qgetenv("HV_SCREENSHOT_DIR");
  const QString dir = env.isEmpty() ? QStringLiteral("screenshots") : QString::fromLocal8Bit(env);
  QDir().mkpath(dir);
  return dir;
}

// The character drawn alone in the font, black on white.
QImage drawn(const QFont& font, char32_t c) {
  QImage img(48, 48, QImage::Format_RGB32);
  img.fill(Qt::white);
  QPainter p(&img);
  p.setFont(font);
  p.setPen(Qt::black);
  p.drawText(img.rect(), Qt::AlignCenter, QString::fromUcs4(&c, 1));
  return img;
}

int inkPixels(const QImage& img, const QRect& area, QRgb background) {
  int n = 0;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      if (img.rect().contains(x, y) && qGray(img.pixel(x, y)) + 60 < qGray(background)) ++n;
    }
  }
  return n;
}

// The texts a dialog shows, each with the widget that draws it.
std::vector<std::pair<QWidget*, QString>> shownTexts(QWidget* dialog) {
  std::vector<std::pair<QWidget*, QString>> out;
  for (QWidget* w : dialog->findChildren<QWidget*>()) {
    if (!w->isVisibleTo(dialog)) continue;
    if (auto* l = qobject_cast<QLabel*>(w); l && !l->text().isEmpty())
      out.emplace_back(w, l->text());
    if (auto* b = qobject_cast<QAbstractButton*>(w); b && !b->text().isEmpty()) {
      out.emplace_back(w, b->text());
    }
    if (auto* g = qobject_cast<QGroupBox*>(w); g && !g->title().isEmpty()) {
      out.emplace_back(w, g->title());
    }
  }
  return out;
}

// Checks every Chinese character of the dialog and saves its picture; the number checked.
int checkAndSave(QWidget* dialog, const QString& name) {
  const QImage shot = dialog->grab().toImage();
  EXPECT_FALSE(shot.isNull());
  const QString path = QDir(screenshotDir()).filePath(name + QStringLiteral(".png"));
  EXPECT_TRUE(shot.save(path)) << path.toStdString();

  int checked = 0;
  for (const auto& [w, text] : shownTexts(dialog)) {
    const QFont font = w->font();
    const QFontMetrics metrics(font);
    const QImage missing = drawn(font, U'\U0010FFFD');  // a private-use point no font has
    std::set<char32_t> seen;
    for (char32_t c : text.toUcs4()) {
      if (c < 0x2E80 || !seen.insert(c).second) continue;  // the CJK ranges start at U+2E80
      ++checked;
      EXPECT_TRUE(metrics.inFontUcs4(c))
          << name.toStdString() << ": U+" << std::hex << static_cast<uint32_t>(c);
      const QImage glyph = drawn(font, c);
      EXPECT_GT(inkPixels(glyph, glyph.rect(), qRgb(255, 255, 255)), 2)  // "：" is two dots
          << name.toStdString() << ": U+" << std::hex << static_cast<uint32_t>(c)
          << " drew nothing";
      EXPECT_NE(glyph, missing) << name.toStdString() << ": U+" << std::hex
                                << static_cast<uint32_t>(c) << " drawn as a missing glyph";
    }
    // The screenshot itself carries the text's ink where the widget is.
    const QRect area(w->mapTo(dialog, QPoint(0, 0)), w->size());
    EXPECT_GT(inkPixels(shot, area, shot.pixel(area.topLeft())), 10)
        << name.toStdString() << ": no ink for " << text.toStdString();
  }
  return checked;
}

TEST(Screenshots, LoginDialogCollapsedAndExpanded) {
  testing::viewsApp();
  for (const char* type : {"", "SOCK5"}) {
    LoginStandin c(type);
    int checked = 0;
    whenShown(9000, [&](QWidget* d) {
      checked = checkAndSave(
          d, *type ? QStringLiteral("login-expanded") : QStringLiteral("login-collapsed"));
      d->close();
    });
    backend().runModal(c);
    EXPECT_GE(checked, *type ? 30 : 15);
  }
}

TEST(Screenshots, SendProgressDialogHalfway) {
  testing::viewsApp();
  auto dialog = std::make_shared<svc::SendProgressDialog>();
  backend().showModeless(dialog);
  dialog->setStatus(T("正在发送数据..."));
  dialog->setRange(0, 110);
  dialog->setPosition(55);
  QWidget* view = findView(5000);
  ASSERT_NE(view, nullptr);
  EXPECT_GE(checkAndSave(view, QStringLiteral("send-progress")), 10);
  backend().close(*dialog);
}

TEST(Screenshots, QuestionBoxWithChineseButtons) {
  testing::viewsApp();
  int checked = 0;
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [&, timer] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      timer->stop();
      timer->deleteLater();
      checked = checkAndSave(box, QStringLiteral("question-box"));
      box->button(QMessageBox::Yes)->click();
    }
  });
  timer->start(10);
  backend().messageBox(T("发送成功！是否将接收方添加为好友？"), T("发送短信"), Icon::Question,
                       Buttons::YesNo);
  EXPECT_GE(checked, 12);
}

}  // namespace
}  // namespace hv::ui::qt
