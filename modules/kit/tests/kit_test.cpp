// The shared module steps against the real peers: sends through Svclink to handvane-service,
// sign-in through Signon, the result step on the user's real FRIENDS.DBF (read back with
// python3-dbfread), the receiver box on a real "Setting.ini", dialogs through the scripted
// backend and the module starter on a stand-in main program.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "modules/kit/convert.h"
#include "modules/kit/headerstart.h"
#include "modules/kit/receiverbox.h"
#include "modules/kit/sending.h"
#include "modules/kit/starter.h"
#include "modules/kit/tests/module_fixture.h"
#include "modules/kit/userfiles.h"
#include "platform/gbk.h"
#include "platform/messages.h"
#include "platform/profile.h"
#include "tables/friends/buddystore.h"

namespace hv::modkit {
namespace {

using testing::kUser;

MessageHeader textHeader(const std::vector<std::string>& to) {
  MessageHeader h(to.size());
  h.setLaunchTag("tag");
  h.setServiceCode("SMS");
  h.setContentClass("TEXTA");
  for (size_t i = 0; i < to.size(); ++i) h.setRecipient(i, to[i]);
  h.setSender(kUser);
  h.setModel("standard");
  h.setContentKind("sms_text");
  h.setContentType("TXT");
  return h;
}

class SendWaitTest : public testing::ModuleFixture {};

TEST_F(SendWaitTest, DeliversThroughTheServiceAndReturnsItsResult) {
  signIn();
  const auto batch = encodeTextBatch({"hello", "world"});
  EXPECT_EQ(sendContentAndWait(textHeader({"13900139000"}), batch), 0);
  const auto stored = storedMessages();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_NE(stored[0].find("to=13900139000"), std::string::npos) << stored[0];
  const std::string shown = shownMessage(1);
  EXPECT_NE(shown.find("text 1 (5 bytes): hello"), std::string::npos) << shown;
  EXPECT_NE(shown.find("text 2 (5 bytes): world"), std::string::npos) << shown;
  // The progress dialog was asked for.
  ASSERT_EQ(backend_->modeless().size(), 1u);
  EXPECT_EQ(backend_->modeless()[0]->templateId(), 5000);
}

TEST_F(SendWaitTest, ContentFileIsSentAndHiddenProgressIsNotShown) {
  signIn();
  auto file = fs::createTempFile();
  ASSERT_TRUE(file);
  const auto batch = encodeTextBatch({"from a file"});
  ASSERT_TRUE(fs::writeFileAtomic(*file, std::string(batch.begin(), batch.end())));
  EXPECT_EQ(sendFileAndWait(textHeader({"13900139000", "13700137000"}), *file, false), 0);
  fs::removeFile(*file);
  const auto stored = storedMessages();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_NE(stored[0].find("to=13900139000,13700137000"), std::string::npos) << stored[0];
  EXPECT_TRUE(backend_->modeless().empty());
}

TEST_F(SendWaitTest, RefusedRequestIsMinus100AndNothingArrives) {
  // Not signed in to the service.
  EXPECT_EQ(sendContentAndWait(textHeader({"13900139000"}), encodeTextBatch({"x"})), kNotSent);
  signIn();
  // An empty content block is refused by the service client too.
  EXPECT_EQ(sendContentAndWait(textHeader({"13900139000"}), {}), kNotSent);
  EXPECT_TRUE(storedMessages().empty());
}

TEST_F(SendWaitTest, FailureCodePostedByTheSendIsReturned) {
  signIn();
  // A text over 160 bytes is refused while the packet is built: -9 arrives as the result.
  EXPECT_EQ(
      sendContentAndWait(textHeader({"13900139000"}), encodeTextBatch({std::string(161, 'a')})),
      -9);
  EXPECT_TRUE(storedMessages().empty());
}

TEST_F(SendWaitTest, OtherMessagesOfTheThreadRunWhileWaiting) {
  signIn();
  int ran = 0;
  MessageWindow other([&](const WindowMessage&) { ++ran; });
  PostMessage(other.id(), 0x500, 0, 0);
  EXPECT_EQ(sendContentAndWait(textHeader({"13900139000"}), encodeTextBatch({"x"})), 0);
  EXPECT_EQ(ran, 1);
}

class SignInTest : public testing::ModuleFixture {};

TEST_F(SignInTest, SignedInUserIsTakenAsItIs) {
  signIn();
  const SignIn s = signInOnDemand();
  EXPECT_TRUE(s.signedIn);
  EXPECT_FALSE(s.signedInNow);
  EXPECT_EQ(s.userId, kUser);
  EXPECT_EQ(signedInUser().value_or(""), kUser);
  EXPECT_EQ(backend_->modalCount(9000), 0);
}

TEST_F(SignInTest, RememberedAutomaticSignInHappensOnDemand) {
  writeLoginSettings(true);
  EXPECT_FALSE(signedInUser());
  const SignIn s = signInOnDemand();
  EXPECT_TRUE(s.signedIn);
  EXPECT_TRUE(s.signedInNow);
  EXPECT_EQ(s.userId, kUser);
  EXPECT_EQ(backend_->modalCount(9000), 0);
}

TEST_F(SignInTest, CancelledLoginDialogLeavesNobodySignedIn) {
  const SignIn s = signInOnDemand();  // the scripted login dialog is closed unanswered
  EXPECT_FALSE(s.signedIn);
  EXPECT_FALSE(s.signedInNow);
  EXPECT_EQ(backend_->modalCount(9000), 1);
  EXPECT_FALSE(signedInUser());
}

TEST(RefusedRecipients, GivesTheReasonOfEveryRefusedNumberInOrder) {
  const auto reasons =
      refusedRecipients(kUser, {"13900139000", "12345", "13700137000", "1390013900a"});
  ASSERT_EQ(reasons.size(), 2u);
  EXPECT_EQ(gbkToUtf8Escaped(reasons[0]), "12345：手机号码应为11位数字");
  EXPECT_EQ(gbkToUtf8Escaped(reasons[1]), "1390013900a：号码中含有非数字字符");
  EXPECT_TRUE(refusedRecipients(kUser, {"13900139000"}).empty());
}

// The result step on the user's own table (a copy of the shipped template made at sign-in).
class ResultStepTest : public testing::ModuleFixture {
 protected:
  void SetUp() override {
    ModuleFixture::SetUp();
    signIn();
    table_ = FLOpen(kUser);
    ASSERT_NE(table_, nullptr);
  }
  void TearDown() override {
    FLClose(table_);
    ModuleFixture::TearDown();
  }
  ResultTexts texts() const {
    return {T("文字短消息"), T("发送成功！是否将%s加入好友列表?"),
            T("发送失败！是否将%s加入好友列表?"), T("发送成功！"), T("发送失败！")};
  }
  std::string rows() { return testing::friendRows(userFile("FRIENDS.DBF")); }
  FriendsTable* table_ = nullptr;
};

TEST_F(ResultStepTest, NewRecipientIsOfferedAndAddedOnYes) {
  backend_->answer(ui::Answer::Yes);
  EXPECT_EQ(reportResult(table_, "13900139000", true, texts()), FriendOffer::Added);
  const auto boxes = backend_->boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(gbkToUtf8Escaped(boxes[0].text), "发送成功！是否将13900139000加入好友列表?");
  EXPECT_EQ(boxes[0].icon, ui::Icon::Information);
  EXPECT_EQ(boxes[0].buttons, ui::Buttons::YesNo);
  EXPECT_EQ(gbkToUtf8Escaped(boxes[0].caption), "文字短消息");
  EXPECT_EQ(gbkToUtf8Escaped(boxes[1].text),
            "将手机号13900139000加入到好友列表成功，你可以通过好友例表进一步修改好友信息");
  EXPECT_EQ(boxes[1].icon, ui::Icon::None);
  EXPECT_EQ(rows(), "13900139000||13900139000\n");

  // Now a friend: the plain outcome only.
  backend_->clearBoxes();
  EXPECT_EQ(reportResult(table_, "13900139000", true, texts()), FriendOffer::AlreadyFriend);
  ASSERT_EQ(backend_->boxTexts(), std::vector<std::string>{"发送成功！"});
  EXPECT_EQ(backend_->boxes()[0].icon, ui::Icon::Information);
}

TEST_F(ResultStepTest, FailureIsOfferedWithTheStopIconAndNoAddsNothing) {
  backend_->answer(ui::Answer::No);
  EXPECT_EQ(reportResult(table_, "13900139000", false, texts()), FriendOffer::Declined);
  ASSERT_EQ(backend_->boxTexts(),
            std::vector<std::string>{"发送失败！是否将13900139000加入好友列表?"});
  EXPECT_EQ(backend_->boxes()[0].icon, ui::Icon::Stop);
  EXPECT_EQ(rows(), "");
}

TEST_F(ResultStepTest, PhoneTypeIsStoredAndAFailedAddIsSaid) {
  backend_->answer(ui::Answer::Yes);
  EXPECT_EQ(reportResult(table_, "13900139000", false, texts(), T("诺基亚7650")),
            FriendOffer::Added);
  EXPECT_EQ(rows(), "13900139000|诺基亚7650|13900139000\n");
  // Without a table (it could not be opened) the add fails and says so.
  backend_->clearBoxes();
  backend_->answer(ui::Answer::Yes);
  EXPECT_EQ(reportResult(nullptr, "13700137000", true, texts()), FriendOffer::AddFailed);
  ASSERT_EQ(backend_->boxTexts().size(), 2u);
  EXPECT_EQ(backend_->boxTexts()[1], "将手机号13700137000加入到好友列表失败");
}

TEST(FillIn, ReplacesTheFirstPlaceholderOnlyAndTakesValuesVerbatim) {
  EXPECT_EQ(fillIn("a%sb%s", "%s%d"), "a%s%db%s");
  EXPECT_EQ(fillIn("none", "x"), "none");
}

TEST(Describe, EveryOutcomeAndFailureHasAText) {
  for (auto o : {FriendOffer::AlreadyFriend, FriendOffer::Declined, FriendOffer::Added,
                 FriendOffer::AddFailed}) {
    EXPECT_STRNE(describe(o), "unknown outcome");
  }
  for (auto f : {StartFailure::NoProgram, StartFailure::NotStarted}) {
    EXPECT_STRNE(describe(f), "unknown failure");
  }
}

// The receiver box over a dialog's control.
class ReceiverBoxTest : public testing::ModuleFixture {
 protected:
  void addFriend(const std::string& number, const std::string& name) {
    FriendRecord f{};
    copyField(f.mobilenum, number);
    copyField(f.name, name);
    ASSERT_GE(FLAddInfo(table_, &f), 0);
  }
  FriendsTable* table_ = nullptr;
  ui::DialogController dialog_{1, "test"};
};

TEST_F(ReceiverBoxTest, FriendsAreSortedWithTheirIndexAndTheHistoryFollows) {
  signIn();
  table_ = FLOpen(kUser);
  addFriend("13900000001", "zhang");
  addFriend("13900000002", "Li");
  addFriend("13900000003", "bai");
  addFriend("13900000004", "gone");
  ASSERT_EQ(FLDelInfo(table_, 3), 0);
  FLClose(table_);
  ASSERT_TRUE(profile::writeString(userFile("Setting.ini"), "Receiver", "Count", "2"));
  ASSERT_TRUE(profile::writeString(userFile("Setting.ini"), "Receiver", "Item1", "13700137000"));
  ASSERT_TRUE(profile::writeString(userFile("Setting.ini"), "Receiver", "Item2", "13600136000"));

  ReceiverBox box(dialog_, 7);
  box.setText("typed");
  FriendsTable* t = box.loadFriends(kUser, true);
  ASSERT_NE(t, nullptr);
  EXPECT_TRUE(box.loadHistory(userFile("Setting.ini")));
  EXPECT_EQ(dialog_.items(7),
            (std::vector<std::string>{"bai", "Li", "zhang", "13700137000", "13600136000"}));
  EXPECT_EQ(box.entryData(0), 2);
  EXPECT_EQ(box.entryData(1), 1);
  EXPECT_EQ(box.entryData(2), 0);
  EXPECT_EQ(box.entryData(3), ReceiverBox::kHistoryEntry);
  EXPECT_EQ(box.text(), "typed");
  EXPECT_EQ(box.find("LI"), 1);
  box.select(1);
  EXPECT_EQ(box.text(), "Li");
  EXPECT_EQ(box.selectedData(), 1);
  FLClose(t);

  // Only the friends a module accepts, in table order.
  box.clear();
  EXPECT_TRUE(dialog_.items(7).empty());
  EXPECT_EQ(box.text(), "");
  t = box.loadFriends(kUser, false,
                      [](const FriendRecord& f) { return std::string(f.name) != "Li"; });
  EXPECT_EQ(dialog_.items(7), (std::vector<std::string>{"zhang", "bai"}));
  FLClose(t);
}

TEST_F(ReceiverBoxTest, AddCurrentPutsTheTextFirstAndSavesTheProfile) {
  signIn();
  ReceiverBox box(dialog_, 7);
  box.addFriend("friend", 0);
  EXPECT_FALSE(box.loadHistory(userFile("Setting.ini")));  // no history yet
  box.setText("13700137000");
  box.addCurrent();
  box.setText("13600136000");
  box.addCurrent();
  box.setText("13700137000");
  box.addCurrent();
  EXPECT_EQ(dialog_.items(7), (std::vector<std::string>{"friend", "13700137000", "13600136000"}));
  const Profile p = Profile::load(userFile("Setting.ini"));
  EXPECT_EQ(p.get("Receiver", "Count").value_or(""), "2");
  EXPECT_EQ(p.get("Receiver", "Item1").value_or(""), "13700137000");
  EXPECT_EQ(p.get("Receiver", "Item2").value_or(""), "13600136000");
  EXPECT_EQ(box.text(), "13700137000");
}

TEST_F(ReceiverBoxTest, DamagedHistoryIsEmptiedAndOtherSectionsKept) {
  signIn();
  ASSERT_TRUE(fs::writeFileAtomic(userFile("Setting.ini"),
                                  "[Other]\r\nKey=kept\r\n[Receiver]\r\nCount=9\r\nItem1=x\r\n"));
  ReceiverBox box(dialog_, 7);
  EXPECT_FALSE(box.loadHistory(userFile("Setting.ini")));
  EXPECT_TRUE(dialog_.items(7).empty());
  const Profile p = Profile::load(userFile("Setting.ini"));
  EXPECT_EQ(p.get("Other", "Key").value_or(""), "kept");
  EXPECT_EQ(p.get("Receiver", "Count").value_or(""), "0");
}

// A dialog that records the strings it was started with.
class ProbeDialog : public ui::DialogController {
 public:
  explicit ProbeDialog(ConvertArgs a) : DialogController(777, "probe"), args(std::move(a)) {}
  ConvertArgs args;
};

TEST(Convert, ReturnsAtOnceAndShowsOneDialogPerCallWithCopiedStrings) {
  auto backend = std::make_shared<ui::ScriptedBackend>();
  ui::setBackend(backend);
  const int before = openDialogs();
  auto factory = [](const ConvertArgs& a) { return std::make_shared<ProbeDialog>(a); };
  {
    std::string receiver = "13900139000", file = "/tmp/a.txt", tag = "T1";
    EXPECT_EQ(convert(receiver.c_str(), file.c_str(), tag.c_str(), factory, -1), 0);
    receiver.assign(11, 'x');  // the caller's buffers may change at once
    EXPECT_EQ(convert(nullptr, "", "T2", factory, -1), 0);
  }
  EXPECT_TRUE(backend->modeless().empty());  // nothing is built within the call
  EXPECT_EQ(openDialogs(), before + 2);
  pumpMessages();
  const auto shown = backend->modeless();
  ASSERT_EQ(shown.size(), 2u);
  auto* first = dynamic_cast<ProbeDialog*>(shown[0].get());
  auto* second = dynamic_cast<ProbeDialog*>(shown[1].get());
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->args.receiver, "13900139000");
  EXPECT_EQ(first->args.file, "/tmp/a.txt");
  EXPECT_EQ(first->args.tag, "T1");
  EXPECT_EQ(second->args.receiver, "");
  EXPECT_EQ(second->args.tag, "T2");
  EXPECT_EQ(openDialogs(), before + 2);
  first->endDialog(ui::kIdCancel);
  EXPECT_EQ(openDialogs(), before + 1);
  second->endDialog(ui::kIdCancel);
  EXPECT_EQ(openDialogs(), before);
  ui::setBackend(nullptr);
}

TEST(Convert, DialogThatCannotBeBuiltIsNotShownAndNotCounted) {
  auto backend = std::make_shared<ui::ScriptedBackend>();
  ui::setBackend(backend);
  const int before = openDialogs();
  EXPECT_EQ(convert(
                "", "", "",
                [](const ConvertArgs&) -> std::shared_ptr<ui::DialogController> {
                  throw std::runtime_error("no dialog");
                },
                -2),
            0);
  EXPECT_EQ(convert("", "", "", nullptr, -2), -2);
  pumpMessages();
  EXPECT_TRUE(backend->modeless().empty());
  EXPECT_EQ(openDialogs(), before);
  ui::setBackend(nullptr);
}

TEST(Convert, RequestNotTakenIsToldUnderTheModulesCaption) {
  auto backend = std::make_shared<ui::ScriptedBackend>();
  ui::setBackend(backend);
  EXPECT_EQ(convertOrTell("", "", "", nullptr, -2, T("Lumo图")), -2);
  ASSERT_EQ(backend->boxTexts(), std::vector<std::string>{"创建线程失败"});
  EXPECT_EQ(gbkToUtf8Escaped(backend->boxes()[0].caption), "Lumo图");
  EXPECT_EQ(backend->boxes()[0].icon, ui::Icon::Stop);
  backend->clearBoxes();
  auto factory = [](const ConvertArgs& a) { return std::make_shared<ProbeDialog>(a); };
  EXPECT_EQ(convertOrTell("", "", "", factory, -2, T("Lumo图")), 0);
  EXPECT_TRUE(backend->boxes().empty());
  pumpMessages();
  ASSERT_EQ(backend->modeless().size(), 1u);
  backend->modeless()[0]->endDialog(ui::kIdCancel);
  ui::setBackend(nullptr);
}

TEST(LibraryDirectory, IsTheFolderOfTheLibraryHoldingTheAddress) {
  const std::string dir = libraryDirectory(reinterpret_cast<const void*>(&convert));
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), '/');
  EXPECT_TRUE(fs::exists(dir + "libModkit.so")) << dir;
  // An address in no loaded file: the program's folder.
  EXPECT_EQ(libraryDirectory(nullptr), fs::programDirectory());
}

