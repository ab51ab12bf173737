#include "ui/core/ui.h"

#include "platform/gbk.h"
#include "platform/messages.h"

namespace hv::ui {

std::vector<FileFilter> parseFilter(std::string_view filter) {
  std::vector<std::string> parts;
  size_t pos = 0;
  while (pos < filter.size()) {
    size_t bar = filter.find('|', pos);
    if (bar == std::string_view::npos) bar = filter.size();
    parts.emplace_back(filter.substr(pos, bar - pos));
    pos = bar + 1;
  }
  std::vector<FileFilter> out;
  for (size_t i = 0; i + 1 < parts.size(); i += 2) {
    if (parts[i].empty() && parts[i + 1].empty()) break;
    FileFilter f{parts[i], {}};
    std::string_view p = parts[i + 1];
    size_t q = 0;
    while (q <= p.size()) {
      size_t semi = p.find(';', q);
      if (semi == std::string_view::npos) semi = p.size();
      if (semi > q) f.patterns.emplace_back(p.substr(q, semi - q));
      q = semi + 1;
    }
    out.push_back(std::move(f));
  }
  return out;
}

// ---- DialogController

DialogController::DialogController(int templateId, std::string title)
    : templateId_(templateId), title_(std::move(title)) {}
DialogController::~DialogController() = default;

std::string DialogController::title() const {
  std::lock_guard lock(mutex_);
  return title_;
}
void DialogController::setTitle(std::string title) {
  {
    std::lock_guard lock(mutex_);
    title_ = std::move(title);
  }
  notify(-1);
}

Control DialogController::control(int id) const {
  std::lock_guard lock(mutex_);
  auto it = controls_.find(id);
  return it == controls_.end() ? Control{} : it->second;
}

#define HV_CONTROL_ACCESSORS(Type, getter, setter, member)               \
  Type DialogController::getter(int id) const {                          \
    std::lock_guard lock(mutex_);                                        \
    auto it = controls_.find(id);                                        \
    return it == controls_.end() ? Control{}.member : it->second.member; \
  }                                                                      \
  void DialogController::setter(int id, Type value) {                    \
    {                                                                    \
      std::lock_guard lock(mutex_);                                      \
      controls_[id].member = std::move(value);                           \
    }                                                                    \
    notify(id);                                                          \
  }
HV_CONTROL_ACCESSORS(std::string, text, setText, text)
HV_CONTROL_ACCESSORS(bool, enabled, setEnabled, enabled)
HV_CONTROL_ACCESSORS(bool, visible, setVisible, visible)
HV_CONTROL_ACCESSORS(int, checked, setChecked, checked)
HV_CONTROL_ACCESSORS(std::vector<std::string>, items, setItems, items)
HV_CONTROL_ACCESSORS(int, selection, setSelection, selection)
#undef HV_CONTROL_ACCESSORS

std::vector<int> DialogController::controlIds() const {
  std::lock_guard lock(mutex_);
  std::vector<int> ids;
  for (const auto& [id, c] : controls_) ids.push_back(id);
  return ids;
}

bool DialogController::onClose() {
  endDialog(kIdCancel);
  return true;
}

void DialogController::endDialog(int result) {
  {
    std::lock_guard lock(mutex_);
    if (ended_) return;
    ended_ = true;
    result_ = result;
  }
  notify(-2);
}

bool DialogController::ended() const {
  std::lock_guard lock(mutex_);
  return ended_;
}
int DialogController::result() const {
  std::lock_guard lock(mutex_);
  return result_;
}

void DialogController::setObserver(std::function<void(int)> observer) {
  std::lock_guard lock(mutex_);
  observer_ = std::move(observer);
}

void DialogController::notify(int id) {
  std::function<void(int)> o;
  {
    std::lock_guard lock(mutex_);
    o = observer_;
  }
  if (o) o(id);
}

// ---- the process's backend

namespace {
std::mutex backendMutex;
std::shared_ptr<Backend>& slot() {
  static auto* b = new std::shared_ptr<Backend>(std::make_shared<ScriptedBackend>());
  return *b;
}
}  // namespace

Backend& backend() {
  std::lock_guard lock(backendMutex);
  return *slot();
}
std::shared_ptr<Backend> currentBackend() {
  std::lock_guard lock(backendMutex);
  return slot();
}
void setBackend(std::shared_ptr<Backend> b) {
  std::lock_guard lock(backendMutex);
  slot() = b ? std::move(b) : std::make_shared<ScriptedBackend>();
}

// ---- ScriptedBackend

void ScriptedBackend::answer(Answer a) {
  std::lock_guard lock(mutex_);
  answers_.push_back(a);
}
void ScriptedBackend::fileAnswer(std::optional<std::string> path) {
  std::lock_guard lock(mutex_);
  fileAnswers_.push_back(std::move(path));
}
void ScriptedBackend::onDialog(int templateId, DialogScript script) {
  std::lock_guard lock(mutex_);
  scripts_[templateId] = std::move(script);
}

std::vector<ScriptedBackend::Box> ScriptedBackend::boxes() const {
  std::lock_guard lock(mutex_);
  return boxes_;
}
std::vector<std::string> ScriptedBackend::boxTexts() const {
  std::vector<std::string> out;
  for (const auto& b : boxes()) out.push_back(gbkToUtf8Escaped(b.text));
  return out;
}
void ScriptedBackend::clearBoxes() {
  std::lock_guard lock(mutex_);
  boxes_.clear();
}
std::vector<std::shared_ptr<DialogController>> ScriptedBackend::modeless() const {
  std::lock_guard lock(mutex_);
  return modeless_;
}
int ScriptedBackend::modalCount(int templateId) const {
  std::lock_guard lock(mutex_);
  auto it = modalCounts_.find(templateId);
  return it == modalCounts_.end() ? 0 : it->second;
}

Answer ScriptedBackend::messageBox(std::string_view text, std::string_view caption, Icon icon,
                                   Buttons buttons) {
  std::lock_guard lock(mutex_);
  Answer a = buttons == Buttons::YesNo ? Answer::Yes : Answer::Ok;
  if (!answers_.empty()) {
    a = answers_.front();
    answers_.erase(answers_.begin());
  }
  boxes_.push_back(Box{std::string(text), std::string(caption), icon, buttons, a});
  return a;
}

std::optional<std::string> ScriptedBackend::openFile(std::string_view, std::string_view,
                                                     std::string_view) {
  std::lock_guard lock(mutex_);
  if (fileAnswers_.empty()) return std::nullopt;
  auto a = fileAnswers_.front();
  fileAnswers_.erase(fileAnswers_.begin());
  return a;
}
std::optional<std::string> ScriptedBackend::saveFile(std::string_view filter,
                                                     std::string_view title, std::string_view) {
  return openFile(filter, title, {});
}

int ScriptedBackend::runModal(DialogController& dialog) {
  DialogScript script;
  {
    std::lock_guard lock(mutex_);
    ++modalCounts_[dialog.templateId()];
    auto it = scripts_.find(dialog.templateId());
    if (it != scripts_.end()) script = it->second;
  }
  dialog.onInit();
  if (script && !dialog.ended()) script(dialog);
  if (!dialog.ended()) dialog.endDialog(kIdCancel);
  return dialog.result();
}

void ScriptedBackend::showModeless(std::shared_ptr<DialogController> dialog) {
  {
    std::lock_guard lock(mutex_);
    modeless_.push_back(dialog);
  }
  dialog->onInit();
}

void ScriptedBackend::close(DialogController& dialog) {
  if (!dialog.ended()) dialog.endDialog(kIdCancel);
}

void ScriptedBackend::schedule(std::function<void()> task) {
  auto t = std::make_shared<std::function<void()>>(std::move(task));
  currentExecutor()->post([t] { (*t)(); });
}

}  // namespace hv::ui
