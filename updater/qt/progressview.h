#pragma once
// The Qt view of Patchrun's progress dialog.
#include <QWidget>

#include "ui/core/ui.h"

namespace hv::patchrun {

QWidget* createProgressView(ui::DialogController& controller);
// Registers the view with the Qt backend.
void registerProgressView();

}  // namespace hv::patchrun