// A stand-in main program in a scratch home that writes its arguments to a file.
class StarterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = *fs::createTempDirectory({}, "starter");
    if (home_.back() != '/') home_ += '/';
    setenv("HANDVANE_HOME", home_.c_str(), 1);
    fs::resetSuiteHomeForTesting();
    backend_ = std::make_shared<ui::ScriptedBackend>();
    ui::setBackend(backend_);
  }
  void TearDown() override {
    ui::setBackend(nullptr);
    unsetenv("HANDVANE_HOME");
    fs::resetSuiteHomeForTesting();
    fs::removeAll(home_);
  }
  void installProgram() {
    ASSERT_TRUE(fs::writeFileAtomic(home_ + "Handvane",
                                    "#!/bin/sh\necho \"$@\" > \"$0.args.tmp\"\n"
                                    "mv \"$0.args.tmp\" \"$0.args\"\n",
                                    0755));
  }
  // The arguments the stand-in received, once it wrote them (within about 10 s).
  std::string received() {
    for (int i = 0; i < 500; ++i) {
      if (auto s = fs::readFile(home_ + "Handvane.args")) return *s;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return "(nothing)";
  }
  std::string home_;
  std::shared_ptr<ui::ScriptedBackend> backend_;
};

TEST_F(StarterTest, StartsTheMainProgramWithTheTypeOption) {
  installProgram();
  EXPECT_EQ(mainProgramPath(), home_ + "Handvane");
  EXPECT_FALSE(startModule(ModuleType::Image, true));
  EXPECT_EQ(received(), "-hide -f image\n");
  fs::removeFile(home_ + "Handvane.args");
  EXPECT_TRUE(startModuleOrTell(ModuleType::Music));
  EXPECT_EQ(received(), "-f music\n");
  EXPECT_TRUE(backend_->boxes().empty());
  EXPECT_STREQ(typeWord(ModuleType::Text), "text");
  EXPECT_STREQ(typeWord(ModuleType::Flash), "flash");
}

