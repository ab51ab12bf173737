#pragma once
// The Qt side of the friends dialog's tests: the offscreen application with the suite's views and
// this dialog's view registered, and finding the shown dialog and its controls.
#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>
#include <functional>

#include "friends/friends_dialog.h"
#include "friends/friends_view.h"
#include "ui/qt/binding.h"
#include "ui/qt/tests/qt_test_app.h"
#include "ui/views/views.h"

namespace hv::friends::testing {

inline QApplication& friendsApp() {
  QApplication& a = ui::qt::testing::app();
  ui::qt::registerSuiteViews();
  registerFriendsView();
  return a;
}

template <class W>
W* control(QWidget* dialog, int id) {
  W* w = dialog->findChild<W*>(QStringLiteral("c%1").arg(id));
  if (!w) ADD_FAILURE() << "no control " << id;
  return w;
}

// Replaces the edit's text as typing over a selection does.
inline void typeInto(QLineEdit* e, const QString& text) {
  e->setFocus();
  e->selectAll();
  e->insert(text);
}

// The visible, running dialog of that template, or null.
inline QWidget* shownDialog(int templateId) {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    ui::qt::ControllerBinding* b = ui::qt::bindingOf(w);
    if (b && b->controller().templateId() == templateId && w->isVisible() &&
        !b->controller().ended())
      return w;
  }
  return nullptr;
}

// Calls f with the dialog once it is shown (from within its modal loop).
inline void onceShown(int templateId, std::function<void(QWidget*)> f) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, templateId, f] {
    if (QWidget* w = shownDialog(templateId)) {
      timer->stop();
      timer->deleteLater();
      f(w);
    }
  });
  timer->start(10);
}

// Answers the next message box that shows with that button; its text lands in *text.
inline void answerNextBox(QMessageBox::StandardButton button, QString* text = nullptr) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, button, text] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(w);
      if (!box || !box->isVisible()) continue;
      timer->stop();
      timer->deleteLater();
      if (text) *text = box->text();
      QAbstractButton* b = box->button(button);
      (b ? b : box->buttons().front())->click();
      return;
    }
  });
  timer->start(10);
}

}  // namespace hv::friends::testing
