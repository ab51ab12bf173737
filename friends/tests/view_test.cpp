// The friends dialog's Qt view under the offscreen platform: what the widgets show, what clicks
// and keys do, and the entry point's refusal when nobody can sign in.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include "friends/buddyedit.h"
#include "friends/tests/friends_home.h"
#include "friends/tests/view_support.h"
#include "include/handvane/records.h"
#include "login/signon.h"
#include "ui/UI/header.h"
#include "ui/UI/helper.h"
#include "ui/UI/widgets.h"
#include "ui/qt/qtbackend.h"

namespace hv::friends {
namespace {

using testing::control;
using testing::FriendsHome;
using testing::kUser;
using testing::typeInto;
using D = FriendsDialog;

class FriendsViewTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::friendsApp(); }

  // Runs the dialog modally; f plays it once it is shown.
  int run(D& dialog, std::function<void(QWidget*)> f) {
    testing::onceShown(D::kTemplate, std::move(f));
    return ui::backend().runModal(dialog);
  }
  static QLineEdit* edit(QWidget* d, int id) { return control<QLineEdit>(d, id); }
  static void key(QWidget* target, int k) {
    QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
  }
  static QStringList rows(QTreeWidget* list) {
    QStringList out;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
      out << list->topLevelItem(i)->text(0) + u'|' + list->topLevelItem(i)->text(1);
    return out;
  }

  FriendsHome home_;
};

TEST_F(FriendsViewTest, WidgetsShowTheControllerAndClicksRunTheFlows) {
  home_.seed({FriendsHome::record("13911112222", "张三", "Nokia3310", 30),
              FriendsHome::record("13933334444", "李四", "SiemensC45", 41)});
  D dialog(kUser, &CHandvaneHelper::IsPhoneNumberSupport);
  QStringList before, after;
  bool formLockedInViewMode = false, formOpenInEditMode = false;
  run(dialog, [&](QWidget* d) {
    auto* list = control<QTreeWidget>(d, D::kList);
    EXPECT_EQ(list->headerItem()->text(0), QStringLiteral("姓名"));
    EXPECT_EQ(list->headerItem()->text(1), QStringLiteral("手机号"));
    EXPECT_EQ(list->columnWidth(0), 60);
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
    before = rows(list);
    EXPECT_EQ(list->currentItem(), list->topLevelItem(0));
    EXPECT_EQ(control<QComboBox>(d, D::kPhone)->currentText(), QStringLiteral("13911112222"));
    EXPECT_EQ(control<QComboBox>(d, D::kModel)->currentText(), QStringLiteral("诺基亚3310"));
    EXPECT_EQ(edit(d, D::kAge)->text(), QStringLiteral("30"));
    formLockedInViewMode = !edit(d, D::kName)->isEnabled() &&
                           !control<QPushButton>(d, D::kSave)->isEnabled() &&
                           control<QPushButton>(d, D::kModify)->isEnabled();
    // Picking the second row shows its record.
    list->setCurrentItem(list->topLevelItem(1));
    EXPECT_EQ(edit(d, D::kName)->text(), QStringLiteral("李四"));
    EXPECT_EQ(control<QComboBox>(d, D::kModel)->currentText(), QStringLiteral("西门子C45"));
    control<QPushButton>(d, D::kModify)->click();
    formOpenInEditMode = edit(d, D::kName)->isEnabled() && !list->isEnabled() &&
                         control<QPushButton>(d, D::kSave)->isEnabled() &&
                         !control<QPushButton>(d, D::kExit)->isEnabled();
    typeInto(edit(d, D::kName), QStringLiteral("李四光"));
    control<QPushButton>(d, D::kSave)->click();
    after = rows(list);
    control<QPushButton>(d, D::kExit)->click();
  });
  EXPECT_TRUE(dialog.ended());
  EXPECT_TRUE(formLockedInViewMode);
  EXPECT_TRUE(formOpenInEditMode);
  EXPECT_EQ(before,
            (QStringList{QStringLiteral("张三|13911112222"), QStringLiteral("李四|13933334444")}));
  EXPECT_EQ(after, (QStringList{QStringLiteral("张三|13911112222"),
                                QStringLiteral("李四光|13933334444")}));
  EXPECT_EQ(home_.rows(),
            "0|13911112222|Nokia3310||张三|30||||||\n"
            "0|13933334444|SiemensC45||李四光|41||||||\n");
}

