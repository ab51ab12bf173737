#include "modules/text/text_dialog.h"

#include <cctype>

#include "include/handvane/records.h"
#include "login/signon.h"
#include "modules/kit/sending.h"
#include "modules/kit/starter.h"
#include "modules/kit/userfiles.h"
#include "modules/text/cc_dialog.h"
#include "modules/text/core/request.h"
#include "modules/text/signature_dialog.h"
#include "modules/text/textfile.h"
#include "modules/text/usersettings.h"
#include "platform/fs.h"
#include "platform/gbk.h"
#include "tables/friends/buddystore.h"
#include "ui/UI/helper.h"

namespace hv::textport {

namespace {

constexpr char kFilter[] = "|*.txt|All Files (*.*)|*.*|";
// A file handed to DoConvert is read up to this size: far more than ten messages can carry, so
// the cut to the text limit decides what is kept.
constexpr size_t kStartFileLimit = 64 * 1024;
// "打 开" reads this much of a file.
constexpr size_t kOpenLimit = 2053;

std::string caption() {
  return T("文字短消息");
}

std::string filter() {
  return T("文本文件(*.txt)") + kFilter;
}

bool sameNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

modkit::ResultTexts resultTexts() {
  return {caption(), T("发送成功！是否将%s加入好友列表?"), T("发送失败！是否将%s加入好友列表?"),
          T("发送成功！"), T("发送失败！")};
}

// Clears the flag when the step ends, however it ends.
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

std::vector<std::pair<int, std::string>> TextDialog::toolTips() {
  return {
      {TextDialog::kSend, T("发送短消息到手机")},
      {TextDialog::kPictureSend, T("发送短消息到手机")},
      {TextDialog::kSigning, T("在短消息内容的前面加上签名")},
      {TextDialog::kNumbering, T("拆分成多条短消息时在每条短消息前面加上序号\r\n类似于(1/10)")},
      {TextDialog::kFlash, T("选择短消息的类型")},
      {TextDialog::kCc, T("加入要群发的手机号，格式为: 姓名<手机号>; 或者是: 手机号;")},
      {TextDialog::kReceiver, T("输入接收短消息的手机号或选择接收短消息的好友")},
      {TextDialog::kCcButton, T("选择要群发的好友")},
  };
}

TextDialog::TextDialog(modkit::ConvertArgs args)
    : DialogController(kTemplate, T("Lumo字-Textport")),
      args_(std::move(args)),
      receiver_(*this, kReceiver) {
  setText(kCcButton, T("抄送好友"));
  setText(kNumbering, T("在每条短消息内容前面加入序号"));
  setChecked(kNumbering, 1);
  setText(kSigning, T("短消息内容中加入签名"));
  setChecked(kSigning, 0);
  setText(kFlash, T("闪电短信"));
  setChecked(kFlash, 0);
  setText(kSend, T("发 送"));
  setText(kOpen, T("打 开"));
  setText(kSave, T("保 存"));
  setText(kFeeInfo, T("资费说明"));
  setText(kText, "");
  setText(kCc, "");
  setText(kReceiver, "");
  setEnabled(kWindow, true);
}

TextDialog::~TextDialog() {
  FLClose(friends_);
}

Options TextDialog::options() const {
  return Options{checked(kNumbering) != 0, checked(kSigning) != 0, signature_};
}

void TextDialog::onInit() {
  fee_.Init(fs::resolveOrKeep(fs::suiteHome() + "DATA/confee.dll"));
  loadUserData();
  receiver_.setText(args_.receiver);
  receiverChanged();
  if (!args_.file.empty()) appendStartFile();
  if (text(kText).empty()) {
    setText(kText, T("请在这儿输入要发送的短消息的内容！"));
    promptSelected_ = true;
  }
  recalculate();
}

void TextDialog::appendStartFile() {
  const TextFile f = readTextFile(args_.file, kStartFileLimit);
  if (f.error) {
    ui::messageBox(describe(*f.error, args_.file), caption(), ui::Icon::Stop);
    return;
  }
  setText(kText, text(kText) + f.text);
  // What was left unread can never be sent: say so, as the cut does.
  if (f.truncated && !cutToLimit(text(kText), options())) {
    ui::messageBox(T("Lumo字最大可以输入10条短消息的内容，多出的文字将被截去。"), caption(),
                   ui::Icon::Information);
  }
}

void TextDialog::onCommand(int id) {
  switch (id) {
    case kNumbering:
      recalculate();
      break;
    case kSigning:
      signingClicked();
      break;
    case kSend:
    case kPictureSend:
      send();
      break;
    case kCcButton:
      ccClicked();
      break;
    case kOpen:
      openText();
      break;
    case kSave:
      saveText();
      break;
    case kFeeInfo:
      CHandvaneHelper::OpenFeeLink();
      break;
    case kHeaderFlash:
      modkit::startModuleOrTell(modkit::ModuleType::Flash);
      break;
    case kHeaderImage:
      modkit::startModuleOrTell(modkit::ModuleType::Image);
      break;
    case kHeaderMusic:
      modkit::startModuleOrTell(modkit::ModuleType::Music);
      break;
    default:
      break;  // the flash check box has no action of its own
  }
}

void TextDialog::onChange(int id) {
  if (id == kText) recalculate();
  if (id == kReceiver) receiverChanged();
}

bool TextDialog::onClose() {
  if (sending_) return false;
  endDialog(ui::kIdCancel);
  return true;
}

void TextDialog::loadUserData() {
  FLClose(friends_);
  friends_ = nullptr;
  const std::string typed = receiver_.text();
  receiver_.clear();
  const auto user = modkit::signedInUser();
  if (user) {
    if (auto history = modkit::userFile(*user, modkit::kHistoryFile)) {
      receiver_.loadHistory(*history);
    }
    friends_ = receiver_.loadFriends(*user, true);
    signature_ = loadSignature(*user);
  }
  receiver_.setText(typed);
  receiverChanged();
}

void TextDialog::recalculate() {
  const Options o = options();
  std::string message = text(kText);
  if (auto cut = cutToLimit(message, o)) {
    message = std::move(*cut);
    setText(kText, message);
    ui::messageBox(T("Lumo字最大可以输入10条短消息的内容，多出的文字将被截去。"), caption(),
                   ui::Icon::Information);
  }
  const int count = split(message, o).count();
  setText(kLength, std::to_string(message.size()) + T("个字符"));
  setText(kCount, T("拆分成 ") + std::to_string(count) + T(" 条短消息发送"));
  setText(kFee, fee_.ConstructFee("text", count));
}

void TextDialog::receiverChanged() {
  // Typing the text of an entry (in any case) or a friend's number selects that entry; an entry
  // picked from the list stays selected.
  const std::string typed = receiver_.text();
  const int selected = receiver_.selected();
  if (selected >= 0 && sameNoCase(receiver_.entry(selected), typed)) return;
  int match = typed.empty() ? -1 : receiver_.find(typed);
  for (int i = 0; match < 0 && !typed.empty() && i < receiver_.count(); ++i) {
    FriendRecord f{};
    const int index = receiver_.entryData(i);
    if (index >= 0 && FLGetInfo(friends_, index, &f) == 0 && fieldText(f.mobilenum) == typed) {
      match = i;
    }
  }
  if (match != selection(kReceiver)) setSelection(kReceiver, match);
}

std::vector<std::string> TextDialog::recipientList() const {
  std::string first = receiver_.text();
  FriendRecord f{};
  const int index = receiver_.selectedData();
  if (index >= 0 && FLGetInfo(friends_, index, &f) == 0) first = fieldText(f.mobilenum);
  return recipients(first, text(kCc));
}

void TextDialog::refuse(const std::string& text) {
  ui::messageBox(text, caption(), ui::Icon::Stop);
}

bool TextDialog::refuseBeforeSignIn(const std::string& message, const Split& s,
                                    const std::vector<std::string>& to) {
  if (units(message, s.mode) == 0) {
    refuse(T("对不起，请首先输入短消息内容！"));
  } else if (to.empty()) {
    refuse(T("对不起，没有选择接收短消息的收件人"));
  } else if (to.size() > size_t(kMaxRecipients)) {
    refuse(T("对不起，包括收件人和抄送在内最多只能同时10人"));
  } else if (s.count() > kMaxMessages) {
    refuse(T("对不起，最多一次只能发送10条短消息！"));
  } else if (checked(kFlash) && s.count() > 1) {
    refuse(T("对不起，闪电短信的内容不能超过70个字"));
  } else {
    return false;
  }
  return true;
}

void TextDialog::send() {
  if (sending_) return;
  Busy busy(sending_);
  const std::string message = text(kText);
  Split s = split(message, options());
  std::vector<std::string> to = recipientList();
  if (refuseBeforeSignIn(message, s, to)) return;

  const modkit::SignIn in = modkit::signInOnDemand();
  if (!in.signedIn) {
    refuse(T("必须进行登录才能发送短消息！"));
    return;
  }
  if (in.signedInNow) {
    // The user's friends and signature are there now: the send is worked out again with them.
    loadUserData();
    s = split(message, options());
    to = recipientList();
    if (refuseBeforeSignIn(message, s, to)) return;
  }

  if (const auto reasons = modkit::refusedRecipients(in.userId, to); !reasons.empty()) {
    std::string m = T("错误:");
    for (const std::string& r : reasons) m += "\r\n" + r;
    ui::messageBox(m + "\r\n", caption(), ui::Icon::Information);
    return;
  }
  if (ui::messageBox(T("你确定要进行") + T("发送") + T("操作吗？"), T("Lumo字"), ui::Icon::Question,
                     ui::Buttons::OkCancel) != ui::Answer::Ok) {
    return;
  }

  const MessageHeader header =
      buildHeader(TextRequest{args_.tag, to, in.userId, s.capacity, checked(kFlash) != 0});
  const std::vector<uint8_t> content = buildContent(s.messages);
  result_ = modkit::kNotSent;
  setEnabled(kWindow, false);
  result_ = modkit::sendContentAndWait(header, content, true);
  setEnabled(kWindow, true);
  receiver_.addCurrent();
  if (modkit::reportResult(friends_, to.front(), result_ == 0, resultTexts()) ==
      modkit::FriendOffer::Added) {
    loadUserData();
  }
}

void TextDialog::signingClicked() {
  if (!modkit::signedInUser()) {
    if (LOGIN_Login("", "") != int(LoginStateCode::SignedIn)) {
      setChecked(kSigning, 0);
      ui::messageBox(T("未成功登录到网络！不能使用签名功能"), "Textport", ui::Icon::Stop);
      return;
    }
    loadUserData();
  }
  if (checked(kSigning)) {
    SignatureDialog dialog(signature_);
    ui::backend().runModal(dialog);
    signature_ = dialog.signature();
    if (signature_.empty()) setChecked(kSigning, 0);
    if (auto user = modkit::signedInUser()) storeSignature(*user, signature_);
  }
  recalculate();
}

void TextDialog::ccClicked() {
  if (!modkit::signedInUser()) {
    if (LOGIN_Login("", "") != int(LoginStateCode::SignedIn)) {
      ui::messageBox(T("未能成功登录，你无法使用好友信息!"), "Textport", ui::Icon::Stop);
      return;
    }
    loadUserData();
  }
  CcDialog dialog(text(kCc), friends_);
  if (ui::backend().runModal(dialog) == CcDialog::kOk) setText(kCc, dialog.ccText());
}

void TextDialog::openText() {
  auto path = ui::backend().openFile(filter(), T("打开"), "");
  if (!path) return;
  const TextFile f = readTextFile(*path, kOpenLimit);
  if (f.error) {
    ui::messageBox(describe(*f.error, *path), caption(), ui::Icon::Stop);
    return;
  }
  setText(kText, f.text);
  promptSelected_ = false;
  recalculate();
}

void TextDialog::saveText() {
  auto path = ui::backend().saveFile(filter(), T("保存"), "");
  if (!path) return;
  std::string target = *path;
  // The default extension: a name without one gets ".txt".
  const std::string name = target.substr(target.rfind('/') + 1);
  if (name.find('.') == std::string::npos) target += ".txt";
  if (auto error = writeTextFile(target, text(kText))) {
    ui::messageBox(describe(*error, target), caption(), ui::Icon::Stop);
  }
}

}  // namespace hv::textport
