// The friends dialog's controller without a display: the scripted backend answers its message
// boxes, the tables are real files, and what reaches FRIENDS.DBF is read back with dbfread.
#include <gtest/gtest.h>

#include <memory>

#include "friends/friends_dialog.h"
#include "friends/tests/friends_home.h"
#include "platform/fs.h"
#include "platform/gbk.h"
#include "ui/UI/helper.h"
#include "ui/core/ui.h"

namespace hv::friends {
namespace {

using testing::FriendsHome;
using testing::kUser;
using D = FriendsDialog;

class FriendsDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    backend_ = std::make_shared<ui::ScriptedBackend>();
    ui::setBackend(backend_);
  }
  void TearDown() override { ui::setBackend(std::make_shared<ui::ScriptedBackend>()); }

  // The dialog as the program opens it, with the suite's own phone number check.
  std::unique_ptr<D> open() {
    auto d = std::make_unique<D>(kUser, &CHandvaneHelper::IsPhoneNumberSupport);
    d->onInit();
    return d;
  }
  static void type(D& d, int id, const std::string& utf8) {
    d.setText(id, T(utf8));
    d.onChange(id);
  }
  static void pickModel(D& d, const std::string& nameUtf8) {
    const auto names = d.items(D::kModel);
    const auto it = std::find(names.begin(), names.end(), T(nameUtf8));
    ASSERT_NE(it, names.end()) << nameUtf8;
    d.setSelection(D::kModel, int(it - names.begin()));
    d.onChange(D::kModel);
  }
  static void select(D& d, int row) {
    d.setSelection(D::kList, row);
    d.onChange(D::kList);
  }
  static std::string shown(const D& d, int id) { return gbkToUtf8Escaped(d.text(id)); }
  static std::vector<std::string> listUtf8(const D& d) {
    std::vector<std::string> out;
    for (const auto& s : d.items(D::kList)) out.push_back(gbkToUtf8Escaped(s));
    return out;
  }
  // Which of the mode-dependent controls are enabled, as a readable string.
  static std::string enabledSet(const D& d) {
    std::string s;
    for (auto [id, name] : {std::pair{D::kList, "list"},
                            {D::kAdd, "add"},
                            {D::kDelete, "delete"},
                            {D::kModify, "modify"},
                            {D::kSave, "save"},
                            {D::kCancel, "cancel"},
                            {D::kExit, "exit"},
                            {D::kPhone, "phone"},
                            {D::kModel, "model"},
                            {D::kAddress, "address"}}) {
      if (d.enabled(id)) s += std::string(s.empty() ? "" : " ") + name;
    }
    return s;
  }

  FriendsHome home_;
  std::shared_ptr<ui::ScriptedBackend> backend_;
};

TEST_F(FriendsDialogTest, OpensWithTheFirstFriendShownAndTheModelsSorted) {
  home_.seed({FriendsHome::record("13911112222", "张三", "nokia3310", 30),
              FriendsHome::record("13933334444", "李四", "SiemensC45", 41)});
  auto d = open();
  EXPECT_EQ(d->title(), T("好友列表维护"));
  EXPECT_EQ(d->text(D::kHeader), home_.path() + T("DATA/好友.jpg"));
  EXPECT_EQ(listUtf8(*d), (std::vector<std::string>{"张三\t13911112222", "李四\t13933334444"}));
  EXPECT_EQ(d->selection(D::kList), 0);
  EXPECT_EQ(d->currentRow(), 0);
  EXPECT_EQ(shown(*d, D::kPhone), "13911112222");
  EXPECT_EQ(shown(*d, D::kName), "张三");
  EXPECT_EQ(shown(*d, D::kAge), "30");
  // The stored type matches the model "Nokia3310" without regard to case.
  ASSERT_GE(d->selection(D::kModel), 0);
  EXPECT_EQ(gbkToUtf8Escaped(d->items(D::kModel)[size_t(d->selection(D::kModel))]), "诺基亚3310");
  EXPECT_EQ(d->items(D::kModel), home_.sortedModelNames());
  EXPECT_EQ(enabledSet(*d), "list add delete modify exit");
  EXPECT_FALSE(d->editing());
  EXPECT_TRUE(backend_->boxes().empty());
}

