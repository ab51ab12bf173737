#include "main/modules.h"

#include <dlfcn.h>

#include "platform/fs.h"

namespace hv::launcher {

void* ModuleLibraries::load(const std::string& path) {
  std::lock_guard lock(mutex_);
  if (auto it = loaded_.find(path); it != loaded_.end()) return it->second;
  void* handle = nullptr;
  if (auto os = fs::osPath(path)) {
    // RTLD_LOCAL: two modules may carry symbols of the same name; RTLD_NOW: a library with
    // unresolved symbols is refused here rather than failing inside a launch.
    handle = ::dlopen(os->c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
      const char* e = ::dlerror();
      lastError_ = e ? e : "dlopen failed";
    }
  }
  loaded_[path] = handle;
  return handle;
}

bool ModuleLibraries::launch(void* library, const std::string& receiver, const std::string& file,
                             const std::string& tag) {
  if (!library) return false;
  void* symbol = ::dlsym(library, "DoConvert");
  if (!symbol) return false;
  reinterpret_cast<DoConvertFn>(symbol)(receiver.c_str(), file.c_str(), tag.c_str());
  return true;
}

std::string ModuleLibraries::lastError() const {
  std::lock_guard lock(mutex_);
  return lastError_;
}

}  // namespace hv::launcher
