// The friends dialog through Buddyedit.
#include "friends/buddyedit.h"
#include "main/qt/linked.h"

namespace hv::launcher {

std::function<int(const char*)> friendsDialogEntry() {
  return [](const char* user) { return FMFriendsListMantance(user); };
}

}  // namespace hv::launcher
