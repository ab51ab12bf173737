#include "modules/kit/headerstart.h"

#include "modules/kit/starter.h"

namespace hv::modkit {

void startModuleOfButton(CDialogHeader::Button button) {
  switch (button) {
    case CDialogHeader::Button::Text:
      startModuleOrTell(ModuleType::Text);
      break;
    case CDialogHeader::Button::Image:
      startModuleOrTell(ModuleType::Image);
      break;
    case CDialogHeader::Button::Flash:
      startModuleOrTell(ModuleType::Flash);
      break;
    case CDialogHeader::Button::Music:
      startModuleOrTell(ModuleType::Music);
      break;
    default:
      break;
  }
}

}  // namespace hv::modkit
