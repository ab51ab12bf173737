// Signing in through the real login dialog of libSignon, shown by the Qt backend, against
// handvane-service on loopback: what a user does when a module asks for a sign-in.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <cstdlib>
#include <cstring>

#include "include/handvane/records.h"
#include "login/login_flow.h"
#include "login/login_settings.h"
#include "login/signon.h"
#include "platform/fs.h"
#include "platform/gbk.h"
#include "records/vaultrec.h"
#include "tests/service-e2e/peers.h"
#include "ui/views/tests/view_support.h"

namespace hv::ui::qt {
namespace {

constexpr char kUser[] = "13800138000";
constexpr char kPassword[] = "ui-e2e-pass";

class LoginE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::viewsApp();
    // A home of its own: the sign-in writes the settings and creates the user's folder.
    home_ = *fs::createTempDirectory({}, "login-e2e");
    ASSERT_TRUE(fs::makeDirectories(home_ + "/DATA"));
    for (const char* name : {"FRIENDS.DBF", "登录.jpg"}) {
      ASSERT_TRUE(fs::copyFile(std::string(HV_SUITE_DIR) + "/DATA/" + T(name),
                               home_ + "/DATA/" + T(name), false))
          << name;
    }
    setenv("HANDVANE_HOME", home_.c_str(), 1);
    fs::resetSuiteHomeForTesting();
    // The state lives as long as the process: every test starts signed out.
    login::setState("", "", int32_t(LoginStateCode::SignedOut));
    ASSERT_EQ(service_.command({"add-account", kUser, kPassword}), 0);
    ASSERT_TRUE(service_.start());
    login::LoginSettings s;
    std::memset(&s, 0, sizeof s);
    std::strcpy(s.regionHost, "127.0.0.1");
    s.regionPort = service_.region;
    std::strcpy(s.rememberedIds, kUser);  // the id is offered in the list
    std::strcat(s.rememberedIds, ";");
    const std::string file = home_ + "/DATA/logincfg.dat";
    ASSERT_EQ(CRYPT_Create(file.c_str(), int(sizeof s)), 1);
    CryptFile* f = CRYPT_Open(file.c_str());
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(CRYPT_AddRecord(f, &s), 0);
    CRYPT_Close(f);
  }
  void TearDown() override {
    setenv("HANDVANE_HOME", HV_SUITE_DIR, 1);
    fs::resetSuiteHomeForTesting();
    fs::removeAll(home_);
  }

  // Answers the next message box when it shows (it comes from within a click), keeping its text.
  static void answerNextBox(QString& text) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, &text] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
          text = box->text();
          box->buttons().front()->click();
          timer->stop();
          timer->deleteLater();
          return;
        }
      }
    });
    timer->start(10);
  }

  // Types the id and a password into the shown dialog and presses "登录".
  static void typeAndSignIn(QWidget* d, const char* password) {
    auto* id = child<QComboBox>(d, 9001);
    id->lineEdit()->selectAll();
    id->lineEdit()->insert(QString::fromLatin1(kUser));
    auto* pw = child<QLineEdit>(d, 9002);
    pw->selectAll();
    pw->insert(QString::fromLatin1(password));
    child<QPushButton>(d, 9004)->click();
  }

  std::string home_;
  e2e::LocalService service_;
};

TEST_F(LoginE2E, WrongPasswordIsToldAndTheRightOneSignsIn) {
  bool bannerShown = false;
  QString boxText;
  whenShown(9000, [&](QWidget* d) {
    auto* banner = child<QLabel>(d, 9017);
    bannerShown = banner && banner->isVisible() && !banner->pixmap().isNull();
    // The refusal comes as a message box from within the click.
    answerNextBox(boxText);
    typeAndSignIn(d, "not-the-password");
    // Still open after the refusal: the right password now.
    ASSERT_EQ(findView(9000), d);
    typeAndSignIn(d, kPassword);
  });
  EXPECT_EQ(LOGIN_Login(nullptr, nullptr), 2);
  EXPECT_TRUE(bannerShown);
  EXPECT_FALSE(boxText.isEmpty());
  LoginState state;
  EXPECT_EQ(LOGIN_GetState(&state), 2);
  EXPECT_EQ(state.state, 2);
  EXPECT_STREQ(state.userId, kUser);
  EXPECT_TRUE(fs::exists(home_ + "/" + kUser + "/FRIENDS.DBF"));
  EXPECT_EQ(findView(9000), nullptr);
}

// A remembered id chosen from the list and then cleared from the box: "登录" asks for the id, as
// with a box never filled, instead of signing in with the id chosen before.
TEST_F(LoginE2E, ClearedIdBoxAsksForTheIdThoughARememberedIdWasChosen) {
  QString boxText;
  bool stillOpen = false;
  whenShown(9000, [&](QWidget* d) {
    auto* id = child<QComboBox>(d, 9001);
    ASSERT_EQ(id->count(), 1);
    id->setCurrentIndex(0);
    ASSERT_EQ(id->currentText(), QString::fromLatin1(kUser));
    QLineEdit* edit = id->lineEdit();
    edit->setFocus();
    edit->selectAll();
    QKeyEvent backspace(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
    QCoreApplication::sendEvent(edit, &backspace);
    child<QLineEdit>(d, 9002)->insert(QString::fromLatin1(kPassword));
    answerNextBox(boxText);
    child<QPushButton>(d, 9004)->click();
    stillOpen = findView(9000) == d;
    child<QPushButton>(d, 9007)->click();  // "退出登录"
  });
  EXPECT_EQ(LOGIN_Login(nullptr, nullptr), 0);
  EXPECT_EQ(boxText, QStringLiteral("请首先输入用户手机号！"));
  EXPECT_TRUE(stillOpen);
  EXPECT_EQ(LOGIN_GetState(nullptr), 0);
}

}  // namespace
}  // namespace hv::ui::qt
