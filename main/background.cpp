#include "main/background.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "login/login_settings.h"
#include "platform/fs.h"
#include "platform/gbk.h"
#include "ui/core/ui.h"

namespace hv::launcher {

namespace {
// The update item record: the local path at 512 and the done flag at 1028 of 1032 bytes.
constexpr size_t kItemRecordSize = 1032;
constexpr size_t kItemPathOffset = 512;
constexpr size_t kItemDoneOffset = 1028;
// What a hand-off file may hold.
constexpr size_t kMaxHandoffBytes = 4095;
}  // namespace

BackgroundJob::~BackgroundJob() {
  requestStop();
  // A job that outlived its time-out is detached: the process is ending and it polls its flag.
  if (thread_.joinable()) {
    if (waitFinished(std::chrono::milliseconds(0))) {
      thread_.join();
    } else {
      thread_.detach();
    }
  }
}

bool BackgroundJob::start() {
  if (thread_.joinable()) return true;
  try {
    thread_ = std::thread([this] {
      run();
      std::lock_guard lock(mutex_);
      finished_ = true;
      wake_.notify_all();
    });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void BackgroundJob::requestStop() {
  std::lock_guard lock(mutex_);
  stop_ = true;
  wake_.notify_all();
}

bool BackgroundJob::waitFinished(std::optional<std::chrono::milliseconds> timeout) {
  if (!thread_.joinable()) return true;
  std::unique_lock lock(mutex_);
  if (timeout) return wake_.wait_for(lock, *timeout, [&] { return finished_; });
  wake_.wait(lock, [&] { return finished_; });
  return true;
}

bool BackgroundJob::sleepFor(std::chrono::milliseconds d) {
  std::unique_lock lock(mutex_);
  return wake_.wait_for(lock, d, [&] { return stop_.load(); });
}

HandoffWatcher::HandoffWatcher(cookies::CookieChannel& channel, HandoffFactory factory,
                               std::chrono::milliseconds interval)
    : channel_(channel), factory_(std::move(factory)), interval_(interval) {}

bool HandoffWatcher::startChannel() {
  return channel_.announce() && start();
}

void HandoffWatcher::run() {
  std::optional<HandoffComponent> component = factory_ ? factory_() : std::nullopt;
  if (!component) return;  // nothing can be fetched: the channel is left as announced
  while (!stopRequested()) {
    channel_.poll([&](const std::string& address, const std::string& id) {
      component->open(address, id, 2);
    });
    if (!stopRequested()) sleepFor(interval_);
  }
  channel_.announceStopped();
}

void* openProgramLibrary(const char* name, std::string* error) {
  const std::string path = fs::programDirectory() + name;
  auto os = fs::osPath(path);
  void* lib = os ? ::dlopen(os->c_str(), RTLD_NOW | RTLD_LOCAL) : nullptr;
  if (!lib && error) {
    const char* why = os ? ::dlerror() : nullptr;
    *error = why ? why : path + ": not a usable path";
  }
  return lib;
}

std::optional<HandoffComponent> loadHandoffComponent() {
  void* lib = openProgramLibrary("libWebhand.so");
  if (!lib) return std::nullopt;  // stays loaded for the rest of the run
  using Open = int (*)(const char*, const char*, int);
  using SetProxy = void (*)(int, const char*, int, const char*, const char*);
  auto open = reinterpret_cast<Open>(::dlsym(lib, "HANDOFF_Open"));
  auto setProxy = reinterpret_cast<SetProxy>(::dlsym(lib, "HANDOFF_SetProxy"));
  if (!open) return std::nullopt;
  if (setProxy) {
    if (auto settings = login::loadSettings(login::settingsPath(), false)) {
      const int type = login::proxyTypeCode(settings->proxyType);
      if (type != 0) {
        setProxy(type, settings->proxyHost, settings->proxyPort, settings->proxyUser,
                 settings->proxyPassword);
      }
    }
  }
  return HandoffComponent{[open](const std::string& a, const std::string& id, int mode) {
    return open(a.c_str(), id.c_str(), mode);
  }};
}

std::optional<UpdateClient> patchclient(std::string* error) {
  void* lib = openProgramLibrary("libPatchclient.so", error);
  if (!lib) return std::nullopt;
  bool complete = true;
  auto call = [&]<typename Fn>(Fn*& fn, const char* name) {
    fn = reinterpret_cast<Fn*>(::dlsym(lib, name));
    if (!fn && complete && error) *error = std::string("libPatchclient.so has no ") + name;
    complete = complete && fn;
  };
  int (*initialize)(), (*checkUpdate)(), (*createUpdateProcess)(), (*getUpdateItemCount)();
  int (*getUpdateItem)(int, void*), (*downloadUpdateItem)(void*, void*, void*);
  int (*setUpdateItem)(int, void*), (*checkUpdateLocal)(), (*getVersion)(char*, int);
  call(initialize, "UPDATE_Initialize");
  call(checkUpdate, "UPDATE_CheckUpdate");
  call(createUpdateProcess, "UPDATE_CreateUpdateProcess");
  call(getUpdateItemCount, "UPDATE_GetUpdateItemCount");
  call(getUpdateItem, "UPDATE_GetUpdateItem");
  call(downloadUpdateItem, "UPDATE_DownloadUpdateItem");
  call(setUpdateItem, "UPDATE_SetUpdateItem");
  call(checkUpdateLocal, "UPDATE_CheckUpdateLocal");
  call(getVersion, "UPDATE_GetVersion");
  if (!complete) return std::nullopt;
  return UpdateClient{initialize,         checkUpdate,      createUpdateProcess,
                      getUpdateItemCount, getUpdateItem,    downloadUpdateItem,
                      setUpdateItem,      checkUpdateLocal, getVersion};
}

UpdateCheck::UpdateCheck(UpdateClient client, UpdateHooks hooks)
    : client_(std::move(client)), hooks_(std::move(hooks)) {}

std::string UpdateCheck::installer() const {
  std::lock_guard lock(installerMutex_);
  return installer_;
}

bool UpdateCheck::wait(std::chrono::milliseconds d) {
  return hooks_.sleep ? hooks_.sleep(d) : sleepFor(d);
}

void UpdateCheck::run() {
  using std::chrono::milliseconds;
  if (wait(milliseconds(1000))) return;
  if (client_.initialize() != 0) return;
  int check = client_.checkUpdate();
  while (check < 0) {
    // No answer: ask again in 300 s, in steps of 100 ms so that a stop ends the wait.
    for (int step = 0; step < 3000; ++step) {
      if (wait(milliseconds(100))) return;
    }
    check = client_.checkUpdate();
  }
  if (check == 1) {
    ui::messageBox(T("Lumoi客户端有了更新的版本，请登陆") + hooks_.downloadPage + T("下载更新！"),
                   T("更新"), ui::Icon::Information);
    return;
  }
  if (stopRequested() || client_.createUpdateProcess() != 0) return;
  const int count = client_.getUpdateItemCount();
  std::vector<unsigned char> item(kItemRecordSize);
  for (int i = 0; i < count;) {
    if (stopRequested()) return;
    std::fill(item.begin(), item.end(), 0);
    if (client_.getUpdateItem(i, item.data()) == 0) {
      if (wait(milliseconds(100))) return;
      continue;
    }
    uint32_t done = 0;
    std::memcpy(&done, item.data() + kItemDoneOffset, sizeof done);
    const char* local = reinterpret_cast<const char*>(item.data() + kItemPathOffset);
    const std::string localPath(local, strnlen(local, kItemDoneOffset - kItemPathOffset));
    const bool exists = hooks_.fileExists ? hooks_.fileExists(localPath) : fs::exists(localPath);
    if (done != 0 || (!localPath.empty() && exists)) {
      if (wait(milliseconds(100))) return;
      ++i;
      continue;
    }
    if (client_.downloadUpdateItem(item.data(), nullptr, nullptr) == 0) {
      client_.setUpdateItem(i, item.data());
      ++i;
    } else if (wait(milliseconds(100))) {
      return;
    }
  }
  if (stopRequested()) return;
  if (client_.initialize() != 0 || client_.checkUpdateLocal() != 0) return;
  if (ui::messageBox(T("检查到新的版本，是否现在就进行更新？"), "Handvane", ui::Icon::Question,
                     ui::Buttons::YesNo) != ui::Answer::Yes) {
    return;
  }
  const std::string program = hooks_.copyInstaller ? hooks_.copyInstaller() : std::string();
  if (program.empty()) return;
  {
    std::lock_guard lock(installerMutex_);
    installer_ = program;
  }
  if (hooks_.closeMainWindow) hooks_.closeMainWindow();
}

std::string copyInstaller(const std::string& programFolder, const std::string& tempFolder) {
  if (tempFolder.empty()) return {};
  for (const char* name : {"Patchrun", "libPatchclient.so"}) {
    if (!fs::copyFile(programFolder + name, tempFolder + name, true)) return {};
  }
  auto os = fs::osPath(tempFolder + "Patchrun");
  if (!os || ::chmod(os->c_str(), 0700) != 0) return {};
  return tempFolder + "Patchrun";
}

void execInstaller(const std::string& program, const std::string& installFolder) {
  auto os = fs::osPath(program);
  auto install = fs::osPath(installFolder);
  if (!os || !install) return;
  ::setenv("HANDVANE_INSTALL_DIR", install->c_str(), 1);
  // The copied update client first, the installation's other libraries after it.
  const std::string folder = os->substr(0, os->rfind('/'));
  ::setenv("LD_LIBRARY_PATH", (folder + ":" + *install).c_str(), 1);
  char* argv[] = {os->data(), nullptr};
  ::execv(os->c_str(), argv);
}

void readHandoffFile(const std::string& path, const HandoffFactory& factory) {
  const int fd = fs::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  // No one else may change it while it is read.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return;
  }
  std::string text(kMaxHandoffBytes, '\0');
  size_t got = 0;
  while (got < text.size()) {
    const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
    if (n <= 0) break;
    got += size_t(n);
  }
  ::close(fd);
  if (got == 0) return;
  text.resize(strnlen(text.data(), got));
  const std::string url = cookies::channelItem(text, "URL=");
  const std::string id = cookies::channelItem(text, "ID=");
  std::optional<HandoffComponent> component = factory ? factory() : std::nullopt;
  if (!component) return;
  component->open(cookies::decodeAddress(url), id, 2);
}

}  // namespace hv::launcher
