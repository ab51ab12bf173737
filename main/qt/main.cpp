// Handvane, the main program: one instance per user; later starts hand their command line to it.
//
//   Handvane [-hide] [-f text|image|flash|music] [file] [ -U:tag]
#include <QApplication>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "main/background.h"
#include "main/qt/boxes.h"
#include "main/qt/linked.h"
#include "main/qt/window.h"
#include "main/signon_services.h"
#include "platform/fs.h"
#include "platform/gbk.h"
#include "platform/web.h"
#include "ui/UI/helper.h"
#include "ui/qt/qtbackend.h"
#include "ui/qt/qtext.h"
#include "ui/views/views.h"
#include "utils/function.h"

namespace {

using hv::T;
namespace launcher = hv::launcher;

constexpr auto kUpdateStopWait = std::chrono::milliseconds(3000);
constexpr auto kBackgroundLatest = std::chrono::milliseconds(500);

// The text after the program name, as a Windows command line would hold it: arguments joined by
// blanks, an argument holding a blank in double quotes. Arguments are UTF-8; suite strings GBK
// (what GBK cannot carry becomes "?").
std::string commandLine(const std::vector<std::string>& args) {
  std::string line;
  for (const auto& a : args) {
    if (!line.empty()) line += ' ';
    std::string gbk = hv::ui::qt::fromQ(QString::fromUtf8(a.data(), qsizetype(a.size())));
    line += gbk.find(' ') == std::string::npos ? gbk : "\"" + gbk + "\"";
  }
  return line;
}

void startupError(const std::string& text) {
  hv::ui::messageBox(text, "Handvane", hv::ui::Icon::Stop);
}

}  // namespace

int main(int argc, char** argv) {
  // Qt takes its own options out of argv; the command line is what the user gave.
  const std::vector<std::string> args(argv + 1, argv + argc);
  QApplication app(argc, argv);
  app.setQuitOnLastWindowClosed(false);  // the hidden launcher lives on in the tray
  hv::ui::qt::installSuiteUi();
  launcher::registerBoxViews();
  const std::string line = commandLine(args);

  switch (launcher::acquireInstance()) {
    case launcher::InstanceStart::Failed:
      startupError(T("应用程序启动出现错误！请与发行商联系！"));
      return 1;
    case launcher::InstanceStart::Later: {
      std::string why;
      if (launcher::handOverToRunningInstance(line, why)) return 0;
      startupError(why);
      return 1;
    }
    case launcher::InstanceStart::First:
      break;
  }

  // Made when the background jobs start (the update client is loaded then).
  std::optional<hv::cookies::CookieStore> cookieStore;
  std::optional<hv::cookies::CookieChannel> channel;
  std::optional<launcher::HandoffWatcher> watcher;

  // The window the update check closes before the installer takes over; null outside its life.
  std::mutex windowMutex;
  launcher::MainWindow* mainWindow = nullptr;
  launcher::UpdateHooks hooks;
  hooks.copyInstaller = [] {
    return launcher::copyInstaller(hv::fs::programDirectory(), CFunction::GetTempPathA());
  };
  hooks.closeMainWindow = [&] {
    hv::ui::qt::runOnGui([&] {
      std::lock_guard lock(windowMutex);
      if (mainWindow) {
        mainWindow->close();                  // removes the tray icon
        mainWindow->done(QDialog::Rejected);  // also when it was hidden in the tray
      }
    });
  };
  hooks.downloadPage = hv::web::pageUrl("download.asp");
  // On the heap: a check still downloading when the program ends is left to the process's end.
  launcher::UpdateCheck* update = nullptr;

  int result = 0;
  // The cookie channel's watcher and the update check start once the window is on the screen
  // (or after half a second when it is not painted, started hidden); neither is needed sooner.
  bool backgroundStarted = false, backgroundFailed = false;
  {
    launcher::LauncherServices services;
    launcher::bindSignon(services);
    services.friendsDialog = launcher::friendsDialogEntry();
    services.pageUrl = [](std::string_view page) { return CHandvaneHelper::PageUrl(page); };
    services.openUrl = [](const std::string& url) { return CHandvaneHelper::OpenUrl(url) != 0; };
    services.readHandoff = [](const std::string& path) {
      launcher::readHandoffFile(path, launcher::loadHandoffComponent);
    };
    const std::string skins = hv::fs::resolveOrKeep(hv::fs::suiteHome() + "SKIN") + "/";
    launcher::MainWindow window(std::move(services), skins, line);
    QObject::connect(&window, &QDialog::finished, &app, [] { QApplication::quit(); });
    {
      std::lock_guard lock(windowMutex);
      mainWindow = &window;
    }
    const auto startBackground = [&] {
      if (std::exchange(backgroundStarted, true)) return;
      std::string why;
      auto client = launcher::patchclient(&why);
      if (client) {
        char version[32] = "1.2";
        client->getVersion(version, sizeof version);
        cookieStore.emplace(hv::cookies::defaultStorePath());
        channel.emplace(*cookieStore, hv::web::pageUrl("nrlm"), version);
        watcher.emplace(*channel, launcher::loadHandoffComponent);
        update = new launcher::UpdateCheck(std::move(*client), std::move(hooks));
      } else {
        std::fprintf(stderr, "Handvane: %s\n", why.c_str());
      }
      if (!client || !watcher->startChannel() || !update->start()) {
        backgroundFailed = true;
        startupError(T("对不起，启动程序时不能进行正常设置!"));
        window.done(QDialog::Rejected);
      }
    };
    window.setAfterFirstPaint(startBackground);
    QTimer::singleShot(kBackgroundLatest, &window, startBackground);
    window.start();
    launcher::registerInstanceWindow(window);
    result = app.exec();
    if (backgroundFailed) result = 1;
    {
      std::lock_guard lock(windowMutex);
      mainWindow = nullptr;
    }
    launcher::releaseInstance();
  }

  if (watcher) {
    watcher->requestStop();
    watcher->waitFinished(std::nullopt);
  }
  if (update) update->requestStop();
  if (update && update->waitFinished(kUpdateStopWait)) {
    const std::string installer = update->installer();
    delete update;
    // The installer replaces this process; it returns only when it could not be started.
    if (!installer.empty()) launcher::execInstaller(installer, hv::fs::programDirectory());
  }
  return result;
}
