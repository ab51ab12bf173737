// The text dialog's controller headless: its start, the counters, every refusal of a send in
// order, and sends end to end through handvane-service, decoded with show-message.
#include <gtest/gtest.h>

#include "modules/text/signature_dialog.h"
#include "modules/text/tests/text_fixture.h"
#include "modules/text/usersettings.h"
#include "platform/profile.h"

namespace hv::textport {
namespace {

using testing::kUser;

class TextDialogTest : public testing::TextFixture {};

// Ten different characters, so that a message boundary in the wrong place shows.
std::string chinese(int n) {
  const std::string ten = T("一二三四五六七八九十");
  std::string out;
  for (int i = 0; i < n; ++i) out += ten.substr(size_t(i % 10) * 2, 2);
  return out;
}

TEST_F(TextDialogTest, StartsWithThePromptSelectedAndItsCounters) {
  auto d = open();
  EXPECT_EQ(gbkToUtf8Escaped(d->title()), "Lumo字-Textport");
  EXPECT_EQ(gbkToUtf8Escaped(d->text(TextDialog::kText)), "请在这儿输入要发送的短消息的内容！");
  EXPECT_TRUE(d->promptSelected());
  // 17 characters: 34 bytes, one wide message; the shipped fees for one text message.
  EXPECT_EQ(gbkToUtf8Escaped(d->text(TextDialog::kLength)), "34个字符");
  EXPECT_EQ(gbkToUtf8Escaped(d->text(TextDialog::kCount)), "拆分成 1 条短消息发送");
  EXPECT_EQ(gbkToUtf8Escaped(d->text(TextDialog::kFee)), "短信通信费：0.1元\n文字信息费：免费\n");
  EXPECT_EQ(d->checked(TextDialog::kNumbering), 1);
  EXPECT_EQ(d->checked(TextDialog::kSigning), 0);
  EXPECT_EQ(d->checked(TextDialog::kFlash), 0);
  EXPECT_EQ(gbkToUtf8Escaped(d->text(TextDialog::kNumbering)), "在每条短消息内容前面加入序号");
  EXPECT_EQ(gbkToUtf8Escaped(d->text(TextDialog::kSend)), "发 送");
  EXPECT_TRUE(takeBoxes().empty());
  // Not signed in: no friends, no history.
  EXPECT_TRUE(d->items(TextDialog::kReceiver).empty());
}

TEST_F(TextDialogTest, StartsWithTheGivenReceiverAndTheFileAppended) {
  auto file = fs::createTempFile();
  ASSERT_TRUE(fs::writeFileAtomic(*file, T("第一行\r\n第二行\nthird")));
  auto d = open("13900139000", *file, "tag");
  fs::removeFile(*file);
  EXPECT_EQ(d->text(TextDialog::kReceiver), "13900139000");
  EXPECT_EQ(d->text(TextDialog::kText), T("第一行\r\n第二行\r\nthird"));
  EXPECT_FALSE(d->promptSelected());
  EXPECT_EQ(gbkToUtf8Escaped(d->text(TextDialog::kLength)), "21个字符");
}

TEST_F(TextDialogTest, StartFileThatIsNotTextIsRefusedWithAClearMessage) {
  auto file = fs::createTempFile();
  for (const std::string& bad : {std::string("abc\0def", 7), std::string("\xFF\xFE"
                                                                         "A")}) {
    ASSERT_TRUE(fs::writeFileAtomic(*file, bad));
    auto d = open("", *file);
    EXPECT_TRUE(d->promptSelected());
    const auto boxes = backend_->boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].icon, ui::Icon::Stop);
    EXPECT_NE(boxes[0].text.find(*file), std::string::npos);
    backend_->clearBoxes();
  }
  fs::removeFile(*file);
  auto d = open("", *file);  // gone now
  EXPECT_EQ(takeBoxes(), std::vector<std::string>{"无法读取文件：" + *file});
  EXPECT_TRUE(d->promptSelected());
}

TEST_F(TextDialogTest, HugeStartFileIsCutToTenMessagesAndSaysSo) {
  auto file = fs::createTempFile();
  ASSERT_TRUE(fs::writeFileAtomic(*file, std::string(200 * 1024, 'x')));
  auto d = open("", *file);
  fs::removeFile(*file);
  EXPECT_EQ(d->text(TextDialog::kText), std::string(1529, 'x'));
  EXPECT_EQ(takeBoxes(),
            std::vector<std::string>{"Lumo字最大可以输入10条短消息的内容，多出的文字将被截去。"});
  EXPECT_EQ(gbkToUtf8Escaped(d->text(TextDialog::kCount)), "拆分成 10 条短消息发送");
}

