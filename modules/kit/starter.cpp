#include "modules/kit/starter.h"

#include <unistd.h>

#include "platform/fs.h"
#include "platform/gbk.h"
#include "platform/kernel.h"
#include "ui/core/ui.h"

namespace hv::modkit {

namespace {
constexpr char kProgram[] = "Handvane";

bool runnable(const std::string& path) {
  auto os = fs::osPath(path);
  return os && fs::exists(path) && !fs::isDirectory(path) && ::access(os->c_str(), X_OK) == 0;
}
}  // namespace

const char* typeWord(ModuleType type) {
  switch (type) {
    case ModuleType::Text:
      return "text";
    case ModuleType::Image:
      return "image";
    case ModuleType::Flash:
      return "flash";
    case ModuleType::Music:
      return "music";
  }
  return "";
}

const char* describe(StartFailure failure) {
  switch (failure) {
    case StartFailure::NoProgram:
      return "the main program is not installed";
    case StartFailure::NotStarted:
      return "the main program could not be started";
  }
  return "unknown failure";
}

std::string mainProgramPath() {
  for (const std::string& dir : {fs::suiteHome(), fs::programDirectory()}) {
    if (runnable(dir + kProgram)) return dir + kProgram;
  }
  return {};
}

std::optional<StartFailure> startModule(ModuleType type, bool hide) {
  const std::string program = mainProgramPath();
  if (program.empty()) return StartFailure::NoProgram;
  std::vector<std::string> argv{program};
  if (hide) argv.emplace_back("-hide");
  argv.emplace_back("-f");
  argv.emplace_back(typeWord(type));
  // The child is reaped by the Process object's reaper; nobody waits for it.
  if (!Process::start(argv)) return StartFailure::NotStarted;
  return std::nullopt;
}

bool startModuleOrTell(ModuleType type, bool hide) {
  if (!startModule(type, hide)) return true;
  ui::messageBox(T("请重新安装Lumo客户端程序！"), T("Lumo"), ui::Icon::Stop);
  return false;
}

}  // namespace hv::modkit
