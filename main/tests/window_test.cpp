// The launcher window under the offscreen platform: the shipped skins applied with every button,
// transparent colours, hover pictures, right-click switching, Escape, minimising without a
// notification area, and screenshots with their Chinese texts checked for a real font.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDir>
#include <QFontMetrics>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <set>

#include "main/qt/linked.h"
#include "main/qt/resources.h"
#include "main/tests/qt_fixture.h"
#include "ui/UI/widgets.h"
#include "ui/qt/binding.h"
#include "ui/qt/tests/qt_test_app.h"

namespace hv::launcher {
namespace {

using testing::ShippedHome;

QString shotPath(const QString& name) {
  const QByteArray env = qgetenv("HV_SCREENSHOT_DIR");
  const QString dir = env.isEmpty() ? QStringLiteral("screenshots") : QString::fromLocal8Bit(env);
  QDir().mkpath(dir);
  return QDir(dir).filePath(name + QStringLiteral(".png"));
}

// Saves the widget's picture and checks that every Chinese character of its visible texts is in
// the widget's font and that the text left ink in the picture. The number of characters checked.
int saveAndCheckText(QWidget* top, const QString& name) {
  const QImage shot = top->grab().toImage();
  EXPECT_TRUE(shot.save(shotPath(name)));
  int checked = 0;
  for (QWidget* w : top->findChildren<QWidget*>()) {
    if (!w->isVisibleTo(top)) continue;
    QString text;
    if (auto* l = qobject_cast<QLabel*>(w)) text = l->text();
    if (auto* b = qobject_cast<QAbstractButton*>(w)) text = b->text();
    if (text.isEmpty()) continue;
    const QFontMetrics metrics(w->font());
    for (char32_t c : text.toUcs4()) {
      if (c < 0x2E80) continue;
      ++checked;
      EXPECT_TRUE(metrics.inFontUcs4(c)) << name.toStdString() << " U+" << std::hex << int(c);
    }
    const QRect area(w->mapTo(top, QPoint(0, 0)), w->size());
    int ink = 0;
    const int bg = qGray(shot.pixel(area.topLeft()));
    for (int y = area.top(); y <= area.bottom(); ++y)
      for (int x = area.left(); x <= area.right(); ++x)
        if (shot.rect().contains(x, y) && std::abs(qGray(shot.pixel(x, y)) - bg) > 60) ++ink;
    EXPECT_GT(ink, 10) << name.toStdString() << ": no ink for " << text.toStdString();
  }
  return checked;
}

QAbstractButton* entryButton(MainWindow& w, const std::string& utf8Name) {
  const auto& entries = w.launcher().skin().entries;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].name == T(utf8Name))
      return qobject_cast<QAbstractButton*>(w.skinButtons()[i].data());
  }
  return nullptr;
}

TEST(TransparentColour, KeyColourBecomesTransparent) {
  QImage img(3, 1, QImage::Format_RGB32);
  img.setPixel(0, 0, qRgb(10, 20, 30));
  img.setPixel(1, 0, qRgb(255, 0, 255));
  img.setPixel(2, 0, qRgb(255, 0, 254));  // one step off the key: stays
  const QPixmap masked = withTransparentColour(QPixmap::fromImage(img), Rgb{255, 0, 255});
  QImage out(3, 1, QImage::Format_RGB32);
  out.fill(qRgb(200, 0, 0));
  QPainter p(&out);
  p.drawPixmap(0, 0, masked);
  p.end();
  EXPECT_EQ(out.pixel(0, 0), qRgb(10, 20, 30));
  EXPECT_EQ(out.pixel(1, 0), qRgb(200, 0, 0));
  EXPECT_EQ(out.pixel(2, 0), qRgb(255, 0, 254));
}

class WindowTest : public ShippedHome {};

TEST_F(WindowTest, ShippedSkinsApplyWithEveryEntry) {
  for (const char* skin : {"blue.skin", "amber.skin"}) {
    MainWindow& w = open(skin);
    ASSERT_TRUE(w.launcher().skinApplied()) << skin;
    EXPECT_EQ(w.size(), QSize(400, 300));
    EXPECT_TRUE(w.windowFlags() & Qt::FramelessWindowHint);
    const auto& entries = w.launcher().skin().entries;
    ASSERT_EQ(entries.size(), 13u) << skin;
    std::set<std::string> names;
    for (const auto& e : entries) names.insert(e.name);
    for (const char* n : {"Lumo字", "Lumo图", "Lumo影", "Lumo音", "好友列表", "帮助", "联系",
                          "邮件", "关于我们", "资费说明", "首页", "最小化", "退出"}) {
      EXPECT_EQ(names.count(T(n)), 1u) << skin << " " << n;
    }
    ASSERT_EQ(w.skinButtons().size(), 13u);
    for (size_t i = 0; i < entries.size(); ++i) {
      QWidget* b = w.skinButtons()[i];
      EXPECT_EQ(b->cursor().shape(), Qt::PointingHandCursor);
      const Rect& r = entries[i].buttonRect();
      EXPECT_EQ(b->geometry(), QRect(r.left, r.top, r.right - r.left, r.bottom - r.top));
      if (!entries[i].hotArea()) {
        auto* picture = dynamic_cast<CButtonST*>(b);
        ASSERT_NE(picture, nullptr);
        EXPECT_TRUE(picture->hasBitmap()) << skin << " entry " << i;
      }
    }
  }
}