TEST_F(FriendsDialogTest, EmptyTableShowsAnEmptyFormWithOnlyAddAndExit) {
  auto d = open();
  EXPECT_TRUE(d->items(D::kList).empty());
  EXPECT_EQ(d->currentRow(), -1);
  EXPECT_EQ(shown(*d, D::kPhone), "");
  EXPECT_EQ(shown(*d, D::kAge), "0");
  EXPECT_EQ(d->selection(D::kModel), -1);
  EXPECT_EQ(enabledSet(*d), "list add exit");
}

TEST_F(FriendsDialogTest, MissingTableLeavesNothingToAddTo) {
  ASSERT_TRUE(fs::removeFile(home_.table()));
  auto d = open();
  EXPECT_TRUE(d->items(D::kList).empty());
  EXPECT_EQ(enabledSet(*d), "list exit");
  d->onCommand(D::kAdd);
  EXPECT_FALSE(d->editing());
}

TEST_F(FriendsDialogTest, AddingAFriendReachesTheFileAndTheList) {
  home_.seed({FriendsHome::record("13911112222", "张三", "Nokia3310", 30)});
  auto d = open();
  d->onCommand(D::kAdd);
  EXPECT_TRUE(d->editing());
  EXPECT_EQ(d->editKind(), D::EditKind::Adding);
  EXPECT_EQ(enabledSet(*d), "save cancel phone model address");
  EXPECT_EQ(shown(*d, D::kPhone), "");  // an empty record to fill in
  EXPECT_EQ(shown(*d, D::kName), "");
  EXPECT_EQ(d->focusControl(), D::kPhone);
  type(*d, D::kPhone, "13855556666");
  pickModel(*d, "西门子C45");
  type(*d, D::kName, "王五");
  type(*d, D::kNickname, "小王");
  type(*d, D::kAge, "27");
  type(*d, D::kSex, "男");
  type(*d, D::kEmail, "wang@example.com");
  type(*d, D::kQQ, "123456789");
  type(*d, D::kMsn, "wang@msn.example");
  type(*d, D::kPostcode, "100080");
  type(*d, D::kAddress, "北京海淀");
  d->onCommand(D::kSave);
  EXPECT_TRUE(backend_->boxes().empty()) << backend_->boxTexts().front();
  EXPECT_FALSE(d->editing());
  EXPECT_EQ(listUtf8(*d), (std::vector<std::string>{"张三\t13911112222", "王五\t13855556666"}));
  EXPECT_EQ(d->selection(D::kList), 1);
  EXPECT_EQ(d->rowIndex(1), 1);
  EXPECT_EQ(enabledSet(*d), "list add delete modify exit");
  EXPECT_EQ(home_.rows(),
            "0|13911112222|Nokia3310||张三|30||||||\n"
            "0|13855556666|SiemensC45|小王|王五|27|男|wang@example.com|123456789|"
            "wang@msn.example|北京海淀|100080\n");
}

TEST_F(FriendsDialogTest, AddingAKnownNumberIsRefusedAndTheInputKept) {
  home_.seed({FriendsHome::record("13911112222", "张三", "Nokia3310")});
  auto d = open();
  d->onCommand(D::kAdd);
  type(*d, D::kPhone, "13911112222");
  type(*d, D::kName, "重复");
  d->onCommand(D::kSave);
  ASSERT_EQ(backend_->boxTexts(), std::vector<std::string>{"好友手机号已经存在!"});
  EXPECT_EQ(backend_->boxes()[0].caption, T("好友列表"));
  EXPECT_EQ(backend_->boxes()[0].icon, ui::Icon::Information);
  EXPECT_TRUE(d->editing());
  EXPECT_EQ(shown(*d, D::kName), "重复");
  EXPECT_EQ(home_.rows(), "0|13911112222|Nokia3310||张三|0||||||\n");
}

