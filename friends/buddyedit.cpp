#include "friends/buddyedit.h"

#include <QCoreApplication>

#include "friends/friends_dialog.h"
#include "friends/friends_view.h"
#include "include/handvane/records.h"
#include "login/signon.h"
#include "platform/gbk.h"
#include "ui/UI/helper.h"
#include "ui/core/ui.h"

int FMFriendsListMantance(const char* user) {
  using hv::friends::FriendsDialog;
  constexpr int kSignedIn = int(hv::LoginStateCode::SignedIn);
  hv::LoginState state{};
  if (LOGIN_GetState(&state) != kSignedIn) {
    if (LOGIN_Login(user, nullptr) != kSignedIn || LOGIN_GetState(&state) != kSignedIn) {
      hv::ui::messageBox(hv::T("未能成功登录，你无法使用好友信息。"),
                         hv::T(FriendsDialog::kCaption), hv::ui::Icon::Stop);
      return -1;
    }
  }
  const std::string userId = hv::fieldText(state.userId);
  if (userId.empty()) return -1;
  if (QCoreApplication::instance()) hv::friends::registerFriendsView();
  FriendsDialog dialog(userId, &CHandvaneHelper::IsPhoneNumberSupport);
  hv::ui::backend().runModal(dialog);
  return dialog.shown() ? 0 : -1;
}
