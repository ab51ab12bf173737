#pragma once
// Binds the widgets of a dialog to a DialogController by control id, both ways:
// - the controller's state (text, enabled, visible, checked, items, selection) is shown in the
//   widget whenever the controller reports a change, from whatever thread it was made on;
// - what the user does becomes controller events: typing and picking update the control and call
//   onChange; buttons call onCommand (check boxes and radio buttons store their new check state
//   first); closing the window asks onClose.
// A widget keeps its template state (its label, hidden or disabled) until the controller sets that
// control: at start the template state of every bound control the controller has not touched is
// copied into the controller, as a dialog template initialises its controls.
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "include/handvane/export.h"
#include "ui/core/ui.h"
class QEvent;

namespace hv::ui::qt {

class HV_EXPORT ControllerBinding : public QObject {
  Q_OBJECT
 public:
  // The binding becomes a child of dialog, the dialog's top-level widget.
  ControllerBinding(DialogController& controller, QWidget* dialog);
  ~ControllerBinding() override;

  DialogController& controller() const { return controller_; }
  QWidget* dialog() const { return dialog_; }

  // Binds a QLabel, QLineEdit, QPlainTextEdit, QComboBox, QListWidget, QAbstractButton,
  // QProgressBar or QAbstractSlider (other widgets get enabled and visible only). Lists show the
  // control's items and selection; sliders and progress bars show the selection as their
  // position, in the range given by the control's items {"low", "high"} (0..100 when not set).
  void bind(int id, QWidget* widget);
  QWidget* widget(int id) const;

  // Called after the widget of id was refreshed from the controller (id -1: the title); views
  // hook their own behaviour in here.
  std::function<void(int id)> afterRefresh;
  // Called before the user's button press reaches onCommand; returning true handles it fully.
  std::function<bool(int id)> beforeCommand;

  // Copies the template state in, runs onInit (unless it ran already, see QtBackend::showModeless)
  // and shows the controller's state.
  void start(bool runInit = true);
  bool started() const { return started_; }
  // Shows the controller's state of every bound control.
  void refreshAll();

  // Keeps a modeless dialog's controller alive as long as the view.
  void keepAlive(std::shared_ptr<DialogController> controller) { owned_ = std::move(controller); }

 Q_SIGNALS:
  // The controller ended the dialog.
  void dialogEnded(int result);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Guard {
    std::recursive_mutex mutex;
    ControllerBinding* binding;
  };
  void refresh(int id);
  void applyControl(int id, QWidget* w);
  void pushTemplateState(int id, QWidget* w);
  void connectWidget(int id, QWidget* w);
  void userChanged(int id);
  void userCommand(int id);

  DialogController& controller_;
  QPointer<QWidget> dialog_;
  std::shared_ptr<DialogController> owned_;
  std::shared_ptr<Guard> guard_;
  std::map<int, QPointer<QWidget>> widgets_;
  bool started_ = false;
  bool updating_ = false;  // set while the controller's state is being shown
  bool endedSignalled_ = false;
};

// The binding of a view's top-level widget, or null.
HV_EXPORT ControllerBinding* bindingOf(QWidget* view);

}  // namespace hv::ui::qt
