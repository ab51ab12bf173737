#pragma once
// The views of the About box (template 100) and the contact box (template 141): the program
// picture "DATA/登录.jpg" above the box's text and a "确定" button.
#include <QWidget>

#include "ui/core/ui.h"

namespace hv::launcher {

QWidget* createInfoBoxView(ui::DialogController& controller);
// Registers both views with the Qt backend.
void registerBoxViews();

}  // namespace hv::launcher
