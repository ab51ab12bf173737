#pragma once
// The Qt views of the suite's dialogs that libraries below the modules show: the login dialog
// (template 9000) and the send progress dialog (template 5000). Each binds to its controller by
// control id only.
#include <QWidget>

#include "include/handvane/export.h"
#include "ui/core/ui.h"

namespace hv::ui::qt {

inline constexpr int kLoginTemplate = 9000;
inline constexpr int kProgressTemplate = 5000;

HV_EXPORT QWidget* createLoginView(DialogController& controller);
HV_EXPORT QWidget* createProgressView(DialogController& controller);

// Registers the views above with the Qt backend.
HV_EXPORT void registerSuiteViews();
// install() (qtbackend.h) and registerSuiteViews(): what a program calls once after creating its
// QApplication. False when the Chinese translations are missing.
HV_EXPORT bool installSuiteUi();

}  // namespace hv::ui::qt
