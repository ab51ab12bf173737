// The ctrls library under the offscreen platform (which has no notification area).
#include "ui/ctrls/ctrls.h"

#include <gtest/gtest.h>

#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/gbk.h"
#include "platform/messages.h"
#include "ui/UI/helper.h"
#include "ui/qt/tests/qt_test_app.h"

namespace {

using hv::ui::qt::testing::app;

class Expanding : public CExpandingDialog {
 public:
  Expanding() : CExpandingDialog(1, nullptr, 10, 11, hv::T("高级>>"), hv::T("高级<<"), false) {
    frame = new QWidget(this);
    frame->setFixedSize(200, 60);
    toggle = new QPushButton(frame);
    extra = new QWidget(this);
    extra->setFixedSize(200, 80);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(frame);
    layout->addWidget(extra);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    SetControl(10, frame);
    SetControl(11, toggle);
    ConnectCommands();
    Expand(false);
  }
  bool OnDialogExpanding(bool expanding) override {
    asked.push_back(expanding);
    return allow;
  }
  void OnDialogExpanded(bool expanded) override { done.push_back(expanded); }
  QWidget* frame;
  QPushButton* toggle;
  QWidget* extra;
  bool allow = true;
  std::vector<bool> asked, done;
};

TEST(CExpandingDialog, ToggleShowsTheFramesAreaOrEverythingAndSwitchesTheLabel) {
  app();
  Expanding d;
  d.show();
  EXPECT_EQ(d.size(), QSize(200, 60));
  EXPECT_EQ(d.toggle->text(), QStringLiteral("高级>>"));
  d.toggle->click();
  EXPECT_TRUE(d.IsExpanded());
  EXPECT_EQ(d.size(), QSize(200, 140));
  EXPECT_EQ(d.toggle->text(), QStringLiteral("高级<<"));
  EXPECT_TRUE(d.extra->isVisible());
  d.allow = false;
  d.toggle->click();
  EXPECT_TRUE(d.IsExpanded());
  d.allow = true;
  d.Expand(false);
  EXPECT_EQ(d.size(), QSize(200, 60));
  EXPECT_EQ(d.asked, (std::vector<bool>{true, false, false}));
  EXPECT_EQ(d.done, (std::vector<bool>{false, true, false}));
}

TEST(CHyperLink, ClickOpensItsAddress) {
  app();
  std::vector<std::string> opened;
  CHandvaneHelper::SetUrlOpener([&](const std::string& u) {
    opened.push_back(u);
    return true;
  });
  CHyperLink link;
  link.SetText(hv::T("资费说明"));
  link.SetURL("http://127.0.0.1:18080/fee.html");
  link.resize(100, 20);
  EXPECT_EQ(link.text(), QStringLiteral("资费说明"));
  QMouseEvent release(QEvent::MouseButtonRelease, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&link, &release);
  CHandvaneHelper::SetUrlOpener({});
  EXPECT_EQ(opened, std::vector<std::string>{"http://127.0.0.1:18080/fee.html"});
}

TEST(CTrayIcon, WithoutANotificationAreaCreateFailsButActivationsStillReachTheWindow) {
  app();
  std::vector<hv::WindowMessage> got;
  hv::MessageWindow window([&](const hv::WindowMessage& m) { got.push_back(m); });
  CTrayIcon tray;
  const bool shown = tray.Create(window.id(), 0x401, "Lumoi", QIcon(), 200);
  EXPECT_EQ(shown, CTrayIcon::IsAvailable());
  EXPECT_EQ(tray.IsVisible(), shown);
  tray.MoveToRight();
  tray.Activated(QSystemTrayIcon::DoubleClick);
  tray.Activated(QSystemTrayIcon::Context);
  ASSERT_TRUE(hv::ui::qt::testing::waitFor([&] { return got.size() == 2; }));
  EXPECT_EQ(got[0].message, 0x401u);
  EXPECT_EQ(got[0].wparam, 200u);
  EXPECT_EQ(got[0].lparam, CTrayIcon::kLeftDoubleClick);
  EXPECT_EQ(got[1].lparam, CTrayIcon::kRightButtonUp);
  tray.RemoveIcon();
  EXPECT_FALSE(tray.IsVisible());
}

}  // namespace
