// The friends dialog through Buddyedit. The library (with its tables, dBASE and shapefile layers)
// is loaded the first time the dialog is asked for, not at start-up.
#include <dlfcn.h>

#include <cstdio>
#include <string>

#include "main/background.h"
#include "main/qt/linked.h"
#include "platform/gbk.h"
#include "ui/core/ui.h"

namespace hv::launcher {

std::function<int(const char*)> friendsDialogEntry() {
  return [](const char* user) {
    using Entry = int (*)(const char*);
    static Entry entry = nullptr;  // the GUI thread's; the library stays loaded
    if (!entry) {
      std::string why = "libBuddyedit.so has no FMFriendsListMantance";
      if (void* lib = openProgramLibrary("libBuddyedit.so", &why))
        entry = reinterpret_cast<Entry>(::dlsym(lib, "FMFriendsListMantance"));
      if (!entry) {
        std::fprintf(stderr, "Handvane: the friends list cannot be opened: %s\n", why.c_str());
        ui::messageBox(utf8ToGbk(why).value_or(why), "Handvane", ui::Icon::Stop);
        return -1;
      }
    }
    return entry(user);
  };
}

}  // namespace hv::launcher