TEST_F(TextDialogTest, CountersFollowTheTextAndTheNumbering) {
  auto d = open();
  type(*d, TextDialog::kText, std::string(160, 'a'));
  EXPECT_EQ(gbkToUtf8Escaped(d->text(TextDialog::kLength)), "160个字符");
  EXPECT_EQ(gbkToUtf8Escaped(d->text(TextDialog::kCount)), "拆分成 2 条短消息发送");
  EXPECT_EQ(gbkToUtf8Escaped(d->text(TextDialog::kFee)), "短信通信费：0.2元\n文字信息费：免费\n");
  click(*d, TextDialog::kNumbering, 0);
  EXPECT_EQ(gbkToUtf8Escaped(d->text(TextDialog::kCount)), "拆分成 1 条短消息发送");
  // The flash box changes nothing by itself.
  click(*d, TextDialog::kFlash, 1);
  EXPECT_EQ(gbkToUtf8Escaped(d->text(TextDialog::kCount)), "拆分成 1 条短消息发送");
  // CR LF: the length counts both bytes.
  type(*d, TextDialog::kText, "a\r\nb");
  EXPECT_EQ(gbkToUtf8Escaped(d->text(TextDialog::kLength)), "4个字符");
}

TEST_F(TextDialogTest, OverLongTextIsCutWithoutItsCrsAndTheUserIsTold) {
  auto d = open();
  click(*d, TextDialog::kNumbering, 0);
  std::string lines;
  for (int i = 0; i < 800; ++i) lines += "a\r\n";
  type(*d, TextDialog::kText, lines);
  std::string kept;
  for (int i = 0; i < 769; ++i) kept += "a\n";
  EXPECT_EQ(d->text(TextDialog::kText), kept + "a");
  const auto boxes = backend_->boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(gbkToUtf8Escaped(boxes[0].text),
            "Lumo字最大可以输入10条短消息的内容，多出的文字将被截去。");
  EXPECT_EQ(gbkToUtf8Escaped(boxes[0].caption), "文字短消息");
  EXPECT_EQ(boxes[0].icon, ui::Icon::Information);
}

TEST_F(TextDialogTest, RefusalsComeInOrderAndChangeNothing) {
  auto d = open();
  auto sendAndTake = [&] {
    d->onCommand(TextDialog::kSend);
    for (const auto& b : backend_->boxes()) EXPECT_EQ(b.icon, ui::Icon::Stop);
    return takeBoxes();
  };
  type(*d, TextDialog::kText, "");
  EXPECT_EQ(sendAndTake(), std::vector<std::string>{"对不起，请首先输入短消息内容！"});
  type(*d, TextDialog::kText, "hello");
  EXPECT_EQ(sendAndTake(), std::vector<std::string>{"对不起，没有选择接收短消息的收件人"});
  std::string cc;
  for (int i = 0; i < 10; ++i) cc += "name<1370013700" + std::to_string(i) + ">;";
  type(*d, TextDialog::kReceiver, "13900139000");
  type(*d, TextDialog::kCc, cc);
  EXPECT_EQ(sendAndTake(),
            std::vector<std::string>{"对不起，包括收件人和抄送在内最多只能同时10人"});
  type(*d, TextDialog::kCc, "");
  // Only a text set around the cut can need more than ten messages.
  d->setText(TextDialog::kText, std::string(1700, 'a'));
  EXPECT_EQ(sendAndTake(), std::vector<std::string>{"对不起，最多一次只能发送10条短消息！"});
  type(*d, TextDialog::kText, chinese(71));
  click(*d, TextDialog::kNumbering, 0);
  click(*d, TextDialog::kFlash, 1);
  EXPECT_EQ(sendAndTake(), std::vector<std::string>{"对不起，闪电短信的内容不能超过70个字"});
  // None of these asked for a sign-in, and the input is as it was.
  EXPECT_EQ(backend_->modalCount(9000), 0);
  EXPECT_EQ(d->text(TextDialog::kText), chinese(71));
  EXPECT_EQ(d->text(TextDialog::kReceiver), "13900139000");
  EXPECT_TRUE(storedMessages().empty());
}

