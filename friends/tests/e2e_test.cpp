// End to end, as the launcher's "好友列表" entry runs it: FMFriendsListMantance("") with nobody
// signed in signs in automatically through libSignon against handvane-service on loopback (the
// sign-in creates the user's folder and friends table), then the dialog, shown by the Qt backend,
// adds, changes and deletes a friend; the table on disk is read back with dbfread after each.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <cstring>

#include "friends/buddyedit.h"
#include "friends/tests/friends_home.h"
#include "friends/tests/view_support.h"
#include "include/handvane/records.h"
#include "login/login_settings.h"
#include "login/signon.h"
#include "tests/service-e2e/peers.h"

namespace hv::friends {
namespace {

using testing::control;
using testing::FriendsHome;
using testing::kUser;
using testing::typeInto;
using D = FriendsDialog;

constexpr char kPassword[] = "friends-e2e";

TEST(FriendsEndToEnd, AutomaticSignInThenAddChangeAndDelete) {
  testing::friendsApp();
  FriendsHome home;
  // The sign-in, not the test, prepares the user's folder.
  ASSERT_TRUE(fs::removeAll(home.path() + kUser));
  e2e::LocalService service;
  ASSERT_EQ(service.command({"add-account", kUser, kPassword}), 0);
  ASSERT_TRUE(service.start());
  login::LoginSettings s = login::defaultSettings();
  std::strcpy(s.lastUserId, kUser);
  std::strcpy(s.lastPassword, kPassword);
  s.autoLogin = 1;
  s.regionPort = service.region;
  ASSERT_TRUE(login::createDefaultSettingsFile(login::settingsPath()));
  ASSERT_TRUE(login::saveSettings(login::settingsPath(), s));

  std::string added, changed, deleted;
  QStringList rowsAfterDelete{QStringLiteral("not run")};
  QString question;
  testing::onceShown(D::kTemplate, [&](QWidget* d) {
    control<QPushButton>(d, D::kAdd)->click();
    typeInto(control<QComboBox>(d, D::kPhone)->lineEdit(), QStringLiteral("13912345678"));
    auto* models = control<QComboBox>(d, D::kModel);
    models->setCurrentIndex(models->findText(QStringLiteral("诺基亚3310")));
    Q_EMIT models->activated(models->currentIndex());
    typeInto(control<QLineEdit>(d, D::kName), QStringLiteral("周八"));
    typeInto(control<QLineEdit>(d, D::kEmail), QStringLiteral("zhou@example.com"));
    control<QPushButton>(d, D::kSave)->click();
    added = home.rows();

    control<QPushButton>(d, D::kModify)->click();
    typeInto(control<QLineEdit>(d, D::kAge), QStringLiteral("33"));
    typeInto(control<QLineEdit>(d, D::kAddress), QStringLiteral("上海浦东"));
    control<QPushButton>(d, D::kSave)->click();
    changed = home.rows();

    testing::answerNextBox(QMessageBox::Yes, &question);
    control<QPushButton>(d, D::kDelete)->click();
    deleted = home.rows();
    rowsAfterDelete.clear();
    auto* list = control<QTreeWidget>(d, D::kList);
    for (int i = 0; i < list->topLevelItemCount(); ++i)
      rowsAfterDelete << list->topLevelItem(i)->text(0);
    control<QPushButton>(d, D::kExit)->click();
  });
  EXPECT_EQ(FMFriendsListMantance(""), 0);

  LoginState state{};
  EXPECT_EQ(LOGIN_GetState(&state), 2);
  EXPECT_STREQ(state.userId, kUser);
  EXPECT_EQ(added, "0|13912345678|Nokia3310||周八|0||zhou@example.com||||\n");
  EXPECT_EQ(changed, "0|13912345678|Nokia3310||周八|33||zhou@example.com|||上海浦东|\n");
  EXPECT_EQ(question, QStringLiteral("要从列表中删除这位好友吗？"));
  EXPECT_EQ(deleted, "");
  EXPECT_TRUE(rowsAfterDelete.isEmpty());
  // Signed in now: a second opening goes straight to the dialog.
  testing::onceShown(D::kTemplate, [](QWidget* d) { d->close(); });
  EXPECT_EQ(FMFriendsListMantance(""), 0);
}

}  // namespace
}  // namespace hv::friends
