// The login and send progress views bound to their controllers under the offscreen platform:
// typing, clicking, the expanding part, the proxy controls, and cancel reaching the send thread.
#include "ui/views/views.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <atomic>
#include <thread>

#include "platform/fs.h"
#include "platform/messages.h"
#include "service/progress_dialog.h"
#include "ui/qt/binding.h"
#include "ui/qt/tests/qt_test_app.h"
#include "ui/views/standin_login.h"
#include "ui/views/tests/view_support.h"

namespace hv::ui::qt {
namespace {

using testing::waitFor;

TEST(LoginView, TypingAndClickingLoginReachTheController) {
  testing::viewsApp();
  LoginStandin c("");
  whenShown(9000, [&](QWidget* d) {
    auto* id = child<QComboBox>(d, 9001);
    EXPECT_EQ(id->count(), 2);
    EXPECT_EQ(id->currentText(), QStringLiteral("13900139000"));
    id->lineEdit()->selectAll();
    id->lineEdit()->insert(QStringLiteral("138-1234 5678x"));  // digits only
    child<QLineEdit>(d, 9002)->insert(QStringLiteral("secret"));
    child<QCheckBox>(d, 9006)->click();
    EXPECT_TRUE(child<QPushButton>(d, 9004)->isDefault());
    EXPECT_TRUE(child<QPushButton>(d, 9008)->isHidden());
    child<QPushButton>(d, 9004)->click();
  });
  EXPECT_EQ(backend().runModal(c), 0);
  EXPECT_EQ(c.text(9001), "13812345678");
  EXPECT_EQ(c.text(9002), "secret");
  EXPECT_EQ(c.checked(9006), 1);
  EXPECT_FALSE(c.visible(9008));
}

TEST(LoginView, AdvancedButtonExpandsAndCollapsesTheProxyPart) {
  testing::viewsApp();
  LoginStandin c("");
  int collapsedHeight = 0, expandedHeight = 0;
  bool proxyShownCollapsed = true, proxyShownExpanded = false;
  std::string labelExpanded;
  QString buttonCollapsedAgain;
  whenShown(9000, [&](QWidget* d) {
    auto* group = d->findChild<QGroupBox*>(QStringLiteral("proxyGroup"));
    auto* toggle = child<QPushButton>(d, 9005);
    EXPECT_EQ(toggle->text(), QStringLiteral("高级>>"));
    collapsedHeight = d->height();
    proxyShownCollapsed = group->isVisible();
    toggle->click();
    expandedHeight = d->height();
    proxyShownExpanded = group->isVisible();
    labelExpanded = c.text(9005);
    toggle->click();
    buttonCollapsedAgain = toggle->text();
    EXPECT_EQ(d->height(), collapsedHeight);
    child<QPushButton>(d, 9007)->click();
  });
  EXPECT_EQ(backend().runModal(c), -1);
  EXPECT_FALSE(proxyShownCollapsed);
  EXPECT_TRUE(proxyShownExpanded);
  EXPECT_GT(expandedHeight, collapsedHeight + 80);
  EXPECT_EQ(labelExpanded, T("高级<<"));
  EXPECT_EQ(buttonCollapsedAgain, QStringLiteral("高级>>"));
}

TEST(LoginView, ProxyControlsFollowUseProxyAndTheKindChosen) {
  testing::viewsApp();
  LoginStandin c("");
  std::vector<std::vector<bool>> states;  // enabled: sock4, sock5, host, port, user, password
  auto snapshot = [&](QWidget* d) {
    std::vector<bool> s;
    for (int id : {9009, 9010, 9011, 9012, 9013, 9014})
      s.push_back(child<QWidget>(d, id)->isEnabled());
    states.push_back(s);
  };
  whenShown(9000, [&](QWidget* d) {
    child<QPushButton>(d, 9005)->click();
    snapshot(d);
    child<QCheckBox>(d, 9016)->click();
    snapshot(d);
    EXPECT_TRUE(child<QRadioButton>(d, 9009)->isChecked());
    child<QRadioButton>(d, 9010)->click();
    snapshot(d);
    EXPECT_FALSE(child<QRadioButton>(d, 9009)->isChecked());
    child<QCheckBox>(d, 9016)->click();
    snapshot(d);
    d->close();
  });
  EXPECT_EQ(backend().runModal(c), -1);
  const std::vector<std::vector<bool>> expected = {{false, false, false, false, false, false},
                                                   {true, true, true, true, false, false},
                                                   {true, true, true, true, true, true},
                                                   {false, false, false, false, false, false}};
  EXPECT_EQ(states, expected);
}

TEST(LoginView, OpensExpandedWhenAProxyIsInUseAndShowsTheBanner) {
  testing::viewsApp();
  LoginStandin c("SOCK5");
  bool proxyShown = false, bannerShown = false;
  QString toggle;
  whenShown(9000, [&](QWidget* d) {
    proxyShown = d->findChild<QGroupBox*>(QStringLiteral("proxyGroup"))->isVisible();
    toggle = child<QPushButton>(d, 9005)->text();
    auto* banner = child<QLabel>(d, 9017);
    bannerShown = banner->isVisible() && !banner->pixmap().isNull();
    EXPECT_EQ(child<QLineEdit>(d, 9012)->text(), QStringLiteral("1080"));
    d->close();
  });
  backend().runModal(c);
  EXPECT_TRUE(proxyShown);
  EXPECT_EQ(toggle, QStringLiteral("高级<<"));
  EXPECT_TRUE(bannerShown);
}

// A stand-in for the send thread's loop around its progress dialog: it shows the dialog, moves the
// bar piece by piece while looking at the cancel flag, and posts its result when done.
TEST(ProgressView, CancelReachesTheSendThreadWhichPostsMinusTwo) {
  testing::viewsApp();
  std::atomic<intptr_t> result{0};
  MessageWindow caller([&](const WindowMessage& m) { result = m.lparam; });
  std::atomic<bool> atHalf{false};
  std::thread sender([&, window = caller.id()] {
    auto dialog = std::make_shared<svc::SendProgressDialog>();
    backend().showModeless(dialog);
    dialog->setStatus(T("正在发送数据..."));
    dialog->setRange(0, 110);
    int position = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!dialog->cancelled() && std::chrono::steady_clock::now() < end) {
      if (position < 55) dialog->setPosition(++position);
      if (position == 55) atHalf = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const intptr_t code = dialog->cancelled() ? -2 : 0;
    backend().close(*dialog);
    PostMessage(window, 0x401, 0, code);
  });
  QWidget* view = nullptr;
  ASSERT_TRUE(waitFor([&] {
    view = findView(5000);
    return view && atHalf.load();
  }));
  ASSERT_TRUE(waitFor([&] { return child<QProgressBar>(view, 5001)->value() == 55; }));
  EXPECT_EQ(child<QProgressBar>(view, 5001)->maximum(), 110);
  EXPECT_EQ(child<QLabel>(view, 5000)->text(), QStringLiteral("正在发送数据..."));
  EXPECT_EQ(view->windowTitle(), QStringLiteral("发送消息"));
  QPointer<QWidget> alive = view;
  child<QPushButton>(view, 5002)->click();
  EXPECT_TRUE(waitFor([&] { return result.load() != 0; }));
  sender.join();
  EXPECT_EQ(result.load(), -2);
  EXPECT_TRUE(waitFor([&] {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return alive.isNull();
  }));
}

TEST(ProgressView, ClosingTheWindowAlsoCancels) {
  testing::viewsApp();
  auto dialog = std::make_shared<svc::SendProgressDialog>();
  backend().showModeless(dialog);
  QWidget* view = findView(5000);
  ASSERT_NE(view, nullptr);
  view->close();
  EXPECT_TRUE(dialog->cancelled());
  EXPECT_TRUE(dialog->ended());
}

}  // namespace
}  // namespace hv::ui::qt
