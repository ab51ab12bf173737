// Built while the friends dialog is not part of the build: its entry does nothing.
#include "main/qt/linked.h"

namespace hv::launcher {

std::function<int(const char*)> friendsDialogEntry() {
  return {};
}

}  // namespace hv::launcher
