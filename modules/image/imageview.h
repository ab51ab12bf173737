#pragma once
// The Qt view of the image dialog (template CImageDialog::kTemplate).
#include <QWidget>

#include "ui/core/ui.h"

namespace hv::pictport {

// The view of a CImageDialog; null for any other controller.
QWidget* createImageView(ui::DialogController& controller);
// Registers the view with the Qt backend (again is harmless).
void registerImageView();

}  // namespace hv::pictport
