// Shows the friends dialog as the launcher's "好友列表" entry does, for trying it by hand:
//   buddyedit_host [<user id> <password>]
// With an id and a password it signs in silently first; otherwise the dialog's own sign-in runs
// (automatic, or the login dialog). The suite's home is $HANDVANE_HOME or the program's rules.
#include <QApplication>
#include <cstdio>

#include "friends/buddyedit.h"
#include "login/signon.h"
#include "ui/views/views.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  hv::ui::qt::installSuiteUi();
  if (argc == 3) std::printf("sign-in: %d\n", LOGIN_Login(argv[1], argv[2]));
  const int result = FMFriendsListMantance("");
  std::printf("FMFriendsListMantance: %d\n", result);
  return result == 0 ? 0 : 1;
}
