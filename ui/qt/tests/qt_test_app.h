#pragma once
// The QApplication of a Qt test program, created on first use on the offscreen platform (the
// tests never need a display), with the suite's Qt backend installed.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <cstdlib>

#include "ui/qt/qtbackend.h"

namespace hv::ui::qt::testing {

inline QApplication& app() {
  static QApplication* instance = [] {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "hv-qt-test";
    static char* argv[] = {name, nullptr};
    auto* a = new QApplication(argc, argv);
    install();
    return a;
  }();
  return *instance;
}

// Every test of a program that includes this gets the application, whichever test runs alone.
class AppEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { app(); }
};
inline const bool kAppEnvironment = (::testing::AddGlobalTestEnvironment(new AppEnvironment), true);

// Runs the event loop until pred holds or the time is up; whether it held. The default bound is
// far above what any step takes, so that a loaded machine cannot fail a test by being slow.
template <class Pred>
bool waitFor(Pred pred, int timeoutMs = 30000) {
  app();
  QElapsedTimer t;
  t.start();
  while (!pred()) {
    if (t.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

}  // namespace hv::ui::qt::testing