TEST_F(FriendsViewTest, EnterSavesWhileAddingAndEscapeThenEndsTheDialog) {
  D dialog(kUser, &CHandvaneHelper::IsPhoneNumberSupport);
  bool focusOnPhone = false;
  QStringList added;
  run(dialog, [&](QWidget* d) {
    control<QPushButton>(d, D::kAdd)->click();
    auto* phone = control<QComboBox>(d, D::kPhone);
    focusOnPhone = d->focusWidget() == phone->lineEdit() || d->focusWidget() == phone;
    typeInto(phone->lineEdit(), QStringLiteral("1385555666677"));  // the box takes 11
    typeInto(edit(d, D::kName), QStringLiteral("王五"));
    key(edit(d, D::kName), Qt::Key_Return);
    added = rows(control<QTreeWidget>(d, D::kList));
    key(d, Qt::Key_Escape);
  });
  EXPECT_TRUE(focusOnPhone);
  EXPECT_EQ(added, QStringList{QStringLiteral("王五|13855556666")});
  EXPECT_TRUE(dialog.ended());
  EXPECT_EQ(dialog.result(), ui::kIdCancel);
  EXPECT_EQ(home_.rows(), "0|13855556666|||王五|0||||||\n");
}

TEST_F(FriendsViewTest, BoxesTakeNoMoreBytesThanTheirFields) {
  D dialog(kUser, &CHandvaneHelper::IsPhoneNumberSupport);
  QString name, postcode, age;
  run(dialog, [&](QWidget* d) {
    control<QPushButton>(d, D::kAdd)->click();
    // Typed one character at a time, as a user does: what does not fit is not taken.
    auto* n = edit(d, D::kName);
    n->setFocus();
    for (QChar c : QStringLiteral("一二三四五六七八九十")) n->insert(c);
    name = n->text();
    auto* p = edit(d, D::kPostcode);
    for (QChar c : QStringLiteral("1000801")) p->insert(c);
    postcode = p->text();
    auto* a = edit(d, D::kAge);
    a->clear();  // an empty record shows the age 0
    for (QChar c : QStringLiteral("4x2")) a->insert(c);
    age = a->text();
    key(d, Qt::Key_Escape);
    key(d, Qt::Key_Escape);
  });
  EXPECT_EQ(name, QStringLiteral("一二三四五六七八九"));  // 18 of 19 bytes; a tenth needs 20
  EXPECT_EQ(postcode, QStringLiteral("100080"));
  EXPECT_EQ(age, QStringLiteral("42"));
}

TEST_F(FriendsViewTest, HeaderCarriesThePictureAndItsButtons) {
  D dialog(kUser, &CHandvaneHelper::IsPhoneNumberSupport);
  QRect close, minimize;
  int headerHeight = 0, width = 0, listTop = 0;
  run(dialog, [&](QWidget* d) {
    // CDialogHeader has no meta-object of its own: found by name, checked by type.
    auto* header = dynamic_cast<CDialogHeader*>(d->findChild<QWidget*>(QStringLiteral("header")));
    ASSERT_NE(header, nullptr);
    headerHeight = header->headerHeight();
    close = header->button(CDialogHeader::Button::Close)->geometry();
    minimize = header->button(CDialogHeader::Button::Minimize)->geometry();
    width = d->width();
    listTop = control<QTreeWidget>(d, D::kList)->mapTo(d, QPoint(0, 0)).y();
    header->button(CDialogHeader::Button::Close)->click();
  });
  EXPECT_EQ(headerHeight, 36);  // the picture's height
  EXPECT_EQ(close, QRect(QPoint(483, 10), QPoint(496, 27)));
  EXPECT_EQ(minimize, QRect(QPoint(460, 10), QPoint(473, 27)));
  EXPECT_EQ(width, 505);
  EXPECT_GE(listTop, headerHeight);
  EXPECT_TRUE(dialog.ended());
}

TEST_F(FriendsViewTest, EntryPointSaysSoWhenNobodyCanSignIn) {
  // No settings and no credentials: the login dialog opens; closing it leaves nobody signed in.
  bool loginShown = false;
  testing::onceShown(9000, [&](QWidget* login) {
    loginShown = true;
    login->close();
  });
  QString text;
  testing::answerNextBox(QMessageBox::Ok, &text);
  EXPECT_EQ(FMFriendsListMantance(""), -1);
  EXPECT_TRUE(loginShown);
  EXPECT_EQ(text, QStringLiteral("未能成功登录，你无法使用好友信息。"));
  EXPECT_EQ(testing::shownDialog(D::kTemplate), nullptr);
}

}  // namespace
}  // namespace hv::friends
