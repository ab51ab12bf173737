// The Qt controls of the UI library under the offscreen platform.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QDialog>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QTreeView>
#include <QVBoxLayout>

#include "platform/fs.h"
#include "platform/gbk.h"
#include "platform/tests/test_dir.h"
#include "ui/UI/UI.h"
#include "ui/qt/qtext.h"
#include "ui/qt/tests/qt_test_app.h"

namespace {

using hv::ui::qt::testing::app;

TEST(CNumEdit, TakesDigitsOnlyFromTypingAndPasting) {
  app();
  CNumEdit edit;
  edit.insert(QStringLiteral("12a3"));
  EXPECT_EQ(edit.text(), QStringLiteral("123"));
  edit.clear();
  QGuiApplication::clipboard()->setText(QStringLiteral("138-0013 8000"));
  edit.paste();
  EXPECT_EQ(edit.text(), QStringLiteral("13800138000"));
  edit.clear();
  edit.SetLimitText(5);
  edit.insert(QStringLiteral("电话 1234567"));
  EXPECT_EQ(edit.text(), QStringLiteral("12345"));
}

class PhoneTreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app();
    ASSERT_TRUE(hv::fs::writeFileAtomic(
        ini_, hv::T("[COMPANY]\r\nCOUNT=2\r\nCOMPANY1=诺基亚\r\nCOMPANY2=西门子\r\n"
                    "[诺基亚]\r\nCOUNT=1\r\nPHONE1=诺基亚3310\r\n"
                    "[西门子]\r\nCOUNT=2\r\nPHONE1=西门子C45\r\nPHONE2=S55\r\n")));
    ASSERT_TRUE(tree_.LoadPhoneCompany(ini_));
  }
  QString makerOfItem(int item) {
    const QString name = hv::ui::qt::toQ(tree_.GetItemText(item));
    for (int m = 0; m < tree_.treeModel()->rowCount(); ++m) {
      auto* maker = tree_.treeModel()->item(m);
      for (int r = 0; r < maker->rowCount(); ++r) {
        if (maker->child(r)->text() == name) return maker->text();
      }
    }
    return {};
  }
  TestDir dir_;
  std::string ini_ = dir_ / "phonecompany.ini";
  CPhoneTypeTree tree_;
};

TEST_F(PhoneTreeTest, GroupsModelsUnderTheirMakersInTheFilesOrder) {
  const int s55 = tree_.AddString("S55");
  const int n7650 = tree_.AddString(hv::T("诺基亚7650"));  // not listed: by its name
  const int n3310 = tree_.AddString(hv::T("诺基亚3310"));
  const int other = tree_.AddString("X100");
  EXPECT_EQ(makerOfItem(s55), QStringLiteral("西门子"));
  EXPECT_EQ(makerOfItem(n7650), QStringLiteral("诺基亚"));
  EXPECT_EQ(makerOfItem(other), QStringLiteral("其他"));
  EXPECT_EQ(tree_.treeModel()->item(0)->text(), QStringLiteral("诺基亚"));
  tree_.Sort();
  EXPECT_EQ(tree_.treeModel()->item(0)->child(0)->text(), QStringLiteral("诺基亚3310"));
  EXPECT_EQ(tree_.GetItemText(n3310), hv::T("诺基亚3310"));

  EXPECT_EQ(tree_.GetCurSel(), -1);
  EXPECT_EQ(tree_.GetItemData(s55), -1);
  tree_.SetItemData(s55, 12);
  EXPECT_EQ(tree_.GetItemData(s55), 12);
  EXPECT_TRUE(tree_.SelectString(hv::T("诺基亚7650")));
  EXPECT_EQ(tree_.GetCurSel(), n7650);
  EXPECT_FALSE(tree_.SelectString("nothing"));
  EXPECT_EQ(tree_.GetItemData(99), -1);
}

TEST_F(PhoneTreeTest, ClickingAModelInTheDropDownSelectsIt) {
  const int c45 = tree_.AddString(hv::T("西门子C45"));
  tree_.AddString(hv::T("诺基亚3310"));
  int reported = -2;
  QObject::connect(&tree_, &CPhoneTypeTree::modelSelected, [&](int item) { reported = item; });
  tree_.show();
  tree_.showPopup();
  QTreeView* view = tree_.treeView();
  const QModelIndex idx = tree_.treeModel()->item(1)->child(0)->index();
  view->expandAll();
  const QPoint at = view->visualRect(idx).center();
  QMouseEvent release(QEvent::MouseButtonRelease, at, view->viewport()->mapToGlobal(at),
                      Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(view->viewport(), &release);
  EXPECT_EQ(tree_.GetCurSel(), c45);
  EXPECT_EQ(reported, c45);
}

TEST(CPhoneTypeTree, TakesThePlaceOfTheDialogsControl) {
  QDialog dialog;
  auto* layout = new QVBoxLayout(&dialog);
  auto* placeholder = new QComboBox(&dialog);
  placeholder->setObjectName(QStringLiteral("c1029"));
  layout->addWidget(placeholder);
  auto* tree = new CPhoneTypeTree;
  EXPECT_FALSE(tree->SubclassDlgItem(1030, &dialog));
  ASSERT_TRUE(tree->SubclassDlgItem(1029, &dialog));
  EXPECT_EQ(tree->parentWidget(), &dialog);
  EXPECT_EQ(layout->indexOf(tree), 0);
  EXPECT_EQ(layout->indexOf(placeholder), -1);
}

TEST(CDialogHeader, MovesTheControlsBelowItAndItsButtonsAct) {
  app();
  QDialog dialog;
  dialog.resize(300, 100);
  auto* child = new QWidget(&dialog);
  child->setGeometry(10, 5, 50, 20);
  CDialogHeader header;
  header.Init(&dialog);
  header.SetCloseButton(QRect(270, 5, 20, 20));
  header.SetImageButton(QRect(200, 5, 30, 30));
  header.SetImageCallBack(32771);
  std::vector<int> commands;
  header.SetCommandHandler([&](int id) { commands.push_back(id); });
  header.MoveCtrls(&dialog);
  const int h = header.headerHeight();
  EXPECT_GT(h, 0);
  EXPECT_EQ(child->geometry(), QRect(10, 5 + h, 50, 20));
  EXPECT_EQ(dialog.height(), 100 + h);
  header.button(CDialogHeader::Button::Image)->click();
  EXPECT_EQ(commands, std::vector<int>{32771});
  dialog.show();
  header.button(CDialogHeader::Button::Close)->click();
  EXPECT_FALSE(dialog.isVisible());
}

}  // namespace