TEST_F(WindowTest, BackgroundShowsThroughTransparentCornersAndHoverChangesThePicture) {
  MainWindow& w = open("blue.skin");
  QAbstractButton* text = entryButton(w, "Lumo字");
  ASSERT_NE(text, nullptr);
  const QImage window = w.grab().toImage();
  const QPoint corner = text->geometry().topLeft() + QPoint(1, 1);
  // The corner of the rounded button is the key colour in the bitmap: the window shows the
  // background picture there, not magenta.
  const QRgb seen = window.pixel(corner);
  EXPECT_FALSE(qRed(seen) > 200 && qGreen(seen) < 60 && qBlue(seen) > 200);
  const QImage rest = text->grab().toImage();
  QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
  QApplication::sendEvent(text, &enter);
  const QImage hover = text->grab().toImage();
  EXPECT_NE(rest, hover);
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(text, &leave);
  EXPECT_EQ(text->grab().toImage(), rest);
}

TEST_F(WindowTest, ButtonsRunTheirEntries) {
  MainWindow& w = open("amber.skin");
  entryButton(w, "Lumo字")->click();
  EXPECT_EQ(calls(), (std::vector<std::string>{"||"}));
  entryButton(w, "好友列表")->click();
  EXPECT_EQ(friendsOpened_, 1);
  // The music, image and animation modules are not installed: their buttons do nothing.
  entryButton(w, "Lumo音")->click();
  entryButton(w, "Lumo图")->click();
  EXPECT_EQ(calls().size(), 1u);
  w.handOver("-f text");
  EXPECT_EQ(calls().size(), 2u);
}

