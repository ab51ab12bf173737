#pragma once
// What a module dialog's header does with its buttons for the other modules.
#include "include/handvane/export.h"
#include "ui/UI/header.h"

namespace hv::modkit {

// Starts the module of a header's text, image, animation or music button through the main
// program (startModuleOrTell); the other buttons start nothing. A SetModuleHandler target.
HV_EXPORT void startModuleOfButton(CDialogHeader::Button button);

}  // namespace hv::modkit
