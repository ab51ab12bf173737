// "截取屏幕" on a real X server: the test starts its own Xvfb (the display number chosen by the
// server), shows a window of one colour under the image dialog and captures. The captured screen
// shows that window where the dialog stood (the dialog was hidden while the screen was read), the
// dialog is back afterwards, and the capture is the dialog's new source picture.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QScreen>
#include <QWidget>
#include <string>

#include "modules/image/dialog.h"
#include "modules/image/imageview.h"
#include "platform/fs.h"
#include "ui/qt/binding.h"
#include "ui/qt/qtbackend.h"

namespace hv::pictport {
namespace {

constexpr int kScreenW = 800, kScreenH = 600;
const QColor kMarker(250, 0, 250);

pid_t xvfb = -1;

// Starts Xvfb on a display it picks itself; the display number, or -1.
int startXvfb() {
  int fds[2];
  if (::pipe(fds) != 0) return -1;
  const std::string fd = std::to_string(fds[1]);
  const std::string screen = std::to_string(kScreenW) + "x" + std::to_string(kScreenH) + "x24";
  xvfb = ::fork();
  if (xvfb == 0) {
    ::close(fds[0]);
    // The display goes with the test even when the test dies before its tear-down.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    ::execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(),
            "-nolisten", "tcp", "-br", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(fds[1]);
  std::string number;
  char c;
  while (::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  ::close(fds[0]);
  return number.empty() ? -1 : std::stoi(number);
}

class Marker : public QWidget {
 protected:
  void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), kMarker); }
};

class CaptureTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (::access("/usr/bin/Xvfb", X_OK) != 0) return;
    const int display = startXvfb();
    if (display < 0) return;
    setenv("DISPLAY", (":" + std::to_string(display)).c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    setenv("HANDVANE_HOME", HV_SUITE_DIR, 1);
    fs::resetSuiteHomeForTesting();
    static int argc = 1;
    static char name[] = "pictport-capture-test";
    static char* argv[] = {name, nullptr};
    app_ = new QApplication(argc, argv);
    ui::qt::install();
    registerImageView();
  }
  static void TearDownTestSuite() {
    delete app_;
    app_ = nullptr;
    if (xvfb > 0) {
      ::kill(xvfb, SIGTERM);
      ::waitpid(xvfb, nullptr, 0);
    }
  }
  template <class Pred>
  static bool waitFor(Pred pred) {
    QElapsedTimer t;
    t.start();
    while (!pred()) {
      if (t.elapsed() > 30000) return false;
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
  }
  QWidget* view(const CImageDialog& d) {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* b = ui::qt::bindingOf(w);
      if (b && &b->controller() == &d) return w;
    }
    return nullptr;
  }
  static QApplication* app_;
};
QApplication* CaptureTest::app_ = nullptr;

TEST_F(CaptureTest, DialogHidesWhileTheScreenIsReadAndComesBack) {
  if (!app_) GTEST_SKIP() << "no Xvfb";
  ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
  Marker marker;
  marker.setGeometry(0, 0, kScreenW, kScreenH);
  marker.show();
  ASSERT_TRUE(waitFor([&] { return marker.isVisible(); }));

  CImageDialog::Options o;
  o.moduleDir = std::string(HV_SUITE_DIR) + "/";
  auto dialog = std::make_shared<CImageDialog>(std::move(o));
  ui::backend().showModeless(dialog);
  QWidget* v = nullptr;
  ASSERT_TRUE(waitFor([&] { return (v = view(*dialog)) && v->isVisible(); }));
  v->move(40, 30);
  // The dialog is on the screen, over the marker, before the capture.
  ASSERT_TRUE(waitFor([&] {
    const QImage before = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    return QColor(before.pixel(40 + 320, 30 + 200)) != kMarker &&
           QColor(before.pixel(10, 10)) == kMarker;
  }));

  dialog->onCommand(CImageDialog::kCapture);
  ASSERT_TRUE(dialog->source());
  const Picture& shot = dialog->source()->picture;
  ASSERT_EQ(shot.width(), kScreenW);
  ASSERT_EQ(shot.height(), kScreenH);
  EXPECT_EQ(dialog->source()->kind, SourceKind::Colour);
  // Where the dialog stood, the marker was read: the dialog was hidden at that moment.
  for (auto [x, y] : {std::pair{360, 230}, {60, 50}, {650, 450}, {5, 5}}) {
    const Rgb p = shot.pixel(x, y);
    EXPECT_EQ(QColor(p.r, p.g, p.b), kMarker) << x << "," << y;
  }
  EXPECT_TRUE(v->isVisible());
  EXPECT_TRUE(v->isEnabled());
  ui::backend().close(*dialog);
}

}  // namespace
}  // namespace hv::pictport
