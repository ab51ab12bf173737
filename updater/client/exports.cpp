// The exported UPDATE_ functions over one Updater per process.
//
// Where things are: the installation is $HANDVANE_INSTALL_DIR when set (Handvane sets it for the
// copy of Patchrun it starts from the temporary folder), else the folder of the running program.
// The manifest's address is $HANDVANE_UPDATE_URL, else [Update] Manifest of "DATA/web.ini" in
// the suite's home, else "update/manifest.txt" below the web site's base address.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/fs.h"
#include "platform/profile.h"
#include "platform/web.h"
#include "updater/client/patchclient.h"
#include "updater/client/updater.h"

namespace {

using hv::update::UpdateItemRecord;
using hv::update::Updater;

std::mutex gMutex;
std::unique_ptr<Updater> gUpdater;

hv::update::UpdaterConfig configFromEnvironment() {
  hv::update::UpdaterConfig c;
  const char* install = std::getenv("HANDVANE_INSTALL_DIR");
  c.installDir = install && *install ? install : hv::fs::programDirectory();
  const char* url = std::getenv("HANDVANE_UPDATE_URL");
  if (url && *url) {
    c.manifestUrl = url;
  } else {
    const std::string ini = hv::fs::resolveOrKeep(hv::fs::suiteHome() + "DATA/web.ini");
    c.manifestUrl = hv::profile::getString(ini, "Update", "Manifest", "");
    if (c.manifestUrl.empty()) c.manifestUrl = hv::web::pageUrl("update/manifest.txt");
  }
  return c;
}

Updater& updater() {
  if (!gUpdater) gUpdater = std::make_unique<Updater>(configFromEnvironment());
  return *gUpdater;
}

UpdateItemRecord* record(void* item) {
  return static_cast<UpdateItemRecord*>(item);
}

}  // namespace

extern "C" {

int UPDATE_Initialize() {
  std::lock_guard lock(gMutex);
  gUpdater.reset();
  return updater().initialize();
}

int UPDATE_CheckUpdate() {
  std::lock_guard lock(gMutex);
  return updater().checkUpdate();
}

int UPDATE_CreateUpdateProcess() {
  std::lock_guard lock(gMutex);
  return updater().createUpdateProcess();
}

int UPDATE_GetUpdateItemCount() {
  std::lock_guard lock(gMutex);
  return updater().itemCount();
}

int UPDATE_GetUpdateItem(int index, void* item) {
  if (!item) return 0;
  std::lock_guard lock(gMutex);
  return updater().getItem(index, *record(item)) ? 1 : 0;
}

int UPDATE_DownloadUpdateItem(void* item, void*, void*) {
  if (!item) return -1;
  std::lock_guard lock(gMutex);
  return updater().downloadItem(*record(item));
}

int UPDATE_SetUpdateItem(int index, void* item) {
  if (!item) return -1;
  std::lock_guard lock(gMutex);
  return updater().setItem(index, *record(item));
}

int UPDATE_CheckUpdateLocal() {
  std::lock_guard lock(gMutex);
  return updater().checkLocal();
}

int UPDATE_ExecuteUpdateItem(void* item) {
  if (!item) return -1;
  std::lock_guard lock(gMutex);
  return updater().executeItem(*record(item));
}

int UPDATE_FinishedUpdate() {
  std::lock_guard lock(gMutex);
  return updater().finished();
}

int UPDATE_GetVersion(char* buffer, int size) {
  std::lock_guard lock(gMutex);
  const std::string v = updater().installedVersion();
  if (!buffer || size <= 0 || v.size() >= size_t(size)) return -1;
  std::memcpy(buffer, v.c_str(), v.size() + 1);
  return int(v.size());
}
}