TEST_F(FriendsDialogTest, NumberTheServiceCannotReachIsExplained) {
  auto d = open();
  d->onCommand(D::kAdd);
  type(*d, D::kPhone, "12345");
  d->onCommand(D::kSave);
  std::string reason;
  ASSERT_EQ(CHandvaneHelper::IsPhoneNumberSupport(kUser, "12345", reason), 0);
  ASSERT_EQ(backend_->boxes().size(), 1u);
  EXPECT_EQ(backend_->boxes()[0].text, reason);
  EXPECT_EQ(backend_->boxes()[0].caption, T("好友列表"));
  EXPECT_EQ(backend_->boxes()[0].icon, ui::Icon::Information);
  EXPECT_TRUE(d->editing());
  EXPECT_EQ(shown(*d, D::kPhone), "12345");
  EXPECT_EQ(home_.rows(), "");
}

TEST_F(FriendsDialogTest, LongInputIsCutToTheFieldsWithoutSplittingACharacter) {
  auto d = open();
  d->onCommand(D::kAdd);
  type(*d, D::kPhone, "138001380001234");      // more than the 11 a number may have
  type(*d, D::kName, "一二三四五六七八九十");  // 20 bytes of GBK; the box hands over 19
  type(*d, D::kPostcode, "1000801");
  type(*d, D::kAge, "abc");
  d->onCommand(D::kSave);
  EXPECT_TRUE(backend_->boxes().empty());
  EXPECT_EQ(home_.rows(), "0|13800138000|||一二三四五六七八九|0||||||100080\n");
}

TEST_F(FriendsDialogTest, ChangingAFriendKeepsItsRowAndItsId) {
  FriendRecord first = FriendsHome::record("13911112222", "张三", "Nokia3310", 30);
  first.id = 7;
  home_.seed({first, FriendsHome::record("13933334444", "李四", "SiemensC45", 41)});
  auto d = open();
  select(*d, 0);
  d->onCommand(D::kModify);
  EXPECT_EQ(d->editKind(), D::EditKind::Changing);
  EXPECT_EQ(enabledSet(*d), "save cancel phone model address");
  type(*d, D::kName, "张三丰");
  type(*d, D::kAge, "99");
  pickModel(*d, "西门子C45");
  d->onCommand(D::kSave);
  EXPECT_TRUE(backend_->boxes().empty());
  EXPECT_FALSE(d->editing());
  EXPECT_EQ(listUtf8(*d), (std::vector<std::string>{"张三丰\t13911112222", "李四\t13933334444"}));
  EXPECT_EQ(d->selection(D::kList), 0);
  EXPECT_EQ(home_.rows(),
            "7|13911112222|SiemensC45||张三丰|99||||||\n"
            "0|13933334444|SiemensC45||李四|41||||||\n");
}

TEST_F(FriendsDialogTest, ChangingTheNumberOfAFriendIsRefusedByTheTable) {
  home_.seed({FriendsHome::record("13911112222", "张三", "Nokia3310")});
  auto d = open();
  d->onCommand(D::kModify);
  type(*d, D::kPhone, "13999999999");
  d->onCommand(D::kSave);
  ASSERT_EQ(backend_->boxTexts(), std::vector<std::string>{"修改好友记录失败！"});
  EXPECT_EQ(backend_->boxes()[0].icon, ui::Icon::Stop);
  EXPECT_TRUE(d->editing());
  EXPECT_EQ(shown(*d, D::kPhone), "13999999999");
  EXPECT_EQ(home_.rows(), "0|13911112222|Nokia3310||张三|0||||||\n");
}

TEST_F(FriendsDialogTest, ChangingToTheNumberOfAnotherFriendIsLeftToTheTable) {
  // The dialog does not look for another friend with the number when changing: the table's
  // own rule (the number may not change) refuses it.
  home_.seed({FriendsHome::record("13911112222", "张三", "Nokia3310"),
              FriendsHome::record("13933334444", "李四", "Nokia3310")});
  auto d = open();
  d->onCommand(D::kModify);
  type(*d, D::kPhone, "13933334444");
  d->onCommand(D::kSave);
  EXPECT_EQ(backend_->boxTexts(), std::vector<std::string>{"修改好友记录失败！"});
}

TEST_F(FriendsDialogTest, FriendWithAnUnknownModelIsSavedWithAnEmptyType) {
  home_.seed({FriendsHome::record("13911112222", "张三", "NoSuchPhone")});
  auto d = open();
  EXPECT_EQ(d->selection(D::kModel), -1);
  d->onCommand(D::kModify);
  d->onCommand(D::kSave);
  EXPECT_TRUE(backend_->boxes().empty());
  EXPECT_EQ(home_.rows(), "0|13911112222|||张三|0||||||\n");
}

