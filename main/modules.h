#pragma once
// The conversion modules: plug-in libraries named by the skin's entries, loaded with dlopen and
// kept loaded until the program ends (a module's dialog keeps running after DoConvert returned,
// and a skin change must not pull its code away).
#include <map>
#include <mutex>
#include <string>

namespace hv::launcher {

// int DoConvert(const char* receiver, const char* file, const char* tag)
using DoConvertFn = int (*)(const char*, const char*, const char*);

class ModuleLibraries {
 public:
  // The library at path (loaded on first request); null when it cannot be loaded, which leaves
  // its entry without effect. A failure is remembered, so a broken file is tried once per run.
  void* load(const std::string& path);
  // Looks DoConvert up at every launch and calls it; false (nothing reported) when the library
  // is null or has no DoConvert.
  static bool launch(void* library, const std::string& receiver, const std::string& file,
                     const std::string& tag);
  // What dlopen said about the last library that could not be loaded (for diagnostics).
  std::string lastError() const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, void*> loaded_;
  std::string lastError_;
};

}  // namespace hv::launcher