TEST_F(TextDialogTest, RefusedSignInSendsNothing) {
  auto d = open("13900139000");
  type(*d, TextDialog::kText, "hello");
  d->onCommand(TextDialog::kSend);  // the scripted login dialog is closed unanswered
  EXPECT_EQ(backend_->modalCount(9000), 1);
  const auto boxes = backend_->boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(gbkToUtf8Escaped(boxes[0].text), "必须进行登录才能发送短消息！");
  EXPECT_EQ(boxes[0].icon, ui::Icon::Stop);
  EXPECT_EQ(d->lastResult(), -100);
  EXPECT_TRUE(storedMessages().empty());
}

TEST_F(TextDialogTest, ReceiverThatIsNotANumberIsRefusedWithEveryReason) {
  signIn();
  auto d = open("12345");
  type(*d, TextDialog::kText, "hello");
  type(*d, TextDialog::kCc, "13700137000;abc");
  d->onCommand(TextDialog::kSend);
  const auto boxes = backend_->boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(gbkToUtf8Escaped(boxes[0].text),
            "错误:\r\n12345：手机号码应为11位数字\r\nabc：号码中含有非数字字符\r\n");
  EXPECT_EQ(boxes[0].icon, ui::Icon::Information);
  EXPECT_TRUE(storedMessages().empty());
}

TEST_F(TextDialogTest, CancelledConfirmationSendsNothing) {
  signIn();
  auto d = open("13900139000");
  type(*d, TextDialog::kText, "hello");
  backend_->answer(ui::Answer::Cancel);
  d->onCommand(TextDialog::kPictureSend);
  const auto boxes = backend_->boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(gbkToUtf8Escaped(boxes[0].text), "你确定要进行发送操作吗？");
  EXPECT_EQ(gbkToUtf8Escaped(boxes[0].caption), "Lumo字");
  EXPECT_EQ(boxes[0].icon, ui::Icon::Question);
  EXPECT_EQ(boxes[0].buttons, ui::Buttons::OkCancel);
  EXPECT_TRUE(storedMessages().empty());
}

TEST_F(TextDialogTest, NumberedSignedTextReachesBothRecipients) {
  signIn();
  ASSERT_TRUE(storeSignature(kUser, T("签名")));
  auto d = open("13900139000", "", "U7");
  EXPECT_EQ(d->signature(), T("签名"));
  const std::string text = chinese(150);
  type(*d, TextDialog::kText, text);
  type(*d, TextDialog::kCc, T("张三<13700137000>;"));
  // The signature dialog opens with the stored signature; it is confirmed as it is.
  std::string shown;
  backend_->onDialog(SignatureDialog::kTemplate, [&](ui::DialogController& s) {
    shown = s.text(SignatureDialog::kEdit);
    s.onCommand(SignatureDialog::kOk);
  });
  click(*d, TextDialog::kSigning, 1);
  EXPECT_EQ(shown, T("签名"));
  EXPECT_EQ(d->checked(TextDialog::kSigning), 1);
  EXPECT_EQ(d->signature(), T("签名"));
  EXPECT_EQ(gbkToUtf8Escaped(d->text(TextDialog::kCount)), "拆分成 3 条短消息发送");
  backend_->clearBoxes();

  backend_->answer(ui::Answer::Ok);   // 你确定要进行发送操作吗？
  backend_->answer(ui::Answer::Yes);  // 发送成功！是否将13900139000加入好友列表?
  d->onCommand(TextDialog::kSend);
  EXPECT_EQ(d->lastResult(), 0);
  EXPECT_EQ(takeBoxes(),
            (std::vector<std::string>{
                "你确定要进行发送操作吗？", "发送成功！是否将13900139000加入好友列表?",
                "将手机号13900139000加入到好友列表成功，你可以通过好友例表进一步修改好友信息"}));

  // Wide, numbered and signed: 134 units a message, 10 for "(u/3)", 62 characters each.
  const auto stored = storedMessages();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_NE(stored[0].find("user=13800138000 to=13900139000,13700137000 service=SMS class=TEXTG "
                           "kind=sms_text"),
            std::string::npos)
      << stored[0];
  const std::string sig = T("签名");
  EXPECT_NE(shownMessage(1).find(shownTexts({"(1/3)" + sig + "\n" + text.substr(0, 124),
                                             "(2/3)" + sig + "\n" + text.substr(124, 124),
                                             "(3/3)" + sig + "\n" + text.substr(248)})),
            std::string::npos)
      << shownMessage(1);

  // The progress dialog was shown; the receiver is in the history; the friend was added and
  // the list loaded again with the new friend.
  ASSERT_EQ(backend_->modeless().size(), 1u);
  EXPECT_EQ(backend_->modeless()[0]->templateId(), 5000);
  EXPECT_EQ(Profile::load(userFile("Setting.ini")).get("Receiver", "Item1").value_or(""),
            "13900139000");
  EXPECT_EQ(modkit::testing::friendRows(userFile("FRIENDS.DBF")), "13900139000||13900139000\n");
  EXPECT_EQ(d->items(TextDialog::kReceiver),
            (std::vector<std::string>{"13900139000", "13900139000"}));
  EXPECT_TRUE(d->enabled(TextDialog::kWindow));
}

