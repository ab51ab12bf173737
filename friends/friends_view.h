#pragma once
// The Qt view of the friends dialog (friends/friends_dialog.h): the header picture, the list of
// friends with its two columns, the form and the six buttons, bound to the controller by control
// id.
#include <QWidget>

#include "include/handvane/export.h"
#include "ui/core/ui.h"

namespace hv::friends {

HV_EXPORT QWidget* createFriendsView(ui::DialogController& controller);
// Registers the view with the Qt backend (again is harmless).
HV_EXPORT void registerFriendsView();

}  // namespace hv::friends