TEST_F(StarterTest, HeaderButtonsStartTheirModules) {
  installProgram();
  const std::pair<CDialogHeader::Button, const char*> cases[] = {
      {CDialogHeader::Button::Text, "-f text\n"},
      {CDialogHeader::Button::Image, "-f image\n"},
      {CDialogHeader::Button::Flash, "-f flash\n"},
      {CDialogHeader::Button::Music, "-f music\n"}};
  for (const auto& [button, args] : cases) {
    fs::removeFile(home_ + "Handvane.args");
    startModuleOfButton(button);
    EXPECT_EQ(received(), args);
  }
  EXPECT_TRUE(backend_->boxes().empty());
}

TEST_F(StarterTest, MissingProgramIsToldToTheUser) {
  if (!mainProgramPath().empty()) GTEST_SKIP() << "a main program lies beside the test program";
  EXPECT_EQ(startModule(ModuleType::Text), StartFailure::NoProgram);
  EXPECT_FALSE(startModuleOrTell(ModuleType::Flash));
  ASSERT_EQ(backend_->boxTexts(), std::vector<std::string>{"请重新安装Lumo客户端程序！"});
  EXPECT_EQ(backend_->boxes()[0].caption, "Lumo");
  EXPECT_EQ(backend_->boxes()[0].icon, ui::Icon::Stop);
}

TEST(UserFile, LiesInTheUsersFolderAndOnlyPlainIdsNameOne) {
  setenv("HANDVANE_HOME", "/tmp/somehome/", 1);
  fs::resetSuiteHomeForTesting();
  EXPECT_EQ(userFile("13800138000", "Setting.ini").value_or(""),
            "/tmp/somehome/13800138000/Setting.ini");
  for (std::string_view id : {std::string_view(""), std::string_view("."), std::string_view(".."),
                              std::string_view("../etc"), std::string_view("a/b"),
                              std::string_view("1\0"
                                               "2",
                                               3)}) {
    EXPECT_FALSE(userFile(id, "usercfg.dat")) << id;
  }
  unsetenv("HANDVANE_HOME");
  fs::resetSuiteHomeForTesting();
}

}  // namespace
}  // namespace hv::modkit
