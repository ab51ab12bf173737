#pragma once
// The Qt side's fixture: a home holding the shipped skins and pictures, with the recording test
// module installed as the text module (libTextport.so), and a launcher window on it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <memory>

#include "main/qt/boxes.h"
#include "main/qt/window.h"
#include "main/tests/launcher_fixture.h"
#include "platform/profile.h"
#include "ui/views/views.h"

namespace hv::launcher::testing {

inline void copyTree(const std::string& from, const std::string& to) {
  fs::makeDirectories(to);
  for (const auto& name : fs::list(from)) {
    if (fs::isDirectory(from + "/" + name)) {
      copyTree(from + "/" + name, to + "/" + name);
    } else {
      fs::copyFile(from + "/" + name, to + "/" + name, true);
    }
  }
}

template <class Pred>
bool waitUntil(Pred pred, int timeoutMs = 5000) {
  QElapsedTimer t;
  t.start();
  while (!pred()) {
    if (t.elapsed() > timeoutMs) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

class ShippedHome : public HomeFixture {
 protected:
  void SetUp() override {
    HomeFixture::SetUp();
    copyTree(std::string(HV_SOURCE_DIR) + "/shipped/SKIN", home_ + "/SKIN");
    copyTree(std::string(HV_SOURCE_DIR) + "/shipped/DATA", home_ + "/DATA");
    ASSERT_TRUE(fs::copyFile(home_ + "/libTestport.so", home_ + "/libTextport.so", true));
  }
  void TearDown() override {
    window_.reset();
    HomeFixture::TearDown();
  }
  MainWindow& open(const std::string& skin, LauncherServices services = {}) {
    profile::writeString(skins_ + "skincfg.dat", "ALL", "skin", skin);
    services.friendsDialog = [this](const char*) {
      ++friendsOpened_;
      return 0;
    };
    window_ = std::make_unique<MainWindow>(std::move(services), skins_, "");
    window_->start();
    return *window_;
  }
  std::unique_ptr<MainWindow> window_;
  int friendsOpened_ = 0;
};

}  // namespace hv::launcher::testing
