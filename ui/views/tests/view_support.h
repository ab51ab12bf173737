#pragma once
// Helpers of the view tests: the application with the suite's views and shipped pictures, and
// finding a dialog's widgets by control id.
#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <functional>

#include "platform/fs.h"
#include "ui/qt/binding.h"
#include "ui/qt/tests/qt_test_app.h"
#include "ui/views/views.h"

namespace hv::ui::qt {

namespace testing {
inline QApplication& viewsApp() {
  static bool once = [] {
    // The banner and the other pictures come from the built installation.
    setenv("HANDVANE_HOME", HV_SUITE_DIR, 1);
    fs::resetSuiteHomeForTesting();
    return true;
  }();
  (void)once;
  QApplication& a = app();
  registerSuiteViews();
  return a;
}
}  // namespace testing

template <class W>
W* child(QWidget* dialog, int id) {
  W* w = dialog->findChild<W*>(QStringLiteral("c%1").arg(id));
  if (!w) ADD_FAILURE() << "no control " << id;
  return w;
}

// The visible view of a dialog of that template, or null.
inline QWidget* findView(int templateId) {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    ControllerBinding* b = bindingOf(w);
    if (b && b->controller().templateId() == templateId && w->isVisible() &&
        !b->controller().ended()) {
      return w;
    }
  }
  return nullptr;
}

// Calls f with the view once a dialog of that template is shown (from within the modal loop).
inline void whenShown(int templateId, std::function<void(QWidget*)> f) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, templateId, f] {
    if (QWidget* w = findView(templateId)) {
      timer->stop();
      timer->deleteLater();
      f(w);
    }
  });
  timer->start(10);
}

}  // namespace hv::ui::qt