TEST_F(TextDialogTest, FlashTextOfOneMessageGoesAsFireflagAndAFriendGetsThePlainOutcome) {
  signIn();
  addFriend(T("李四"), "13700137000");
  auto d = open();
  EXPECT_EQ(d->items(TextDialog::kReceiver), std::vector<std::string>{T("李四")});
  // A friend's number typed selects the friend's entry, as does the name in another case.
  type(*d, TextDialog::kReceiver, "13700137000");
  EXPECT_EQ(d->selection(TextDialog::kReceiver), 0);
  type(*d, TextDialog::kReceiver, "1370013700");
  EXPECT_EQ(d->selection(TextDialog::kReceiver), -1);
  type(*d, TextDialog::kReceiver, T("李四"));
  EXPECT_EQ(d->selection(TextDialog::kReceiver), 0);
  type(*d, TextDialog::kText, "flash!");
  click(*d, TextDialog::kFlash, 1);
  d->onCommand(TextDialog::kSend);
  EXPECT_EQ(d->lastResult(), 0);
  EXPECT_EQ(takeBoxes(), (std::vector<std::string>{"你确定要进行发送操作吗？", "发送成功！"}));
  const auto stored = storedMessages();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_NE(stored[0].find("to=13700137000 service=SMS class=TEXTA kind=sms_fireflag"),
            std::string::npos)
      << stored[0];
  EXPECT_NE(shownMessage(1).find(shownTexts({"\nflash!"})), std::string::npos);
}

TEST_F(TextDialogTest, FailedSendOffersTheFriendWithTheStopIconAndNoAddsNothing) {
  signIn();
  auto d = open("13900139000");
  type(*d, TextDialog::kText, "hello");
  service_->stop();
  backend_->answer(ui::Answer::Ok);
  backend_->answer(ui::Answer::No);
  d->onCommand(TextDialog::kSend);
  EXPECT_EQ(d->lastResult(), -3);  // no connection to the send server
  const auto boxes = backend_->boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(gbkToUtf8Escaped(boxes[1].text), "发送失败！是否将13900139000加入好友列表?");
  EXPECT_EQ(boxes[1].icon, ui::Icon::Stop);
  EXPECT_EQ(modkit::testing::friendRows(userFile("FRIENDS.DBF")), "");
  // The attempt still goes into the history.
  EXPECT_EQ(Profile::load(userFile("Setting.ini")).get("Receiver", "Item1").value_or(""),
            "13900139000");
}

TEST_F(TextDialogTest, SignInDuringTheSendLoadsTheUsersFriendsAndSignature) {
  writeLoginSettings(true);
  signIn();  // prepares the user's folder
  addFriend(T("王五"), "13600136000");
  ASSERT_TRUE(storeSignature(kUser, "Tom"));
  NET_UserLogout();
  login::setState("", "", 0);

  auto d = open(T("王五"));
  EXPECT_TRUE(d->items(TextDialog::kReceiver).empty());
  type(*d, TextDialog::kText, "hi");
  d->onCommand(TextDialog::kSend);  // signs in with the remembered password
  EXPECT_EQ(d->lastResult(), 0);
  EXPECT_EQ(d->signature(), "Tom");
  // The friend, then the text shown as the newest history entry.
  EXPECT_EQ(d->items(TextDialog::kReceiver), (std::vector<std::string>{T("王五"), T("王五")}));
  // The typed name now selects the friend, whose number is the recipient.
  const auto stored = storedMessages();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_NE(stored[0].find("to=13600136000 "), std::string::npos) << stored[0];
}

TEST_F(TextDialogTest, ClosingEndsTheDialogWhenNoSendRuns) {
  auto d = open();
  EXPECT_TRUE(d->onClose());
  EXPECT_TRUE(d->ended());
}

}  // namespace
}  // namespace hv::textport
