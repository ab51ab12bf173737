#include "ui/qt/binding.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QWidget>
#include <optional>

#include "ui/qt/qtbackend.h"
#include "ui/qt/qtext.h"

namespace hv::ui::qt {

namespace {
constexpr int kTitle = -1;
constexpr int kEnded = -2;

std::pair<int, int> progressRange(const Control& c) {
  if (c.items.size() == 2) {
    try {
      return {std::stoi(c.items[0]), std::stoi(c.items[1])};
    } catch (const std::exception&) {
    }
  }
  return {0, 100};
}

QStringList toQList(const std::vector<std::string>& items) {
  QStringList out;
  for (const auto& i : items) out << toQ(i);
  return out;
}
}  // namespace

ControllerBinding::ControllerBinding(DialogController& controller, QWidget* dialog)
    : QObject(dialog), controller_(controller), dialog_(dialog), guard_(std::make_shared<Guard>()) {
  setObjectName(QStringLiteral("hv-controller-binding"));
  guard_->binding = this;
  dialog->installEventFilter(this);
  // The controller may report from any thread; the widgets are touched only on the GUI thread.
  // The guard lets a late report from a worker find out that the view is gone.
  std::weak_ptr<Guard> weak = guard_;
  controller_.setObserver([weak](int id) {
    auto g = weak.lock();
    if (!g) return;
    std::lock_guard lock(g->mutex);  // recursive: a refresh may lead to another report
    if (!g->binding) return;
    if (onGuiThread()) {
      g->binding->refresh(id);
    } else {
      ControllerBinding* b = g->binding;
      QMetaObject::invokeMethod(
          b, [b, id] { b->refresh(id); }, Qt::QueuedConnection);
    }
  });
}

ControllerBinding::~ControllerBinding() {
  {
    std::lock_guard lock(guard_->mutex);
    guard_->binding = nullptr;
  }
  controller_.setObserver(nullptr);
}

void ControllerBinding::bind(int id, QWidget* widget) {
  widgets_[id] = widget;
  connectWidget(id, widget);
}

QWidget* ControllerBinding::widget(int id) const {
  auto it = widgets_.find(id);
  return it == widgets_.end() ? nullptr : it->second.data();
}

void ControllerBinding::connectWidget(int id, QWidget* w) {
  if (auto* edit = qobject_cast<QLineEdit*>(w)) {
    connect(edit, &QLineEdit::textEdited, this, [this, id] { userChanged(id); });
  } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
    connect(combo, &QComboBox::activated, this, [this, id] { userChanged(id); });
    // Any change of the edit part that the binding did not make is the user's (the combo box may
    // become editable after it was bound).
    connect(combo, &QComboBox::editTextChanged, this, [this, id] { userChanged(id); });
  } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
    connect(button, &QAbstractButton::clicked, this, [this, id] { userCommand(id); });
  } else if (auto* text = qobject_cast<QPlainTextEdit*>(w)) {
    connect(text, &QPlainTextEdit::textChanged, this, [this, id] { userChanged(id); });
  } else if (auto* list = qobject_cast<QListWidget*>(w)) {
    connect(list, &QListWidget::currentRowChanged, this, [this, id] { userChanged(id); });
  } else if (auto* slider = qobject_cast<QAbstractSlider*>(w)) {
    connect(slider, &QAbstractSlider::valueChanged, this, [this, id] { userChanged(id); });
  }
}

void ControllerBinding::pushTemplateState(int id, QWidget* w) {
  // The controller's own state wins: only controls it never set take the template's. The whole
  // state is read before any of it is written, as each write is reported back.
  const auto ids = controller_.controlIds();
  if (std::find(ids.begin(), ids.end(), id) != ids.end()) return;
  QString text;
  std::optional<int> checked;
  if (auto* label = qobject_cast<QLabel*>(w)) text = label->text();
  if (auto* button = qobject_cast<QAbstractButton*>(w)) {
    text = button->text();
    if (button->isCheckable()) checked = button->isChecked() ? 1 : 0;
  }
  if (auto* edit = qobject_cast<QLineEdit*>(w)) text = edit->text();
  const bool enabled = w->isEnabledTo(dialog_);
  const bool visible = !w->isHidden();
  controller_.setEnabled(id, enabled);
  controller_.setVisible(id, visible);
  if (checked) controller_.setChecked(id, *checked);
  if (!text.isEmpty()) controller_.setText(id, fromQ(text));
}

void ControllerBinding::start(bool runInit) {
  if (started_) return;
  if (dialog_) {
    dialog_->setWindowTitle(toQ(controller_.title()));
  }
  for (const auto& [id, w] : widgets_) {
    if (w) pushTemplateState(id, w);
  }
  started_ = true;
  if (runInit) controller_.onInit();
  refreshAll();
}

void ControllerBinding::refreshAll() {
  for (const auto& [id, w] : widgets_) refresh(id);
  refresh(kTitle);
  if (controller_.ended()) refresh(kEnded);
}

