#include "modules/music/music_dialog.h"

#include <algorithm>

#include "include/handvane/records.h"
#include "modules/kit/models.h"
#include "modules/kit/sending.h"
#include "modules/kit/starter.h"
#include "modules/kit/userfiles.h"
#include "modules/music/core/tone.h"
#include "platform/fs.h"
#include "platform/gbk.h"
#include "service/svclink.h"
#include "tables/friends/buddystore.h"
#include "tables/models/modelstore.h"

namespace hv::ringport {

namespace {

constexpr char kFilter[] = "|*.mid;*.midi|All Files (*.*)|*.*|";

std::string caption() {
  return T("Lumo音");
}

modkit::ResultTexts resultTexts() {
  return {caption(), T("发送铃声成功！是否将%s加入好友列表?"),
          T("发送铃声失败！是否将%s加入好友列表?"), T("发送铃声成功！"), T("发送铃声失败！")};
}

std::string fileName(const std::string& path) {
  return path.substr(path.rfind('/') + 1);
}

class Busy {
 public:
  explicit Busy(bool& flag) : flag_(flag) { flag_ = true; }
  ~Busy() { flag_ = false; }
  Busy(const Busy&) = delete;
  Busy& operator=(const Busy&) = delete;

 private:
  bool& flag_;
};

}  // namespace

MusicDialog::MusicDialog(modkit::ConvertArgs args, Options options)
    : DialogController(kTemplate, T("Lumo音-Ringport")),
      args_(std::move(args)),
      options_(std::move(options)),
      receiver_(*this, kReceiver) {
  setItems(kFormat, {T("诺基亚铃声"), T("iMelody铃声")});
  setSelection(kFormat, 0);
  std::vector<std::string> channels{T("全部声道")};
  for (int c = 1; c <= 16; ++c) channels.push_back(std::to_string(c));
  setItems(kChannel, channels);
  setSelection(kChannel, 0);
  setItems(kTempo, {std::to_string(kTempoLow), std::to_string(kTempoHigh)});
  setSelection(kTempo, kTempoMiddle);
  std::vector<std::string> counts;
  for (int n = 1; n <= kMaxMessages; ++n) counts.push_back(std::to_string(n));
  setItems(kMaxMessages, counts);
  setSelection(kMaxMessages, kDefaultMaxMessages - 1);
  setText(kOpen, T("打开MIDI"));
  setText(kConvert, T("转 换"));
  setText(kPlay, T("试 听"));
  setText(kSend, T("发 送"));
  setText(kAskModel, T("询问机型"));
  setText(kFile, T("请打开一个MIDI文件"));
  setText(kBeat, "");
  setText(kReceiver, "");
  setEnabled(kWindow, true);
  stale();
}

MusicDialog::~MusicDialog() {
  FLClose(friends_);
  PLClose(models_);
  if (!tonePath_.empty()) fs::removeFile(tonePath_);
}

void MusicDialog::message(const std::string& text, ui::Icon icon) {
  ui::messageBox(text, caption(), icon);
}

void MusicDialog::onInit() {
  fee_.Init(fs::resolveOrKeep(fs::suiteHome() + "DATA/confee.dll"));
  models_ = PLOpen();
  fillModels();
  loadUserData();
  receiver_.setText(args_.receiver);
  receiverChanged();
  if (!args_.file.empty()) openMidi(args_.file);
}

void MusicDialog::fillModels() {
  modkit::ModelChoice choice = modkit::sortedModels(models_);
  modelIndex_ = std::move(choice.indices);
  int initial = choice.names.empty() ? -1 : 0;
  for (size_t i = 0; i < choice.names.size(); ++i) {
    if (choice.names[i] == T("诺基亚3310")) initial = int(i);
  }
  setItems(kModel, choice.names);
  setSelection(kModel, initial);
  modelChanged();
}

void MusicDialog::loadUserData() {
  FLClose(friends_);
  friends_ = nullptr;
  const std::string typed = receiver_.text();
  receiver_.clear();
  if (const auto user = modkit::signedInUser()) {
    if (auto history = modkit::userFile(*user, modkit::kHistoryFile))
      receiver_.loadHistory(*history);
    friends_ = receiver_.loadFriends(*user, true);
  }
  receiver_.setText(typed);
}

std::string MusicDialog::selectedPhoneType() const {
  const int sel = selection(kModel);
  ModelRecord m{};
  if (sel < 0 || size_t(sel) >= modelIndex_.size() ||
      PLGetInfo(models_, modelIndex_[size_t(sel)], &m) < 0) {
    return {};
  }
  return fieldText(m.phonetype);
}

std::string MusicDialog::selectedModelName() const {
  const int sel = selection(kModel);
  const auto names = items(kModel);
  return sel >= 0 && size_t(sel) < names.size() ? names[size_t(sel)] : std::string();
}

Format MusicDialog::format() const {
  return selection(kFormat) == 1 ? Format::IMelody : Format::Nokia;
}

void MusicDialog::modelChanged() {
  // The model decides the format; the user may choose the other one afterwards.
  setSelection(kFormat, formatForPhoneType(selectedPhoneType()) == Format::Nokia ? 0 : 1);
  stale();
}

void MusicDialog::receiverChanged() {
  const std::string typed = receiver_.text();
  int match = receiver_.selected();
  if (match < 0 || receiver_.entry(match) != typed)
    match = typed.empty() ? -1 : receiver_.find(typed);
  FriendRecord f{};
  for (int i = 0; match < 0 && !typed.empty() && i < receiver_.count(); ++i) {
    const int index = receiver_.entryData(i);
    if (index >= 0 && FLGetInfo(friends_, index, &f) == 0 && fieldText(f.mobilenum) == typed) {
      match = i;
    }
  }
  if (match != selection(kReceiver)) setSelection(kReceiver, match);
  // A friend brings his phone model.
  const int index = match >= 0 ? receiver_.entryData(match) : -1;
  ModelRecord m{};
  if (index >= 0 && FLGetInfo(friends_, index, &f) == 0 &&
      PLGetInfoWithPhoneType(models_, f.mobiletype, &m) >= 0) {
    const auto names = items(kModel);
    auto it = std::find(names.begin(), names.end(), fieldText(m.modelname));
    if (it != names.end() && int(it - names.begin()) != selection(kModel)) {
      setSelection(kModel, int(it - names.begin()));
      modelChanged();
    }
  }
}

std::string MusicDialog::recipientNumber() const {
  FriendRecord f{};
  const int index = receiver_.selectedData();
  if (index >= 0 && FLGetInfo(friends_, index, &f) == 0) return fieldText(f.mobilenum);
  return receiver_.text();
}

void MusicDialog::stale() {
  ringtone_.reset();
  setText(kNotes, midi_.empty() ? std::string() : T("请按“转 换”生成铃声"));
  setText(kCount, "");
  setText(kFee, "");
  setEnabled(kPlay, false);
}

void MusicDialog::onCommand(int id) {
  if (sending_) return;
  switch (id) {
    case kOpen:
      openClicked();
      break;
    case kConvert:
      convertNow();
      break;
    case kPlay:
      play();
      break;
    case kSend:
      send();
      break;
    case kAskModel:
      askModel();
      break;
    case kHeaderText:
      modkit::startModuleOrTell(modkit::ModuleType::Text);
      break;
    case kHeaderImage:
      modkit::startModuleOrTell(modkit::ModuleType::Image);
      break;
    case kHeaderFlash:
      modkit::startModuleOrTell(modkit::ModuleType::Flash);
      break;
    default:
      break;
  }
}

void MusicDialog::onChange(int id) {
  if (sending_) return;
  switch (id) {
    case kReceiver:
      receiverChanged();
      break;
    case kModel:
      modelChanged();
      break;
    case kFormat:
    case kTempo:
    case kMaxMessages:
      stale();
      break;
    case kChannel:
      if (!midi_.empty()) openMidi(midi_);
      break;
    default:
      break;
  }
}

bool MusicDialog::onClose() {
  if (sending_) return false;
  endDialog(ui::kIdCancel);
  return true;
}

void MusicDialog::openClicked() {
  auto path = ui::backend().openFile(T("MIDI文件(*.mid)") + kFilter, T("打开"), "");
  if (path) openMidi(*path);
}

bool MusicDialog::openMidi(const std::string& path) {
  const std::string converter = converterIn(options_.moduleDir);
  const BeatResult b = beat(path, converter, selection(kChannel));
  if (!b.position) {
    message(describe(b.error, b.detail), ui::Icon::Stop);
    return false;  // the previous tune stays
  }
  midi_ = path;
  setText(kFile, fileName(path));
  setSelection(kTempo, *b.position);
  setText(kBeat, T("节拍：") + std::to_string(*b.position));
  stale();
  return convertNow();
}

bool MusicDialog::convertNow() {
  if (midi_.empty()) {
    message(T("请首先打开MIDI文件"), ui::Icon::Information);
    return false;
  }
  ConvertRequest request;
  request.midiPath = midi_;
  request.converterPath = converterIn(options_.moduleDir);
  request.channel = selection(kChannel);
  request.format = format();
  request.tempoPosition = selection(kTempo);
  request.maxMessages = selection(kMaxMessages) + 1;
  request.phoneType = selectedPhoneType();
  ConvertResult r = ringport::convert(request);
  if (!r.ringtone) {
    stale();
    message(describe(r.error, r.detail), ui::Icon::Stop);
    return false;
  }
  ringtone_ = std::move(r.ringtone);
  std::string notes = T("可发送 ") + std::to_string(ringtone_->fittedNotes()) + T(" 个音符");
  if (ringtone_->neededMessages > 0) {
    notes += T("，完整铃声需要 ") + std::to_string(ringtone_->neededMessages) + T(" 条短消息");
  }
  const int count = int(ringtone_->messages.size());
  setText(kNotes, notes);
  setText(kCount, T("需要 ") + std::to_string(count) + T(" 条短消息发送"));
  setText(kFee, fee_.ConstructFee(contentKind(ringtone_->format), count));
  setEnabled(kPlay, true);
  return true;
}

void MusicDialog::play() {
  if (!ringtone_ && !convertNow()) return;
  if (!tonePath_.empty()) fs::removeFile(tonePath_);
  const PlayResult r = ringport::play(options_.player, render(*ringtone_), kSampleRate);
  tonePath_ = r.wavPath;
  if (r.error == PlayError::NoPlayer || r.error == PlayError::NotStarted) {
    message(T("无法播放铃声：没有可用的声音播放程序"), ui::Icon::Information);
  } else if (r.error == PlayError::NoFile) {
    message(T("无法建立临时文件"), ui::Icon::Stop);
  }
}

void MusicDialog::send() {
  if (sending_) return;
  Busy busy(sending_);
  if (!ringtone_ && !convertNow()) return;
  const modkit::SignIn in = modkit::signInOnDemand();
  if (!in.signedIn) {
    message(T("必须进行登录才能发送短消息！"), ui::Icon::Stop);
    return;
  }
  if (in.signedInNow) loadUserData();
  const std::string number = recipientNumber();
  if (number.empty()) {
    message(T("对不起，没有选择接收短消息的收件人"), ui::Icon::Stop);
    return;
  }
  if (const auto reasons = modkit::refusedRecipients(in.userId, {number}); !reasons.empty()) {
    message(reasons.front(), ui::Icon::Information);
    return;
  }
  const std::string question = T("你确定要给\n[") + receiver_.text() + T("的") +
                               selectedModelName() + T("手机]\n发送铃声吗?");
  if (ui::messageBox(question, caption(), ui::Icon::Question, ui::Buttons::YesNo) !=
      ui::Answer::Yes) {
    return;
  }
  const MessageHeader header =
      buildHeader(ringtone_->format, {args_.tag, number, in.userId, selectedPhoneType()});
  setEnabled(kWindow, false);
  result_ = modkit::sendContentAndWait(header, ringtone_->packed, true);
  setEnabled(kWindow, true);
  receiver_.addCurrent();
  if (modkit::reportResult(friends_, number, result_ == 0, resultTexts(), selectedPhoneType()) ==
      modkit::FriendOffer::Added) {
    loadUserData();
  }
}

void MusicDialog::askModel() {
  const std::string number = recipientNumber();
  if (number.empty()) return;
  if (ui::messageBox(T("您要给") + number + T("发送机型询问短消息吗？"), caption(),
                     ui::Icon::Question, ui::Buttons::YesNo) != ui::Answer::Yes) {
    return;
  }
  const modkit::SignIn in = modkit::signInOnDemand();
  if (!in.signedIn) {
    message(T("必须进行登录才能发送短消息！"), ui::Icon::Stop);
    return;
  }
  if (!modkit::refusedRecipients(in.userId, {number}).empty()) return;
  Busy busy(sending_);
  const int r = modkit::startAndWait(
      [&](const SendNotice& n) { return NET_SendMobileTypeQuerySMS(&n, number.c_str()); });
  message(r == 0 ? T("发送机型询问短消息成功！") : T("发送机型询问短消息失败！"),
          r == 0 ? ui::Icon::Information : ui::Icon::Stop);
}

}  // namespace hv::ringport
