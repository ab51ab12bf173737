#pragma once
// The Qt view of the music dialog (template 16100), bound to its controller by control id;
// widgets are named "c<id>".
#include <QWidget>

#include "ui/core/ui.h"

namespace hv::ringport {

// Registers the view with the Qt backend (safe from any thread, and more than once).
void registerViews();
QWidget* createMusicView(ui::DialogController& controller);

// The header picture, below the suite's home.
inline constexpr char kHeaderPicture[] = "DATA/Lumo音.jpg";

}  // namespace hv::ringport