TEST_F(FriendsDialogTest, CancelShowsTheStoredRecordAgain) {
  home_.seed({FriendsHome::record("13911112222", "张三", "Nokia3310", 30)});
  auto d = open();
  d->onCommand(D::kModify);
  type(*d, D::kName, "改了又取消");
  d->onCommand(D::kCancel);
  EXPECT_FALSE(d->editing());
  EXPECT_EQ(shown(*d, D::kName), "张三");
  d->onCommand(D::kAdd);
  type(*d, D::kPhone, "13855556666");
  d->onCommand(D::kCancel);
  EXPECT_EQ(shown(*d, D::kPhone), "13911112222");
  EXPECT_EQ(listUtf8(*d).size(), 1u);
  EXPECT_EQ(home_.rows(), "0|13911112222|Nokia3310||张三|30||||||\n");
}

TEST_F(FriendsDialogTest, DeletingTheLastRowSelectsTheNewLastAndTheOnlyRowEmptiesTheForm) {
  home_.seed({FriendsHome::record("13911112222", "张三", "Nokia3310"),
              FriendsHome::record("13933334444", "李四", "Nokia3310"),
              FriendsHome::record("13955556666", "王五", "Nokia3310")});
  auto d = open();
  select(*d, 2);
  backend_->answer(ui::Answer::Yes);
  d->onCommand(D::kDelete);
  ASSERT_EQ(backend_->boxes().size(), 1u);
  EXPECT_EQ(backend_->boxTexts()[0], "要从列表中删除这位好友吗？");
  EXPECT_EQ(backend_->boxes()[0].icon, ui::Icon::Question);
  EXPECT_EQ(backend_->boxes()[0].buttons, ui::Buttons::YesNo);
  EXPECT_EQ(listUtf8(*d), (std::vector<std::string>{"张三\t13911112222", "李四\t13933334444"}));
  EXPECT_EQ(d->selection(D::kList), 1);
  EXPECT_EQ(shown(*d, D::kName), "李四");
  // A middle row: the row that moved into its place is selected.
  select(*d, 0);
  backend_->answer(ui::Answer::Yes);
  d->onCommand(D::kDelete);
  EXPECT_EQ(listUtf8(*d), std::vector<std::string>{"李四\t13933334444"});
  EXPECT_EQ(d->selection(D::kList), 0);
  EXPECT_EQ(d->rowIndex(0), 1);  // table indexes do not move
  EXPECT_EQ(home_.rows(), "0|13933334444|Nokia3310||李四|0||||||\n");
  backend_->answer(ui::Answer::Yes);
  d->onCommand(D::kDelete);
  EXPECT_TRUE(d->items(D::kList).empty());
  EXPECT_EQ(d->currentRow(), -1);
  EXPECT_EQ(shown(*d, D::kName), "");
  EXPECT_EQ(shown(*d, D::kPhone), "");
  EXPECT_EQ(enabledSet(*d), "list add exit");
  EXPECT_EQ(home_.rows(), "");
}

TEST_F(FriendsDialogTest, AnsweringNoDeletesNothing) {
  home_.seed({FriendsHome::record("13911112222", "张三", "Nokia3310")});
  auto d = open();
  backend_->answer(ui::Answer::No);
  d->onCommand(D::kDelete);
  EXPECT_EQ(listUtf8(*d).size(), 1u);
  EXPECT_EQ(home_.rows(), "0|13911112222|Nokia3310||张三|0||||||\n");
}

