#pragma once
// The steps of a send that every module dialog shares: signing in on demand, checking the
// recipients, handing the message to the service client and waiting for its result, and the
// result step with the offer to add the recipient to the friends table. The texts shown differ
// per module and are passed in (GBK).
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "include/handvane/export.h"
#include "include/handvane/records.h"

class FriendsTable;

namespace hv::modkit {

// The result of a send that the service client refused to start (nothing was posted).
inline constexpr int kNotSent = -100;

// The signed-in user's id (LOGIN_GetState reports state 2), or nullopt.
HV_EXPORT std::optional<std::string> signedInUser();

struct SignIn {
  bool signedIn = false;     // state 2 now
  bool signedInNow = false;  // this call signed the user in: the dialog loads the user's data again
  std::string userId;
};
// LOGIN_GetState; when nobody is signed in, LOGIN_Login(null, null) (the login dialog, or the
// remembered automatic sign-in) and the state asked again.
HV_EXPORT SignIn signInOnDemand();

// CHandvaneHelper::IsPhoneNumberSupport for every recipient in order: the reasons of the
// refused ones (empty when every recipient is accepted).
HV_EXPORT std::vector<std::string> refusedRecipients(std::string_view sender,
                                                     const std::vector<std::string>& recipients);

// Hands a message to the service client (content in memory, or in a file that must stay until
// this returns) with a SendNotice naming a receiver of the calling thread, message 0x401, the
// progress dialog shown or not and word parameter 0. When the call was taken, waits for the
// result message, running the calling thread's waiting messages (CFunction::DoMessageLoop)
// every 20 ms, so the dialogs of this thread stay live. Returns the posted result (0 delivered)
// or kNotSent when the service client refused the request.
HV_EXPORT int sendContentAndWait(const MessageHeader& header, std::span<const uint8_t> content,
                                 bool showProgress = true);
HV_EXPORT int sendFileAndWait(const MessageHeader& header, const std::string& contentPath,
                              bool showProgress = true);
// The same wait for any request of the service client that posts its result to a SendNotice
// (NET_SendMobileTypeQuerySMS): start is called once with the notice and returns the entry
// point's answer; non-zero means refused (kNotSent, nothing waited for).
HV_EXPORT int startAndWait(const std::function<int(const SendNotice& notice)>& start,
                           bool showProgress = true);

// The texts of a module's result step (GBK). The questions hold one "%s" for the number.
struct ResultTexts {
  std::string caption;       // "文字短消息"
  std::string askSucceeded;  // "发送成功！是否将%s加入好友列表?"
  std::string askFailed;     // "发送失败！是否将%s加入好友列表?"
  std::string succeeded;     // "发送成功！"
  std::string failed;        // "发送失败！"
};

enum class FriendOffer {
  AlreadyFriend,  // the plain outcome was shown
  Declined,       // asked, and the user said no
  Added,          // the friend was added: the dialog reloads its friends
  AddFailed,
};
HV_EXPORT const char* describe(FriendOffer offer);

// The result step for the first recipient. When the number is not in the friends table, asks
// whether to add it (information icon after a success, stop icon after a failure; Yes and No);
// on Yes adds a friend with that number, the phone type given and the number as name (each cut
// to its field with a terminator, the name to 20 bytes), and says "将手机号%s加入到好友列表"
// followed by "失败" or by "成功，你可以通过好友例表进一步修改好友信息". A friend already gets the
// plain outcome.
HV_EXPORT FriendOffer reportResult(FriendsTable* friends, std::string_view recipient, bool success,
                                   const ResultTexts& texts, std::string_view phoneType = {});

// The text with its first "%s" replaced by value (user text is never used as a format).
HV_EXPORT std::string fillIn(std::string_view text, std::string_view value);

}  // namespace hv::modkit
