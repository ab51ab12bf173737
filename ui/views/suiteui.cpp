#include "ui/qt/qtbackend.h"
#include "ui/views/views.h"

namespace hv::ui::qt {

bool installSuiteUi() {
  registerSuiteViews();
  return install();
}

}  // namespace hv::ui::qt
