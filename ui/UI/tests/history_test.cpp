// The receiver history in "Setting.ini": its layout, damaged files and the combo box around it.
#include "ui/UI/history.h"

#include <gtest/gtest.h>

#include "platform/fs.h"
#include "platform/gbk.h"
#include "platform/tests/test_dir.h"
#include "ui/UI/receiverhistory.h"
#include "ui/qt/tests/qt_test_app.h"

namespace {

using hv::ui::ReceiverHistory;

TEST(ReceiverHistory, NewestFirstWithoutDuplicatesAndOtherSectionsKept) {
  TestDir dir;
  const std::string file = dir / "Setting.ini";
  ASSERT_TRUE(hv::fs::writeFileAtomic(file, "[Sign]\r\nText=abc\r\n"));
  ReceiverHistory h;
  EXPECT_FALSE(h.load(file, "Receiver"));
  EXPECT_FALSE(h.damaged());
  h.add("13800138000");
  h.add(" 13900139000 ");
  h.add("13800138000");
  h.add("   ");
  ASSERT_TRUE(h.save());
  EXPECT_EQ(hv::fs::readFile(file).value_or(""),
            "[Sign]\r\nText=abc\r\n[Receiver]\r\nCount=2\r\nItem1=13800138000\r\n"
            "Item2=13900139000\r\n");
  ReceiverHistory again;
  EXPECT_TRUE(again.load(file, "receiver"));
  EXPECT_EQ(again.entries(), (std::vector<std::string>{"13800138000", "13900139000"}));
}

TEST(ReceiverHistory, KeepsTheTwentyMostRecent) {
  ReceiverHistory h;
  for (int i = 0; i < 25; ++i) h.add(std::to_string(13800000000LL + i));
  ASSERT_EQ(h.entries().size(), 20u);
  EXPECT_EQ(h.entries().front(), "13800000024");
  EXPECT_EQ(h.entries().back(), "13800000005");
}

TEST(ReceiverHistory, DamagedSectionGivesAnEmptyHistoryAndIsRewrittenCleanly) {
  const std::string damaged[] = {
      "[Receiver]\r\nCount=abc\r\nItem1=13800138000\r\n",
      "[Receiver]\r\nCount=3\r\nItem1=13800138000\r\nItem3=13900139000\r\n",
      "[Receiver]\r\nCount=21\r\n",
      "[Receiver]\r\nItem1=13800138000\r\n",
      "[Receiver]\r\nCount=1\r\nItem1=\x81\r\n",
      "[Receiver]\r\nCount=2\r\nItem1=1\r\nItem2=1\r\n",
  };
  for (const std::string& text : damaged) {
    TestDir dir;
    const std::string file = dir / "Setting.ini";
    ASSERT_TRUE(hv::fs::writeFileAtomic(file, "[Other]\r\nKey=1\r\n" + text));
    ReceiverHistory h;
    EXPECT_FALSE(h.load(file, "Receiver")) << text;
    EXPECT_TRUE(h.damaged());
    EXPECT_TRUE(h.entries().empty());
    EXPECT_EQ(hv::fs::readFile(file).value_or(""), "[Other]\r\nKey=1\r\n[Receiver]\r\nCount=0\r\n")
        << text;
  }
}

TEST(CACCombox, ListsHistoryAfterTheDialogsOwnEntriesAndSavesOnAddCurrent) {
  hv::ui::qt::testing::app();
  TestDir dir;
  const std::string file = dir / "Setting.ini";
  ASSERT_TRUE(hv::fs::writeFileAtomic(file, "[Receiver]\r\nCount=1\r\nItem1=13900139000\r\n"));
  CACCombox box;
  box.Init();
  box.addItem(QStringLiteral("张三"), 7);
  EXPECT_TRUE(box.LoadHistory(file, "Receiver"));
  ASSERT_EQ(box.count(), 2);
  EXPECT_EQ(box.GetItemData(0), 7);
  EXPECT_EQ(box.itemText(1), QStringLiteral("13900139000"));
  EXPECT_EQ(box.GetItemData(1), -1);

  box.SetText("13800138000");
  box.AddCurrent();
  EXPECT_EQ(box.GetText(), "13800138000");
  ASSERT_EQ(box.count(), 3);
  EXPECT_EQ(box.itemText(0), QStringLiteral("张三"));
  EXPECT_EQ(box.itemText(1), QStringLiteral("13800138000"));
  ReceiverHistory stored;
  EXPECT_TRUE(stored.load(file, "Receiver"));
  EXPECT_EQ(stored.entries(), (std::vector<std::string>{"13800138000", "13900139000"}));
}

}  // namespace
