#include "modules/kit/sending.h"

#include <chrono>
#include <thread>

#include "login/signon.h"
#include "platform/gbk.h"
#include "platform/messages.h"
#include "service/svclink.h"
#include "tables/friends/buddystore.h"
#include "ui/UI/helper.h"
#include "ui/core/ui.h"
#include "utils/function.h"

namespace hv::modkit {

namespace {

constexpr auto kWaitSlice = std::chrono::milliseconds(20);
constexpr int32_t kSignedIn = int32_t(LoginStateCode::SignedIn);

// One send's result receiver, on the calling thread.
class ResultWait {
 public:
  ResultWait()
      : window_([this](const WindowMessage& m) {
          if (m.message != kSendCompleteMessage || done_) return;
          result_ = int(m.lparam);
          done_ = true;
        }) {}

  SendNotice notice(bool showProgress) const {
    return SendNotice{window_.id(), kSendCompleteMessage, showProgress ? 1u : 0u, 0};
  }
  // The service client posts exactly one result for a send it took (a send whose thread or
  // dialog cannot be set up posts -1), so this wait ends.
  int wait() {
    while (!done_) {
      CFunction::DoMessageLoop(window_.id());
      if (!done_) std::this_thread::sleep_for(kWaitSlice);
    }
    return result_;
  }

 private:
  MessageWindow window_;
  bool done_ = false;
  int result_ = kNotSent;
};

}  // namespace

std::optional<std::string> signedInUser() {
  LoginState s{};
  if (LOGIN_GetState(&s) != kSignedIn) return std::nullopt;
  return fieldText(s.userId);
}

SignIn signInOnDemand() {
  SignIn r;
  if (auto user = signedInUser()) {
    r.signedIn = true;
    r.userId = *user;
    return r;
  }
  if (LOGIN_Login(nullptr, nullptr) != kSignedIn) return r;
  if (auto user = signedInUser()) {
    r.signedIn = r.signedInNow = true;
    r.userId = *user;
  }
  return r;
}

std::vector<std::string> refusedRecipients(std::string_view sender,
                                           const std::vector<std::string>& recipients) {
  std::vector<std::string> reasons;
  for (const std::string& number : recipients) {
    std::string reason;
    if (CHandvaneHelper::IsPhoneNumberSupport(sender, number, reason) == 0) {
      reasons.push_back(std::move(reason));
    }
  }
  return reasons;
}

int startAndWait(const std::function<int(const SendNotice& notice)>& start, bool showProgress) {
  ResultWait wait;
  if (start(wait.notice(showProgress)) != 0) return kNotSent;
  return wait.wait();
}

int sendContentAndWait(const MessageHeader& header, std::span<const uint8_t> content,
                       bool showProgress) {
  return startAndWait(
      [&](const SendNotice& n) {
        return NET_SendMessageContent(&n, header.data(), content.data(), int32_t(content.size()));
      },
      showProgress);
}

int sendFileAndWait(const MessageHeader& header, const std::string& contentPath,
                    bool showProgress) {
  return startAndWait(
      [&](const SendNotice& n) { return NET_SendMessage(&n, header.data(), contentPath.c_str()); },
      showProgress);
}

const char* describe(FriendOffer offer) {
  switch (offer) {
    case FriendOffer::AlreadyFriend:
      return "the recipient is a friend already";
    case FriendOffer::Declined:
      return "the user declined to add the recipient";
    case FriendOffer::Added:
      return "the recipient was added to the friends";
    case FriendOffer::AddFailed:
      return "the recipient could not be added to the friends";
  }
  return "unknown outcome";
}

std::string fillIn(std::string_view text, std::string_view value) {
  std::string out(text);
  if (auto at = out.find("%s"); at != std::string::npos) out.replace(at, 2, value);
  return out;
}

FriendOffer reportResult(FriendsTable* friends, std::string_view recipient, bool success,
                         const ResultTexts& texts, std::string_view phoneType) {
  const std::string number(recipient);
  FriendRecord existing{};
  if (FLGetInfoWithPhone(friends, number.c_str(), &existing) == 0) {
    ui::messageBox(success ? texts.succeeded : texts.failed, texts.caption,
                   success ? ui::Icon::Information : ui::Icon::Stop);
    return FriendOffer::AlreadyFriend;
  }
  const ui::Answer a =
      ui::messageBox(fillIn(success ? texts.askSucceeded : texts.askFailed, number), texts.caption,
                     success ? ui::Icon::Information : ui::Icon::Stop, ui::Buttons::YesNo);
  if (a != ui::Answer::Yes) return FriendOffer::Declined;

  FriendRecord added{};
  // Each text keeps its terminator; the name takes at most 20 bytes of its field.
  copyField(added.mobilenum, number);
  copyField(added.mobiletype, phoneType);
  copyField(added.name, 21, number);
  const bool ok = FLAddInfo(friends, &added) >= 0;
  ui::messageBox(fillIn(T("将手机号%s加入到好友列表"), number) +
                     (ok ? T("成功，你可以通过好友例表进一步修改好友信息") : T("失败")),
                 texts.caption);
  return ok ? FriendOffer::Added : FriendOffer::AddFailed;
}

}  // namespace hv::modkit
