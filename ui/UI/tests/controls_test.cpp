// The Qt controls of the UI library under the offscreen platform.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QDialog>
#include <QEnterEvent>
#include <QImage>
#include <QPixmap>
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

QColor centre(QWidget& w) {
  const QImage shot = w.grab().toImage();
  return shot.pixelColor(shot.width() / 2, shot.height() / 2);
}

TEST(CButtonST, DrawsItsPictureAndTheHoverPictureWhileThePointerIsOver) {
  app();
  CButtonST button;
  button.setText(QStringLiteral("保存"));
  button.resize(40, 30);
  EXPECT_FALSE(button.hasBitmap());
  // A picture that cannot be loaded leaves the button as it was: a flat button with its text.
  EXPECT_FALSE(button.SetBitmaps(hv::T("/nonexistent/按钮.bmp")));
  EXPECT_FALSE(button.hasBitmap());
  EXPECT_TRUE(button.isFlat());

  QPixmap red(40, 30), blue(40, 30);
  red.fill(Qt::red);
  blue.fill(Qt::blue);
  button.SetBitmaps(red, blue);
  EXPECT_TRUE(button.hasBitmap());
  EXPECT_EQ(centre(button), QColor(Qt::red));
  QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
  QCoreApplication::sendEvent(&button, &enter);
  EXPECT_EQ(centre(button), QColor(Qt::blue));
  QEvent leave(QEvent::Leave);
  QCoreApplication::sendEvent(&button, &leave);
  EXPECT_EQ(centre(button), QColor(Qt::red));
  // Without a hover picture the normal one stays while the pointer is over.
  button.SetBitmaps(red);
  QCoreApplication::sendEvent(&button, &enter);
  EXPECT_EQ(centre(button), QColor(Qt::red));

  button.SetTooltipText(hv::T("保存副本"));
  EXPECT_EQ(button.toolTip(), QStringLiteral("保存副本"));
}

TEST(CTransparentStatic, ShowsTheBackgroundBehindItsGbkText) {
  app();
  QWidget parent;
  parent.resize(120, 40);
  parent.setAutoFillBackground(true);
  QPalette palette = parent.palette();
  palette.setColor(QPalette::Window, Qt::green);
  parent.setPalette(palette);
  auto* label = new CTransparentStatic(&parent);
  label->setGeometry(0, 0, 120, 40);
  label->SetText(hv::T("透明背景的文字"));
  // A label that painted a background of its own would show this red.
  QPalette own = label->palette();
  own.setColor(QPalette::Window, Qt::red);
  label->setPalette(own);
  EXPECT_EQ(label->text(), QStringLiteral("透明背景的文字"));
  const QImage shot = parent.grab().toImage();
  // A corner lies outside the text: the parent's green shows through.
  EXPECT_EQ(shot.pixelColor(1, 1), QColor(Qt::green));
}

}  // namespace
