#pragma once
// What the suite's libraries show the user goes through this interface, never through Qt
// directly: message boxes, file dialogs and dialogs whose logic lives in a DialogController.
// The program installs the Qt backend; tests install the ScriptedBackend, which records what
// would have been shown and answers from a script. All texts are GBK.
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "include/handvane/export.h"

namespace hv::ui {

enum class Icon { None, Stop, Information, Question };
enum class Buttons { Ok, OkCancel, YesNo };
enum class Answer { Ok, Cancel, Yes, No };

// "description|pattern|description|pattern||" as the design writes file filters; patterns may hold
// several globs separated by ";".
struct FileFilter {
  std::string description;
  std::vector<std::string> patterns;
};
HV_EXPORT std::vector<FileFilter> parseFilter(std::string_view filter);

// The standard results of a dialog.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

// The state of one control of a dialog, kept by its id.
struct Control {
  std::string text;
  bool enabled = true;
  bool visible = true;
  int checked = 0;
  std::vector<std::string> items;
  int selection = -1;
};

// Owns a dialog's state and behaviour. Views and tests change controls and then report the event
// (onCommand, onChange); the controller reacts by changing controls or ending the dialog. Control
// state is guarded so that a worker thread may update a modeless dialog (a progress dialog) while
// the view reads it; the view learns of changes through the observer.
class HV_EXPORT DialogController {
 public:
  DialogController(int templateId, std::string title);
  virtual ~DialogController();

  int templateId() const { return templateId_; }
  std::string title() const;
  void setTitle(std::string title);

  // Control access by id; a control is created on first use.
  Control control(int id) const;
  std::string text(int id) const;
  void setText(int id, std::string text);
  bool enabled(int id) const;
  void setEnabled(int id, bool enabled);
  bool visible(int id) const;
  void setVisible(int id, bool visible);
  int checked(int id) const;
  void setChecked(int id, int checked);
  std::vector<std::string> items(int id) const;
  void setItems(int id, std::vector<std::string> items);
  int selection(int id) const;
  void setSelection(int id, int index);
  std::vector<int> controlIds() const;

  // Events. onInit runs when the dialog is shown; onCommand when a button is pressed (or a menu
  // command sent); onChange after the user changed a control's text, check or selection; onClose
  // when the window is closed by its frame (returning false keeps it open).
  virtual void onInit() {}
  virtual void onCommand(int /*id*/) {}
  virtual void onChange(int /*id*/) {}
  virtual bool onClose();

  void endDialog(int result);
  bool ended() const;
  int result() const;

  // The view's hook: called with the control id after any change (-1 for the title, -2 when the
  // dialog ended). May be called from any thread.
  void setObserver(std::function<void(int)> observer);

 protected:
  void notify(int id);

 private:
  const int templateId_;
  mutable std::mutex mutex_;
  std::string title_;
  std::map<int, Control> controls_;
  bool ended_ = false;
  int result_ = 0;
  std::function<void(int)> observer_;
};

class HV_EXPORT Backend {
 public:
  virtual ~Backend() = default;
  virtual Answer messageBox(std::string_view text, std::string_view caption, Icon icon,
                            Buttons buttons) = 0;
  // A chosen path, or nullopt when the user cancelled.
  virtual std::optional<std::string> openFile(std::string_view filter, std::string_view title,
                                              std::string_view initialDirectory) = 0;
  virtual std::optional<std::string> saveFile(std::string_view filter, std::string_view title,
                                              std::string_view suggestedName) = 0;
  // Shows the dialog and waits (running the rest of the program) until it ends; its result.
  virtual int runModal(DialogController& dialog) = 0;
  // Shows the dialog and returns at once; it stays until it ends or close() is called.
  virtual void showModeless(std::shared_ptr<DialogController> dialog) = 0;
  virtual void close(DialogController& dialog) = 0;
  // Runs the task on the user-interface thread (soon, not within this call).
  virtual void schedule(std::function<void()> task) = 0;
};

// The process's backend. Until one is installed, a ScriptedBackend without a script answers
// (which records everything and picks the first button).
HV_EXPORT Backend& backend();
HV_EXPORT void setBackend(std::shared_ptr<Backend> b);
HV_EXPORT std::shared_ptr<Backend> currentBackend();

inline Answer messageBox(std::string_view text, std::string_view caption, Icon icon = Icon::None,
                         Buttons buttons = Buttons::Ok) {
  return backend().messageBox(text, caption, icon, buttons);
}

// For tests: records every message box and answers from a script.
class HV_EXPORT ScriptedBackend : public Backend {
 public:
  struct Box {
    std::string text;  // GBK, as shown
    std::string caption;
    Icon icon;
    Buttons buttons;
    Answer answer;
  };
  using DialogScript = std::function<void(DialogController&)>;

  // Answers for the next message boxes, in order; without one the first button is taken.
  void answer(Answer a);
  // Answers for the next file dialogs; nullopt means cancelled.
  void fileAnswer(std::optional<std::string> path);
  // The script that plays a modal dialog of that template: it sets controls and sends events.
  // When the dialog has not ended after the script, runModal ends it with kIdCancel.
  void onDialog(int templateId, DialogScript script);

  std::vector<Box> boxes() const;
  std::vector<std::string> boxTexts() const;  // UTF-8, for readable assertions
  void clearBoxes();
  std::vector<std::shared_ptr<DialogController>> modeless() const;
  int modalCount(int templateId) const;

  Answer messageBox(std::string_view text, std::string_view caption, Icon icon,
                    Buttons buttons) override;
  std::optional<std::string> openFile(std::string_view filter, std::string_view title,
                                      std::string_view initialDirectory) override;
  std::optional<std::string> saveFile(std::string_view filter, std::string_view title,
                                      std::string_view suggestedName) override;
  int runModal(DialogController& dialog) override;
  void showModeless(std::shared_ptr<DialogController> dialog) override;
  void close(DialogController& dialog) override;
  // Tasks run on the calling thread's message queue (see platform/messages.h).
  void schedule(std::function<void()> task) override;

 private:
  mutable std::mutex mutex_;
  std::vector<Answer> answers_;
  std::vector<std::optional<std::string>> fileAnswers_;
  std::map<int, DialogScript> scripts_;
  std::map<int, int> modalCounts_;
  std::vector<Box> boxes_;
  std::vector<std::shared_ptr<DialogController>> modeless_;
};

}  // namespace hv::ui
