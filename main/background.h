#pragma once
// The two background jobs of the running program: the web hand-off watcher (the cookie channel
// with the service's web site) and the update check. Start-up starts the watcher, then the update
// check; after the window closed the watcher is stopped and waited for without limit, the update
// check is stopped and given at most 3000 ms.
//
// Both jobs poll a stop flag and mark themselves finished on every way out, so the main
// thread's waits never wait on a thread that has ended.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

#include "cookies/channel.h"

namespace hv::launcher {

class BackgroundJob {
 public:
  virtual ~BackgroundJob();
  // Starts the job's thread; false when it cannot be started.
  bool start();
  // Sets the stop flag.
  void requestStop();
  // Waits until the thread has finished; true when it has (or never ran). Without a limit when
  // timeout is nullopt.
  bool waitFinished(std::optional<std::chrono::milliseconds> timeout);
  bool started() const { return thread_.joinable(); }

 protected:
  bool stopRequested() const { return stop_.load(); }
  // Waits up to d or until a stop is requested; true when stopped.
  bool sleepFor(std::chrono::milliseconds d);
  // The job's work, on its thread; returns when done or stopped.
  virtual void run() = 0;

 private:
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable wake_;
  bool finished_ = false;
};

// The web hand-off component (libWebhand.so): called with the decoded address, the identifier
// and 2.
struct HandoffComponent {
  std::function<int(const std::string& address, const std::string& id, int mode)> open;
};
// A library beside the program (the first instance's own folder), loaded with RTLD_NOW for the
// rest of the run; null, with the loader's reason in `error` when given, when it cannot be.
void* openProgramLibrary(const char* name, std::string* error = nullptr);

// Creates the component; nullopt when it cannot be (then requests are ignored).
using HandoffFactory = std::function<std::optional<HandoffComponent>()>;
// libWebhand.so beside the program, with the user's proxy from the login settings.
std::optional<HandoffComponent> loadHandoffComponent();

// Watches the cookie channel for download requests: every poll interval (200 ms) it reads the
// channel's cookies and hands a request to the component. The channel is announced ("INSTALL",
// "START") before the thread starts; "START" becomes "NO" when it is stopped.
class HandoffWatcher : public BackgroundJob {
 public:
  HandoffWatcher(cookies::CookieChannel& channel, HandoffFactory factory,
                 std::chrono::milliseconds interval = std::chrono::milliseconds(200));
  // Announces the channel and starts the thread; false when the cookies cannot be set or the
  // thread cannot start.
  bool startChannel();

 protected:
  void run() override;

 private:
  cookies::CookieChannel& channel_;
  HandoffFactory factory_;
  std::chrono::milliseconds interval_;
};

// The update client's calls that the update check makes (updater/client/patchclient.h).
struct UpdateClient {
  std::function<int()> initialize;
  std::function<int()> checkUpdate;
  std::function<int()> createUpdateProcess;
  std::function<int()> getUpdateItemCount;
  std::function<int(int, void*)> getUpdateItem;
  std::function<int(void*, void*, void*)> downloadUpdateItem;
  std::function<int(int, void*)> setUpdateItem;
  std::function<int()> checkUpdateLocal;
  std::function<int(char*, int)> getVersion;
};
// The update client, libPatchclient.so beside the program. It is loaded when the background jobs
// start, after the window is on the screen: nothing before needs it. nullopt, with the reason in
// `error` when given, when the library or one of its calls is missing.
std::optional<UpdateClient> patchclient(std::string* error = nullptr);

// How the update check meets the rest of the program.
struct UpdateHooks {
  // Waits d or until stopped; true when stopped (default: the job's own sleep).
  std::function<bool(std::chrono::milliseconds d)> sleep;
  std::function<bool(const std::string& path)> fileExists;
  // Copies the installer into the temporary folder; the copied program's path, or "" on failure.
  std::function<std::string()> copyInstaller;
  // Closes the main window (when there is one) and returns once the close was handled.
  std::function<void()> closeMainWindow;
  std::string downloadPage;  // the web site's "/download.asp"
};

// Checks for a newer version, downloads it and offers to install it. When the user agrees, the
// main window is closed and installer() names the copied Patchrun, which the program then
// becomes (execInstaller) once it has shut down. A check still running when the program ends
// (a download in progress) is left to the end of the process: keep it on the heap.
class UpdateCheck : public BackgroundJob {
 public:
  UpdateCheck(UpdateClient client, UpdateHooks hooks);
  std::string installer() const;

 protected:
  void run() override;

 private:
  bool wait(std::chrono::milliseconds d);
  UpdateClient client_;
  UpdateHooks hooks_;
  mutable std::mutex installerMutex_;
  std::string installer_;
};

// Copies "Patchrun" and "libPatchclient.so" from programFolder into tempFolder (overwriting);
// the copied program's path, or "" when a copy failed.
std::string copyInstaller(const std::string& programFolder, const std::string& tempFolder);
// Replaces the process with the installer, telling it where the installation is. Returns only
// when that failed.
void execInstaller(const std::string& program, const std::string& installFolder);

// Reads a ".hdv" hand-off file (at most 4095 bytes, "URL=" and "ID=") and hands its request to
// the component.
void readHandoffFile(const std::string& path, const HandoffFactory& factory);

}  // namespace hv::launcher
