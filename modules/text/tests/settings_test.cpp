// The text module's per-user settings and auxiliary dialogs: the signature in "usercfg.dat",
// the receiver history in "Setting.ini" (both read back as profile files), the cc dialog, and
// opening and saving a text, with damaged files and failing sign-ins.
#include <gtest/gtest.h>

#include "modules/text/cc_dialog.h"
#include "modules/text/signature_dialog.h"
#include "modules/text/tests/text_fixture.h"
#include "modules/text/usersettings.h"
#include "platform/profile.h"

namespace hv::textport {
namespace {

using testing::kUser;
using namespace std::string_literals;

class SettingsTest : public testing::TextFixture {
 protected:
  std::optional<std::string> storedSignature() {
    return Profile::load(userFile("usercfg.dat")).get("TEXTPORT", "QIANMING");
  }
  void signatureTyped(const std::string& typed) {
    backend_->onDialog(SignatureDialog::kTemplate, [typed](ui::DialogController& s) {
      s.setText(SignatureDialog::kEdit, typed);
      s.onChange(SignatureDialog::kEdit);
      s.onCommand(SignatureDialog::kOk);
    });
  }
};

TEST_F(SettingsTest, SignatureIsStoredAndMakesTheSendWide) {
  signIn();
  auto d = open();
  type(*d, TextDialog::kText, std::string(150, 'a'));
  EXPECT_EQ(gbkToUtf8Escaped(d->text(TextDialog::kCount)), "拆分成 1 条短消息发送");
  signatureTyped(T("小明"));
  click(*d, TextDialog::kSigning, 1);
  EXPECT_EQ(d->checked(TextDialog::kSigning), 1);
  EXPECT_EQ(storedSignature().value_or("(none)"), T("小明"));
  // Wide now: 140 - 4 - 2 = 134 units a message, 300 units of letters.
  EXPECT_EQ(gbkToUtf8Escaped(d->text(TextDialog::kCount)), "拆分成 3 条短消息发送");
  // Switching signing off keeps the stored signature.
  click(*d, TextDialog::kSigning, 0);
  EXPECT_EQ(storedSignature().value_or("(none)"), T("小明"));
  EXPECT_EQ(gbkToUtf8Escaped(d->text(TextDialog::kCount)), "拆分成 1 条短消息发送");
  EXPECT_EQ(backend_->modalCount(SignatureDialog::kTemplate), 1);
}

TEST_F(SettingsTest, CancelledSignatureDialogClearsTheBoxAndStoresEmpty) {
  signIn();
  ASSERT_TRUE(storeSignature(kUser, "old"));
  auto d = open();
  backend_->onDialog(SignatureDialog::kTemplate, [](ui::DialogController& s) {
    EXPECT_EQ(s.text(SignatureDialog::kEdit), "old");
    s.onCommand(SignatureDialog::kCancel);
  });
  click(*d, TextDialog::kSigning, 1);
  EXPECT_EQ(d->checked(TextDialog::kSigning), 0);
  EXPECT_EQ(storedSignature().value_or("(none)"), "");
  EXPECT_EQ(d->signature(), "");
}

TEST_F(SettingsTest, SignatureBoxTakesTwentyBytesOfWholeCharacters) {
  signIn();
  auto d = open();
  signatureTyped(T("一二三四五六七八九十甲"));  // 22 bytes
  click(*d, TextDialog::kSigning, 1);
  EXPECT_EQ(storedSignature().value_or(""), T("一二三四五六七八九十"));
  signatureTyped("x" + T("一二三四五六七八九十"));  // 21 bytes: the last character goes
  click(*d, TextDialog::kSigning, 1);
  EXPECT_EQ(d->signature(), "x" + T("一二三四五六七八九"));
}

TEST_F(SettingsTest, SigningWithoutSignInClearsTheBoxAndSaysSo) {
  auto d = open();
  click(*d, TextDialog::kSigning, 1);  // the login dialog is closed unanswered
  EXPECT_EQ(d->checked(TextDialog::kSigning), 0);
  const auto boxes = backend_->boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(gbkToUtf8Escaped(boxes[0].text), "未成功登录到网络！不能使用签名功能");
  EXPECT_EQ(boxes[0].caption, "Textport");
  EXPECT_EQ(boxes[0].icon, ui::Icon::Stop);
  EXPECT_EQ(backend_->modalCount(SignatureDialog::kTemplate), 0);
}

TEST_F(SettingsTest, SigningSignsInAndLoadsTheUsersData) {
  writeLoginSettings(true);
  signIn();
  addFriend(T("张三"), "13700137000");
  ASSERT_TRUE(storeSignature(kUser, "Tom"));
  NET_UserLogout();
  login::setState("", "", 0);
  auto d = open("13900139000");
  EXPECT_EQ(d->signature(), "");
  std::string shown;
  backend_->onDialog(SignatureDialog::kTemplate, [&](ui::DialogController& s) {
    shown = s.text(SignatureDialog::kEdit);
    s.onCommand(SignatureDialog::kOk);
  });
  click(*d, TextDialog::kSigning, 1);
  EXPECT_EQ(shown, "Tom");
  EXPECT_EQ(d->checked(TextDialog::kSigning), 1);
  EXPECT_EQ(d->items(TextDialog::kReceiver), std::vector<std::string>{T("张三")});
  EXPECT_EQ(d->text(TextDialog::kReceiver), "13900139000");  // kept through the reload
}

TEST_F(SettingsTest, DamagedUserSettingsReadAsNoSignatureAndAreNotRewritten) {
  signIn();
  const std::string damaged = "\xFF\xFE garbage\0\r\n[TEXTPORT]\r\nQIANMING=\xFF\xFF\r\n"s;
  ASSERT_TRUE(fs::writeFileAtomic(userFile("usercfg.dat"), damaged));
  auto d = open();
  EXPECT_EQ(d->signature(), "");
  EXPECT_EQ(fs::readFile(userFile("usercfg.dat")).value_or(""), damaged);
  // A new signature replaces the bad value; the rest of the file stays.
  signatureTyped("ok");
  click(*d, TextDialog::kSigning, 1);
  EXPECT_EQ(storedSignature().value_or(""), "ok");
  EXPECT_NE(fs::readFile(userFile("usercfg.dat")).value_or("").find(" garbage"), std::string::npos);
}

TEST_F(SettingsTest, HistoryIsReadIntoTheReceiverBoxAndDamagedHistoryRepaired) {
  signIn();
  addFriend("bob", "13700137000");
  ASSERT_TRUE(
      fs::writeFileAtomic(userFile("Setting.ini"),
                          "[Receiver]\r\nCount=2\r\nItem1=13600136000\r\nItem2=13500135000\r\n"));
  auto d = open();
  EXPECT_EQ(d->items(TextDialog::kReceiver),
            (std::vector<std::string>{"bob", "13600136000", "13500135000"}));
  // A history entry picked from the list is taken as the number.
  d->setText(TextDialog::kReceiver, "13500135000");
  d->setSelection(TextDialog::kReceiver, 2);
  d->onChange(TextDialog::kReceiver);
  type(*d, TextDialog::kText, "hi");
  backend_->answer(ui::Answer::Ok);
  backend_->answer(ui::Answer::No);  // not added as a friend
  d->onCommand(TextDialog::kSend);
  ASSERT_EQ(storedMessages().size(), 1u);
  EXPECT_NE(storedMessages()[0].find("to=13500135000 "), std::string::npos);
  const Profile p = Profile::load(userFile("Setting.ini"));
  EXPECT_EQ(p.get("Receiver", "Count").value_or(""), "2");
  EXPECT_EQ(p.get("Receiver", "Item1").value_or(""), "13500135000");
  EXPECT_EQ(p.get("Receiver", "Item2").value_or(""), "13600136000");

  ASSERT_TRUE(fs::writeFileAtomic(userFile("Setting.ini"), "[Receiver]\r\nCount=x\r\n"));
  auto again = open();
  EXPECT_EQ(again->items(TextDialog::kReceiver), std::vector<std::string>{"bob"});
  EXPECT_EQ(Profile::load(userFile("Setting.ini")).get("Receiver", "Count").value_or(""), "0");
}

class CcTest : public SettingsTest {
 protected:
  void SetUp() override {
    SettingsTest::SetUp();
    signIn();
    addFriend(T("张三"), "13700137000");
    addFriend(T("李四"), "13600136000");
    addFriend(T("王五"), "13500135000");
    table_ = FLOpen(kUser);
  }
  void TearDown() override {
    FLClose(table_);
    SettingsTest::TearDown();
  }
  static std::vector<std::string> names(const std::vector<CcDialog::Row>& rows) {
    std::vector<std::string> out;
    for (const auto& r : rows) out.push_back(gbkToUtf8Escaped(r.name));
    return out;
  }
  FriendsTable* table_ = nullptr;
};

TEST_F(CcTest, FriendsInTheCcTextStartOnTheRightEvenInsideLongerEntries) {
  CcDialog c(T("老张三<13700137000>;13900139000;"), table_);
  EXPECT_EQ(names(c.right()), std::vector<std::string>{"张三"});
  EXPECT_EQ(names(c.left()), (std::vector<std::string>{"李四", "王五"}));
  EXPECT_EQ(c.items(CcDialog::kLeft),
            (std::vector<std::string>{T("李四") + "\t13600136000", T("王五") + "\t13500135000"}));
  EXPECT_EQ(gbkToUtf8Escaped(c.title()), "抄送好友选择");
}

TEST_F(CcTest, MovesKeepListOrderAndConfirmReplacesTheCcText) {
  auto d = open();
  type(*d, TextDialog::kCc, T("张三<13700137000>;13900139000"));
  backend_->onDialog(CcDialog::kTemplate, [](ui::DialogController& dc) {
    auto& c = dynamic_cast<CcDialog&>(dc);
    c.select(CcDialog::kLeft, {1, 0});
    c.onCommand(CcDialog::kAdd);
    EXPECT_TRUE(c.left().empty());
    EXPECT_EQ(names(c.right()), (std::vector<std::string>{"张三", "李四", "王五"}));
    c.select(CcDialog::kRight, {0});
    c.onCommand(CcDialog::kRight);  // a double click in the right list
    EXPECT_EQ(names(c.left()), std::vector<std::string>{"张三"});
    c.select(CcDialog::kLeft, {0});
    c.onCommand(CcDialog::kLeft);  // and back with a double click in the left list
    c.onCommand(CcDialog::kOk);
  });
  d->onCommand(TextDialog::kCcButton);
  // The number typed by hand is gone; the friends in right-list order.
  EXPECT_EQ(d->text(TextDialog::kCc), T("李四<13600136000>;王五<13500135000>;张三<13700137000>;"));
}

TEST_F(CcTest, EmptyRightListIsRefusedAndCancelKeepsTheCcText) {
  auto d = open();
  type(*d, TextDialog::kCc, "13900139000");
  bool stayedOpen = false;
  backend_->onDialog(CcDialog::kTemplate, [&](ui::DialogController& c) {
    c.onCommand(CcDialog::kOk);
    stayedOpen = !c.ended();
    c.onCommand(CcDialog::kCancel);
  });
  d->onCommand(TextDialog::kCcButton);
  EXPECT_TRUE(stayedOpen);
  const auto boxes = backend_->boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(gbkToUtf8Escaped(boxes[0].text), "对不起，没有选择要抄送的好友！");
  EXPECT_EQ(boxes[0].caption, "Textport");
  EXPECT_EQ(d->text(TextDialog::kCc), "13900139000");
}

TEST_F(SettingsTest, CcWithoutSignInSaysSoAndOpensNothing) {
  auto d = open();
  d->onCommand(TextDialog::kCcButton);
  EXPECT_EQ(takeBoxes(), std::vector<std::string>{"未能成功登录，你无法使用好友信息!"});
  EXPECT_EQ(backend_->modalCount(CcDialog::kTemplate), 0);
}

TEST_F(SettingsTest, OpenReadsTheFirst2053BytesAndReplacesTheText) {
  auto d = open();
  click(*d, TextDialog::kNumbering, 0);
  std::string lines;
  for (int i = 0; i < 1000; ++i) lines += "a\r\n";
  auto file = fs::createTempFile({}, "open", ".txt");
  ASSERT_TRUE(fs::writeFileAtomic(*file, lines));
  backend_->fileAnswer(*file);
  d->onCommand(TextDialog::kOpen);
  fs::removeFile(*file);
  // 684 whole lines and the "a" of the next: 2053 bytes, 1369 units, within the limit.
  EXPECT_EQ(d->text(TextDialog::kText), lines.substr(0, 2053));
  EXPECT_EQ(gbkToUtf8Escaped(d->text(TextDialog::kLength)), "2053个字符");
  EXPECT_TRUE(backend_->boxes().empty());
}

TEST_F(SettingsTest, OpenOfABadFileOrCancelKeepsTheText) {
  auto d = open();
  type(*d, TextDialog::kText, "kept");
  backend_->fileAnswer(std::nullopt);
  d->onCommand(TextDialog::kOpen);
  auto file = fs::createTempFile({}, "bad", ".txt");
  ASSERT_TRUE(fs::writeFileAtomic(*file, "\x80\x80\x80"));
  backend_->fileAnswer(*file);
  d->onCommand(TextDialog::kOpen);
  fs::removeFile(*file);
  EXPECT_EQ(d->text(TextDialog::kText), "kept");
  EXPECT_EQ(takeBoxes(), std::vector<std::string>{"文件不是GBK编码的中文文本，不能打开：" + *file});
}

TEST_F(SettingsTest, SaveWritesTheWholeTextAddingTheDefaultExtension) {
  auto d = open();
  type(*d, TextDialog::kText, T("你好\r\nworld"));
  auto dir = fs::createTempDirectory();
  backend_->fileAnswer(*dir + "/note");
  d->onCommand(TextDialog::kSave);
  EXPECT_EQ(fs::readFile(*dir + "/note.txt").value_or(""), T("你好\r\nworld"));
  backend_->fileAnswer(*dir + "/kept.name");
  d->onCommand(TextDialog::kSave);
  EXPECT_TRUE(fs::exists(*dir + "/kept.name"));
  // A folder that does not exist: said, and the dialog goes on.
  backend_->fileAnswer(*dir + "/missing/x.txt");
  d->onCommand(TextDialog::kSave);
  EXPECT_EQ(takeBoxes(), std::vector<std::string>{"无法保存文件：" + *dir + "/missing/x.txt"});
  fs::removeAll(*dir);
}

}  // namespace
}  // namespace hv::textport
