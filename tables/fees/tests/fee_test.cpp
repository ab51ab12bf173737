#include <gtest/gtest.h>

#include "platform/fs.h"
#include "platform/gbk.h"
#include "tables/dbf/tests/testkit.h"
#include "tables/fees/feeconfig.h"

namespace {

using hv::tabletest::TempDir;

class FeeTest : public ::testing::Test {
 protected:
  std::string write(const std::string& text) {
    std::string crlf;
    for (char c : text) {
      if (c == '\n') crlf += '\r';
      crlf += c;
    }
    EXPECT_TRUE(hv::fs::writeFileAtomic(path(), crlf));
    return path();
  }
  std::string path() const { return dir_ / "confee.dll"; }
  TempDir dir_;
};

TEST_F(FeeTest, FeeIsCountTimesChargePlusFixedInTenths) {
  CFeeConfig fee;
  EXPECT_EQ(fee.Init(write("[YEWU_LIST]\n"
                           "ITEM1=PER;Per message;0;1;ONE\n"
                           "ITEM2=FIX;Fixed;15;0.5;TWO\n"
                           "[FORMAT]\n"
                           "ONE=%s %.1f\n"
                           "TWO=%s=%.2f yuan\n"
                           "[INFOTYPE2YEWU]\n"
                           "text=PER\n"
                           "nokia_op_logo=PER;FIX\n")),
            1);
  EXPECT_EQ(fee.ConstructFee("text", 3), "Per message 0.3\n");
  // Count 0 leaves each item's fixed part: 0 and 1.5.
  EXPECT_EQ(fee.ConstructFee("nokia_op_logo", 0), "Per message 0.0\nFixed=1.50 yuan\n");
  // 4 x 0.5 + 15 = 17 tenths.
  EXPECT_EQ(fee.ConstructFee("nokia_op_logo", 4), "Per message 0.4\nFixed=1.70 yuan\n");
  EXPECT_EQ(fee.ConstructFee("flash", 1), "");
  // Profile keys ignore letter case; item names do not (see ListsSplitAtEverySeparator).
  EXPECT_EQ(fee.ConstructFee("TEXT", 1), "Per message 0.1\n");
}

TEST_F(FeeTest, ListsSplitAtEverySeparator) {
  CFeeConfig fee;
  fee.Init(
      write("[YEWU_LIST]\n"
            "ITEM1=A;Shown A;0;1;F\n"
            "ITEM2=B;Shown B;0;2;F;extra\n"
            "ITEM3=;Empty name;0;3;F\n"
            "ITEM4=short;only;three\n"
            "ITEM5=C;Shown C;0;4;F\n"
            "[FORMAT]\nF=%s:%.1f\n"
            "[INFOTYPE2YEWU]\n"
            "twice=A;A\n"
            "gap=A;;B\n"
            "trailing=B;\n"
            "unknown=X;C\n"
            "lower=a\n"));
  // An item needs five fields; the one with three is skipped, the following ones are read.
  ASSERT_EQ(fee.items().size(), 4u);
  EXPECT_EQ(fee.items()[1].name, "B");
  EXPECT_EQ(fee.items()[3].name, "C");
  EXPECT_EQ(fee.ConstructFee("twice", 1), "Shown A:0.1\nShown A:0.1\n");
  // The empty piece between the two separators names the item with the empty name.
  EXPECT_EQ(fee.ConstructFee("gap", 1), "Shown A:0.1\nEmpty name:0.3\nShown B:0.2\n");
  EXPECT_EQ(fee.ConstructFee("trailing", 1), "Shown B:0.2\n");
  EXPECT_EQ(fee.ConstructFee("unknown", 1), "Shown C:0.4\n");
  EXPECT_EQ(fee.ConstructFee("lower", 1), "");
}

TEST_F(FeeTest, ItemKeysStopAtTheFirstGap) {
  CFeeConfig fee;
  fee.Init(write("[YEWU_LIST]\nITEM1=A;a;0;1;F\nITEM3=C;c;0;1;F\n[FORMAT]\nF=%s%.0f\n"));
  ASSERT_EQ(fee.items().size(), 1u);
  EXPECT_EQ(fee.items()[0].name, "A");
  EXPECT_EQ(fee.items()[0].format, "%s%.0f\n");
}

TEST_F(FeeTest, EachKindIsReadFromTheFileOnce) {
  CFeeConfig fee;
  fee.Init(
      write("[YEWU_LIST]\nITEM1=A;a;0;1;F\nITEM2=B;b;0;1;F\n[FORMAT]\nF=%s %.1f\n"
            "[INFOTYPE2YEWU]\ntext=A\nflash=\n"));
  EXPECT_EQ(fee.ConstructFee("text", 1), "a 0.1\n");
  EXPECT_EQ(fee.ConstructFee("flash", 1), "");
  write(
      "[YEWU_LIST]\nITEM1=A;a;0;1;F\nITEM2=B;b;0;1;F\n[FORMAT]\nF=%s %.1f\n"
      "[INFOTYPE2YEWU]\ntext=B\nflash=A\n");
  EXPECT_EQ(fee.ConstructFee("text", 1), "a 0.1\n");
  EXPECT_EQ(fee.ConstructFee("flash", 1), "") << "an empty list is cached too";
}

TEST_F(FeeTest, FormatsThatCouldMisuseTheArgumentsAreNotUsed) {
  CFeeConfig fee;
  fee.Init(
      write("[YEWU_LIST]\n"
            "ITEM1=OK;ok;0;1;GOOD\n"
            "ITEM2=N;n;0;1;WRITES\n"
            "ITEM3=S;s;0;1;TWOTEXTS\n"
            "ITEM4=W;w;0;1;WIDE\n"
            "ITEM5=R;r;0;1;REVERSED\n"
            "ITEM6=P;p;0;1;PERCENT\n"
            "ITEM7=T;t;0;1;TEXTONLY\n"
            "[FORMAT]\n"
            "GOOD=%-8s|%+6.2lf\n"
            "WRITES=%s%n\n"
            "TWOTEXTS=%s%s\n"
            "WIDE=%s%99999f\n"
            "REVERSED=%f%s\n"
            "PERCENT=100%% %s %g\n"
            "TEXTONLY=%s\n"));
  std::vector<std::string> names;
  for (const auto& item : fee.items()) names.push_back(item.name);
  EXPECT_EQ(names, (std::vector<std::string>{"OK", "P", "T"}));
}

TEST_F(FeeTest, MissingFileGivesEmptyNotices) {
  CFeeConfig fee;
  EXPECT_EQ(fee.Init(dir_ / "missing.dll"), 1);
  EXPECT_TRUE(fee.items().empty());
  EXPECT_EQ(fee.ConstructFee("text", 2), "");
}

TEST_F(FeeTest, GbkTextPassesThrough) {
  CFeeConfig fee;
  fee.Init(write(hv::T(
      "[YEWU_LIST]\nITEM1=A;短信费;0;1;F\n[FORMAT]\nF=%s：%.1f元\n[INFOTYPE2YEWU]\ntext=A\n")));
  EXPECT_EQ(fee.ConstructFee("text", 2), hv::T("短信费：0.2元\n"));
}

}  // namespace