TEST_F(WindowTest, RightClickSwitchesSkinAndTheChoiceIsRemembered) {
  MainWindow& w = open("amber.skin");
  QMouseEvent release(QEvent::MouseButtonRelease, QPointF(200, 140), QPointF(200, 140),
                      Qt::RightButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(&w, &release);
  EXPECT_EQ(w.launcher().skin().path, skins_ + "blue.skin");
  EXPECT_EQ(profile::getString(skins_ + "skincfg.dat", "ALL", "skin", ""), "blue.skin");
  EXPECT_EQ(w.skinButtons().size(), 13u);
  window_.reset();
  // A new run starts with the remembered skin.
  window_ = std::make_unique<MainWindow>(LauncherServices{}, skins_, "");
  window_->start();
  EXPECT_EQ(window_->launcher().skin().path, skins_ + "blue.skin");
}

TEST_F(WindowTest, WithoutNotificationAreaMinimisingKeepsTheWindow) {
  ASSERT_FALSE(CTrayIcon::IsAvailable());  // the offscreen platform has none
  MainWindow& w = open("blue.skin");
  entryButton(w, "最小化")->click();
  QApplication::processEvents();
  EXPECT_FALSE(w.isHidden());
}

TEST_F(WindowTest, EscapeEndsTheLauncher) {
  MainWindow& w = open("blue.skin");
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(&w, &escape);
  EXPECT_TRUE(w.launcher().ended());
  EXPECT_FALSE(w.isVisible());
}

TEST_F(WindowTest, MissingSkinKeepsThePlainWindowWithThePanel) {
  fs::removeAll(skins_);
  fs::makeDirectories(skins_);
  window_ = std::make_unique<MainWindow>(LauncherServices{}, skins_, "");
  window_->start();
  EXPECT_FALSE(window_->launcher().skinApplied());
  EXPECT_TRUE(window_->skinButtons().empty());
  EXPECT_TRUE(window_->panelControl(kLoginButton)->isVisible());
  // Without a skin's icon the window has the plain one.
  EXPECT_EQ(window_->windowIcon().pixmap(32, 32).toImage(), programIcon().pixmap(32, 32).toImage());
  EXPECT_GT(saveAndCheckText(window_.get(), QStringLiteral("launcher-plain")), 5);
}

TEST_F(WindowTest, TheSkinsIconIsTheWindowsAndThePlainOneIsNotUsed) {
  MainWindow& w = open("blue.skin");
  const QImage shown = w.windowIcon().pixmap(32, 32).toImage();
  EXPECT_FALSE(shown.isNull());
  EXPECT_NE(shown, programIcon().pixmap(32, 32).toImage());
}

TEST_F(WindowTest, FriendsListWhoseLibraryCannotBeLoadedSaysWhy) {
  // The friends dialog's library is loaded on first use from the program's folder, which for
  // this test program holds none.
  const auto friends = friendsDialogEntry();
  if (!friends) GTEST_SKIP() << "built without the friends dialog";
  EXPECT_EQ(friends("13800138000"), -1);
  ASSERT_EQ(backend_->boxes().size(), 1u);
  EXPECT_EQ(backend_->boxes()[0].caption, "Handvane");
  EXPECT_EQ(backend_->boxes()[0].icon, ui::Icon::Stop);
  EXPECT_NE(backend_->boxTexts()[0].find("libBuddyedit.so"), std::string::npos)
      << backend_->boxTexts()[0];
  // Not remembered as loaded: asking again tries again and says so again.
  EXPECT_EQ(friends("13800138000"), -1);
  EXPECT_EQ(backend_->boxes().size(), 2u);
}

TEST_F(WindowTest, BrokenBackgroundIsReportedAndKeepsAReachableSize) {
  writeFile(skins_ + "blue/background.jpg", "not a picture");
  MainWindow& w = open("amber.skin");
  QMouseEvent release(QEvent::MouseButtonRelease, QPointF(5, 5), QPointF(5, 5), Qt::RightButton,
                      Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(&w, &release);  // to the broken blue skin
  const auto boxes = backend_->boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "CPicture Error");
  EXPECT_EQ(boxes[0].text, "IPicture interface is not supported\t");
  EXPECT_EQ(w.size(), QSize(400, 300));
  EXPECT_EQ(w.skinButtons().size(), 13u);
}

TEST_F(WindowTest, ScreenshotsOfBothSkinsInBothViews) {
  for (const char* skin : {"blue", "amber"}) {
    LauncherServices s;
    bool signedIn = false;
    s.loginState = [&signedIn] { return signedIn ? 2 : 0; };
    s.signedInUser = [] { return std::string("13800138000"); };
    MainWindow& w = open(std::string(skin) + ".skin", s);
    const QString base = QStringLiteral("launcher-%1").arg(QString::fromLatin1(skin));
    EXPECT_GE(saveAndCheckText(&w, base + QStringLiteral("-signin")), 8);  // labels and links
    signedIn = true;
    w.launcher().onTimer(kSignInTimer);
    ASSERT_TRUE(w.launcher().signedInView());
    EXPECT_TRUE(w.panelControl(kWelcome)->isVisible());
    EXPECT_FALSE(w.panelControl(kNumber)->isVisible());
    EXPECT_EQ(qobject_cast<QLabel*>(w.panelControl(kWelcome))->text(),
              QStringLiteral("欢迎13800138000进入Lumoi"));
    EXPECT_GE(saveAndCheckText(&w, base + QStringLiteral("-welcome")), 4);
    window_.reset();
  }
}

TEST_F(WindowTest, TrayMenuAndBoxesScreenshots) {
  MainWindow& w = open("blue.skin");
  auto menu = w.buildTrayMenu();
  QStringList items;
  for (QAction* a : menu->actions()) items << (a->isSeparator() ? QStringLiteral("-") : a->text());
  EXPECT_EQ(items,
            (QStringList{QStringLiteral("Lumo字"), QStringLiteral("Lumo图"),
                         QStringLiteral("Lumo影"), QStringLiteral("Lumo音"),
                         QStringLiteral("好友列表"), QStringLiteral("帮助"), QStringLiteral("联系"),
                         QStringLiteral("关于我们"), QStringLiteral("-"), QStringLiteral("退出")}));
  for (QAction* a : menu->actions()) {
    if (!a->isSeparator() && a->text() != QStringLiteral("退出")) {
      EXPECT_FALSE(a->icon().isNull()) << a->text().toStdString();
    }
    if (a->text() == QStringLiteral("Lumo字")) a->trigger();
  }
  EXPECT_EQ(calls().size(), 1u);
  menu->adjustSize();
  menu->ensurePolished();
  EXPECT_TRUE(menu->grab().toImage().save(shotPath(QStringLiteral("tray-menu"))));
  const QFontMetrics menuFont(menu->font());
  for (char32_t c : QStringLiteral("好友列表帮助联系关于我们退出").toUcs4())
    EXPECT_TRUE(menuFont.inFontUcs4(c));

  registerBoxViews();
  std::vector<std::unique_ptr<InfoBox>> boxes;
  boxes.push_back(makeAboutBox());
  boxes.push_back(makeContactBox("http://127.0.0.1:8080/"));
  for (auto& box : boxes) {
    std::unique_ptr<QWidget> view(createInfoBoxView(*box));
    ui::qt::bindingOf(view.get())->start();
    view->adjustSize();
    const QString name = box->templateId() == kAboutTemplate ? QStringLiteral("about-box")
                                                             : QStringLiteral("contact-box");
    EXPECT_GE(saveAndCheckText(view.get(), name), 6);
    auto* picture = view->findChild<QLabel*>(QStringLiteral("picture"));
    ASSERT_NE(picture, nullptr);
    EXPECT_FALSE(picture->pixmap().isNull());
  }
}

}  // namespace
}  // namespace hv::launcher