TEST_F(FriendsDialogTest, TableThatCannotBeWrittenIsReportedAndNothingChanges) {
  home_.seed({FriendsHome::record("13911112222", "张三", "Nokia3310")});
  auto d = open();
  // The file goes away behind the dialog's back: every statement fails.
  const std::string aside = home_.path() + "aside.dbf";
  ASSERT_TRUE(fs::rename(home_.table(), aside));
  d->onCommand(D::kAdd);
  type(*d, D::kPhone, "13855556666");
  d->onCommand(D::kSave);
  d->onCommand(D::kCancel);
  d->onCommand(D::kModify);
  type(*d, D::kName, "新名字");
  d->onCommand(D::kSave);
  d->onCommand(D::kCancel);
  backend_->answer(ui::Answer::Yes);
  d->onCommand(D::kDelete);
  EXPECT_EQ(backend_->boxTexts(),
            (std::vector<std::string>{"保存好友记录失败！", "修改好友记录失败！",
                                      "要从列表中删除这位好友吗？", "删除好友记录出错！"}));
  for (size_t i : {0u, 1u, 3u}) EXPECT_EQ(backend_->boxes()[i].icon, ui::Icon::Stop) << i;
  EXPECT_EQ(listUtf8(*d), std::vector<std::string>{"张三\t13911112222"});
  EXPECT_EQ(d->selection(D::kList), 0);
  ASSERT_TRUE(fs::rename(aside, home_.table()));
  EXPECT_EQ(home_.rows(), "0|13911112222|Nokia3310||张三|0||||||\n");
}

TEST_F(FriendsDialogTest, EnterAndEscapeEndTheDialogOnlyOutsideAnEdit) {
  home_.seed({FriendsHome::record("13911112222", "张三", "Nokia3310")});
  {
    auto d = open();
    d->onCommand(D::kAdd);
    type(*d, D::kPhone, "13855556666");
    d->onCommand(ui::kIdOk);  // Enter while adding saves
    EXPECT_FALSE(d->ended());
    EXPECT_FALSE(d->editing());
    EXPECT_EQ(listUtf8(*d).size(), 2u);
    d->onCommand(D::kModify);
    type(*d, D::kName, "不要");
    d->onCommand(ui::kIdCancel);  // Escape while changing cancels the change
    EXPECT_FALSE(d->ended());
    EXPECT_EQ(shown(*d, D::kName), "");
    d->onCommand(ui::kIdCancel);
    EXPECT_TRUE(d->ended());
    EXPECT_EQ(d->result(), ui::kIdCancel);
  }
  auto d = open();
  d->onCommand(ui::kIdOk);
  EXPECT_TRUE(d->ended());
  auto e = open();
  e->onCommand(D::kExit);
  EXPECT_TRUE(e->ended());
  EXPECT_EQ(e->result(), ui::kIdOk);
  EXPECT_EQ(home_.rows(), "0|13911112222|Nokia3310||张三|0||||||\n0|13855556666||||0||||||\n");
}

TEST_F(FriendsDialogTest, ButtonsOutsideTheirModeDoNothing) {
  home_.seed({FriendsHome::record("13911112222", "张三", "Nokia3310")});
  auto d = open();
  d->onCommand(D::kSave);
  d->onCommand(D::kCancel);
  EXPECT_FALSE(d->editing());
  d->onCommand(D::kModify);
  d->onCommand(D::kAdd);
  d->onCommand(D::kDelete);
  d->onCommand(D::kExit);
  select(*d, 0);
  EXPECT_TRUE(d->editing());
  EXPECT_FALSE(d->ended());
  EXPECT_TRUE(backend_->boxes().empty());
}

TEST_F(FriendsDialogTest, FormDescribesItsBoxes) {
  std::vector<std::pair<std::string, size_t>> got;
  for (const auto& f : D::fields()) got.emplace_back(gbkToUtf8Escaped(f.caption), f.limit);
  EXPECT_EQ(got, (std::vector<std::pair<std::string, size_t>>{{"*手机号码：", 11},
                                                              {"*型号：", 0},
                                                              {"年龄：", 0},
                                                              {"真实姓名：", 19},
                                                              {"呢称：", 19},
                                                              {"性别：", 9},
                                                              {"电子邮件：", 29},
                                                              {"QQ：", 14},
                                                              {"MSN号码：", 29},
                                                              {"邮编：", 6},
                                                              {"通讯地址：", 29}}));
  const auto columns = D::columns();
  ASSERT_EQ(columns.size(), 2u);
  EXPECT_EQ(gbkToUtf8Escaped(columns[0].caption), "姓名");
  EXPECT_EQ(columns[0].width, 60);
  EXPECT_EQ(gbkToUtf8Escaped(columns[1].caption), "手机号");
  EXPECT_EQ(columns[1].width, 85);
}

}  // namespace
}  // namespace hv::friends
