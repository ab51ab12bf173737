// The music dialog's controller headless against handvane-service: a MIDI tune made by csvmidi
// converted for a Nokia and an iMelody model, its notes, message count and fee, sent; the stored
// ringtone messages equal to what Tunecast made; the format override, listening, the add-friend
// offer, refusals and bad files.
#include <gtest/gtest.h>

#include "modules/kit/sending.h"
#include "modules/music/core/tone.h"
#include "modules/music/tests/music_fixture.h"
#include "tables/friends/buddystore.h"

namespace hv::ringport {
namespace {

using testing::kFriend;
using ui::Answer;

class MusicDialogTest : public testing::MusicFixture {};

std::vector<std::string> asTexts(const std::vector<std::vector<uint8_t>>& messages) {
  std::vector<std::string> out;
  for (const auto& m : messages) out.emplace_back(m.begin(), m.end());
  return out;
}

TEST_F(MusicDialogTest, NokiaRingtoneSentAndStoredAsTunecastMadeIt) {
  signIn();
  MusicDialog d({kFriend, tune_, "TAG1"}, options());
  d.onInit();
  EXPECT_EQ(d.selectedModelName(), T("诺基亚3310"));
  EXPECT_EQ(d.format(), Format::Nokia);
  ASSERT_TRUE(d.ringtone()) << ::testing::PrintToString(backend_->boxTexts());
  EXPECT_EQ(d.ringtone()->fittedNotes(), 4u);
  EXPECT_EQ(d.text(MusicDialog::kNotes), T("可发送 4 个音符"));
  EXPECT_EQ(d.text(MusicDialog::kCount), T("需要 1 条短消息发送"));
  EXPECT_EQ(d.text(MusicDialog::kFee), T("短信通信费：0.1元\n铃声信息费：2.0元/次\n"));
  EXPECT_EQ(d.text(MusicDialog::kBeat), T("节拍：5"));
  EXPECT_EQ(d.text(MusicDialog::kFile), "tune.mid");

  backend_->answer(Answer::Yes);  // send?
  backend_->answer(Answer::Yes);  // add the friend
  d.onCommand(MusicDialog::kSend);
  EXPECT_EQ(d.lastResult(), 0);
  const auto boxes = backend_->boxTexts();
  ASSERT_GE(boxes.size(), 2u);
  EXPECT_EQ(boxes[0], "你确定要给\n[13900139000的诺基亚3310手机]\n发送铃声吗?");
  EXPECT_EQ(boxes[1], "发送铃声成功！是否将13900139000加入好友列表?");

  const auto p = stored(1);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->serviceCode, "SMS");
  EXPECT_EQ(p->contentClass, "RING");
  EXPECT_EQ(p->contentKind, "nokia_ringtone");
  EXPECT_EQ(p->model, "Nokia3310");
  EXPECT_EQ(p->contentType, "SHT");
  EXPECT_EQ(p->recipients, std::vector<std::string>{kFriend});
  EXPECT_EQ(p->texts, asTexts(d.ringtone()->messages));
  // The friend came with the phone type of the model.
  EXPECT_EQ(modkit::testing::friendRows(userFile("FRIENDS.DBF")),
            "13900139000|Nokia3310|13900139000\n");
}

TEST_F(MusicDialogTest, IMelodyModelAndTheUsersOverride) {
  signIn();
  MusicDialog d({kFriend, "", ""}, options());
  d.onInit();
  EXPECT_FALSE(d.ringtone());
  pick(d, MusicDialog::kModel, "爱立信T68i");
  EXPECT_EQ(d.format(), Format::IMelody);
  ASSERT_TRUE(d.openMidi(tune_));
  ASSERT_TRUE(d.ringtone());
  EXPECT_EQ(d.ringtone()->format, Format::IMelody);
  const std::string m(d.ringtone()->messages.at(0).begin(), d.ringtone()->messages.at(0).end());
  EXPECT_NE(m.find("MELODY:*3c2*3e2*3g2c2\r\n"), std::string::npos) << m;

  backend_->answer(Answer::Yes);
  backend_->answer(Answer::No);
  d.onCommand(MusicDialog::kSend);
  EXPECT_EQ(d.lastResult(), 0);
  auto p = stored(1);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->contentKind, "imelody_ringtone");
  EXPECT_EQ(p->model, "EricssonT68i");
  EXPECT_EQ(p->texts, asTexts(d.ringtone()->messages));