void ControllerBinding::refresh(int id) {
  if (!started_) return;  // start() shows everything at once
  if (id == kEnded) {
    if (!endedSignalled_) {
      endedSignalled_ = true;
      Q_EMIT dialogEnded(controller_.result());
    }
    return;
  }
  if (id == kTitle) {
    if (dialog_) dialog_->setWindowTitle(toQ(controller_.title()));
  } else {
    QWidget* w = widget(id);
    if (!w) return;
    applyControl(id, w);
  }
  if (afterRefresh) afterRefresh(id);
}

void ControllerBinding::applyControl(int id, QWidget* w) {
  const Control c = controller_.control(id);
  const bool wasUpdating = updating_;
  updating_ = true;
  const QString text = toQ(c.text);
  if (auto* label = qobject_cast<QLabel*>(w)) {
    if (label->pixmap().isNull() && label->text() != text) label->setText(text);
  } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
    if (edit->text() != text) edit->setText(text);
  } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
    QStringList items = toQList(c.items);
    QStringList shown;
    for (int i = 0; i < combo->count(); ++i) shown << combo->itemText(i);
    if (shown != items) {
      combo->clear();
      combo->addItems(items);
    }
    if (combo->currentIndex() != c.selection && c.selection < combo->count()) {
      combo->setCurrentIndex(c.selection);
    }
    if (combo->isEditable() && combo->currentText() != text) combo->setEditText(text);
  } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
    if (!text.isEmpty() && button->text() != text) button->setText(text);
    if (button->isCheckable() && button->isChecked() != (c.checked != 0)) {
      button->setChecked(c.checked != 0);
    }
  } else if (auto* bar = qobject_cast<QProgressBar*>(w)) {
    auto [low, high] = progressRange(c);
    if (bar->minimum() != low || bar->maximum() != high) bar->setRange(low, high);
    bar->setValue(std::clamp(c.selection, low, high));
  } else if (auto* plain = qobject_cast<QPlainTextEdit*>(w)) {
    if (plain->toPlainText() != text) plain->setPlainText(text);
  } else if (auto* list = qobject_cast<QListWidget*>(w)) {
    QStringList items = toQList(c.items);
    QStringList shown;
    for (int i = 0; i < list->count(); ++i) shown << list->item(i)->text();
    if (shown != items) {
      list->clear();
      list->addItems(items);
    }
    if (list->currentRow() != c.selection) list->setCurrentRow(c.selection);
  } else if (auto* slider = qobject_cast<QAbstractSlider*>(w)) {
    if (c.items.size() == 2) {
      auto [low, high] = progressRange(c);
      if (slider->minimum() != low || slider->maximum() != high) slider->setRange(low, high);
    }
    if (slider->value() != c.selection) slider->setValue(c.selection);
  }
  if (w->isEnabled() != c.enabled) w->setEnabled(c.enabled);
  if (w->isHidden() == c.visible) w->setVisible(c.visible);
  updating_ = wasUpdating;
}

void ControllerBinding::userChanged(int id) {
  if (updating_ || !started_) return;
  QWidget* w = widget(id);
  if (auto* edit = qobject_cast<QLineEdit*>(w)) {
    controller_.setText(id, fromQ(edit->text()));
  } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
    // An editable box: the text first, so that showing the selection finds the new text in
    // place. A drop-down list: the selection first, or showing the new text would put the old
    // selection back before the new one is stored.
    const int index = combo->currentIndex();
    const std::string text = fromQ(combo->currentText());
    if (combo->isEditable()) {
      controller_.setText(id, text);
      controller_.setSelection(id, index);
    } else {
      controller_.setSelection(id, index);
      controller_.setText(id, text);
    }
  } else if (auto* plain = qobject_cast<QPlainTextEdit*>(w)) {
    controller_.setText(id, fromQ(plain->toPlainText()));
  } else if (auto* list = qobject_cast<QListWidget*>(w)) {
    controller_.setSelection(id, list->currentRow());
  } else if (auto* slider = qobject_cast<QAbstractSlider*>(w)) {
    controller_.setSelection(id, slider->value());
  }
  controller_.onChange(id);
}

void ControllerBinding::userCommand(int id) {
  if (updating_ || !started_) return;
  if (auto* button = qobject_cast<QAbstractButton*>(widget(id)); button && button->isCheckable()) {
    controller_.setChecked(id, button->isChecked() ? 1 : 0);
  }
  if (beforeCommand && beforeCommand(id)) return;
  controller_.onCommand(id);
}

bool ControllerBinding::eventFilter(QObject* watched, QEvent* event) {
  if (watched == dialog_ && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    // Escape closes as the frame's button does, so that the controller hears of it.
    dialog_->close();
    return true;
  }
  if (watched == dialog_ && event->type() == QEvent::Close && started_ && !controller_.ended()) {
    // The frame's close button: the controller decides (and normally ends the dialog).
    if (!controller_.onClose()) {
      event->ignore();
      return true;
    }
    // A window that goes away has ended, whatever the controller made of it.
    if (!controller_.ended()) controller_.endDialog(kIdCancel);
  }
  return QObject::eventFilter(watched, event);
}

ControllerBinding* bindingOf(QWidget* view) {
  if (!view) return nullptr;
  return view->findChild<ControllerBinding*>(QStringLiteral("hv-controller-binding"),
                                             Qt::FindDirectChildrenOnly);
}

}  // namespace hv::ui::qt
