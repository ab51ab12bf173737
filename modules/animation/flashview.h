#pragma once
// The Qt view of the animation dialog (template CFlashDialog::kTemplate).
#include <QWidget>
#include <functional>
#include <memory>

#include "modules/animation/player.h"
#include "ui/core/ui.h"

namespace hv::flickport {

// Where the view's clocks come from: the movie's frame clock, the 20 ms position timer and the
// clock of a result's playback. By default Qt timers; tests hand in clocks they tick by hand.
using TickFactory = std::function<std::unique_ptr<TickSource>(QObject* parent)>;
void setViewTicks(TickFactory factory);

// The view of a CFlashDialog; null for any other controller.
QWidget* createFlashView(ui::DialogController& controller);
// Registers the view with the Qt backend (again is harmless).
void registerFlashView();

}  // namespace hv::flickport