  // The user takes the Nokia format for the same model: the ringtone is made again on send.
  d.setSelection(MusicDialog::kFormat, 0);
  d.onChange(MusicDialog::kFormat);
  EXPECT_FALSE(d.ringtone());
  backend_->answer(Answer::Yes);
  backend_->answer(Answer::No);
  d.onCommand(MusicDialog::kSend);
  ASSERT_TRUE(d.ringtone());
  EXPECT_EQ(d.ringtone()->format, Format::Nokia);
  p = stored(2);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->contentKind, "nokia_ringtone");
  EXPECT_EQ(p->texts, asTexts(d.ringtone()->messages));
  // A new model chooses its own format again.
  pick(d, MusicDialog::kModel, "诺基亚7650");
  EXPECT_EQ(d.format(), Format::Nokia);
  pick(d, MusicDialog::kModel, "西门子C45");
  EXPECT_EQ(d.format(), Format::IMelody);
}

TEST_F(MusicDialogTest, CutTuneTellsTheMessagesItNeeds) {
  const std::string longTune =
      testing::midiFromCsv(home_, "long", testing::tuneCsv(testing::climbing(200)));
  MusicDialog d({"", "", ""}, options());
  d.onInit();
  d.setSelection(MusicDialog::kMaxMessages, 0);  // one message
  ASSERT_TRUE(d.openMidi(longTune));
  EXPECT_EQ(d.ringtone()->fittedNotes(), 56u);
  EXPECT_EQ(d.text(MusicDialog::kNotes), T("可发送 56 个音符，完整铃声需要 ") +
                                             std::to_string(d.ringtone()->neededMessages) +
                                             T(" 条短消息"));
  EXPECT_EQ(d.text(MusicDialog::kCount), T("需要 1 条短消息发送"));
}

TEST_F(MusicDialogTest, ListeningRendersTheFittedTone) {
  MusicDialog d({"", tune_, ""}, options());
  d.onInit();
  ASSERT_TRUE(d.ringtone());
  EXPECT_TRUE(d.enabled(MusicDialog::kPlay));
  d.onCommand(MusicDialog::kPlay);
  ASSERT_FALSE(d.lastTonePath().empty());
  const auto wav = fs::readFile(d.lastTonePath());
  ASSERT_TRUE(wav);
  EXPECT_EQ(wavSamples(*wav), render(*d.ringtone()));
  EXPECT_TRUE(backend_->boxTexts().empty());
  // No player program: the user is told, nothing else happens.
  MusicDialog silent({"", tune_, ""},
                     {std::string(HV_SUITE_DIR) + "/", Player{{"/nonexistent/player"}}});
  silent.onInit();
  silent.onCommand(MusicDialog::kPlay);
  EXPECT_EQ(backend_->boxTexts().back(), "无法播放铃声：没有可用的声音播放程序");
}

TEST_F(MusicDialogTest, RefusalsAndBadFiles) {
  MusicDialog d({"", "", ""}, options());
  d.onInit();
  // Nothing to send yet.
  d.onCommand(MusicDialog::kSend);
  EXPECT_EQ(backend_->boxTexts().back(), "请首先打开MIDI文件");
  EXPECT_EQ(d.lastResult(), modkit::kNotSent);
  // A damaged file and a file without notes are refused; the tune before stays.
  ASSERT_TRUE(d.openMidi(tune_));
  const std::string junk = home_ + "junk.mid";
  ASSERT_TRUE(fs::writeFileAtomic(junk, "MThd garbage"));
  EXPECT_FALSE(d.openMidi(junk));
  EXPECT_EQ(backend_->boxTexts().back(), "不是有效的MIDI文件");
  const std::string silent = testing::midiFromCsv(home_, "silent", testing::tuneCsv({}));
  EXPECT_FALSE(d.openMidi(silent));
  EXPECT_EQ(backend_->boxTexts().back(), "MIDI文件中没有音符");
  EXPECT_EQ(d.text(MusicDialog::kFile), "tune.mid");
  EXPECT_FALSE(d.openMidi(home_ + "missing.mid"));
  // A bad recipient is refused after the sign-in (the login dialog is cancelled first).
  d.onCommand(MusicDialog::kSend);
  EXPECT_EQ(backend_->boxTexts().back(), "必须进行登录才能发送短消息！");
  signIn();
  d.setText(MusicDialog::kReceiver, "12345");
  d.onChange(MusicDialog::kReceiver);
  d.onCommand(MusicDialog::kSend);
  EXPECT_EQ(d.lastResult(), modkit::kNotSent);
  EXPECT_TRUE(storedMessages().empty());
  // The service gone: the send fails and says so.
  service_.reset();
  d.setText(MusicDialog::kReceiver, kFriend);
  d.onChange(MusicDialog::kReceiver);
  backend_->answer(Answer::Yes);
  backend_->answer(Answer::No);
  d.onCommand(MusicDialog::kSend);
  EXPECT_NE(d.lastResult(), 0);
  EXPECT_EQ(backend_->boxTexts().back(), "发送铃声失败！是否将13900139000加入好友列表?");
}

}  // namespace
}  // namespace hv::ringport
