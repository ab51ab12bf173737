#pragma once
// The Qt backend of the user-interface interface (ui/core/ui.h).
//
// Every widget lives on the GUI thread. The backend's calls may come from any thread: a call from
// another thread is carried out on the GUI thread and waits for it there, so a send thread can
// show its progress dialog while the GUI thread keeps running. Modal waits (message boxes, file
// dialogs, runModal) run a nested event loop, so other dialogs stay live meanwhile.
//
// Dialogs are shown through views: a view factory registered for the dialog's template id builds
// the widgets and binds them to the controller (see binding.h); a template without a factory gets
// a plain generated form of its controls.
#include <QWidget>
#include <functional>
#include <memory>

#include "include/handvane/export.h"
#include "ui/core/ui.h"

class QApplication;

namespace hv::ui::qt {

// Builds the top-level widget of a dialog. The widget must hold a ControllerBinding (binding.h)
// for the controller; the backend starts it, shows the widget and deletes it when the dialog ends.
using ViewFactory = std::function<QWidget*(DialogController& controller)>;

HV_EXPORT void registerView(int templateId, ViewFactory factory);
HV_EXPORT bool hasView(int templateId);
// The view for the controller's template (or the generated form), not yet started or shown.
HV_EXPORT QWidget* createView(DialogController& controller);

class HV_EXPORT QtBackend : public Backend {
 public:
  Answer messageBox(std::string_view text, std::string_view caption, Icon icon,
                    Buttons buttons) override;
  std::optional<std::string> openFile(std::string_view filter, std::string_view title,
                                      std::string_view initialDirectory) override;
  std::optional<std::string> saveFile(std::string_view filter, std::string_view title,
                                      std::string_view suggestedName) override;
  int runModal(DialogController& dialog) override;
  void showModeless(std::shared_ptr<DialogController> dialog) override;
  void close(DialogController& dialog) override;
  void schedule(std::function<void()> task) override;
};

// The Qt name filter list for a "description|pattern|" filter: "图片 (*.jpg *.bmp)" entries.
HV_EXPORT QStringList nameFilters(std::string_view filter);

// Prepares the running QApplication for the suite and installs the Qt backend: loads the Qt
// translations of the Chinese locale (standard buttons read 确定, 取消, 是, 否), picks a Chinese
// font when one is installed, installs the GUI-thread executor on the GUI thread (so that
// PostMessage to a receiver registered there arrives through the Qt event loop) and makes the
// QtBackend the process's backend. Call on the GUI thread after the QApplication exists.
// Returns false when the Chinese translations could not be loaded (everything else is done).
HV_EXPORT bool install();

// Whether the calling thread is the GUI thread.
HV_EXPORT bool onGuiThread();

// Runs f on the GUI thread and waits for its result (directly when already there).
HV_EXPORT void runOnGui(const std::function<void()>& f);

}  // namespace hv::ui::qt
