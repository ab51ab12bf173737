#pragma once
// Starting another module through the main program: the buttons in a module dialog's header
// start "Handvane -f <type>". A main program that runs already takes the command line over
// through its single-instance channel and opens the module; otherwise the new one does.
#include <optional>
#include <string>

#include "include/handvane/export.h"

namespace hv::modkit {

enum class ModuleType { Text, Image, Flash, Music };

// The type word of the main program's command line: "text", "image", "flash", "music".
HV_EXPORT const char* typeWord(ModuleType type);

enum class StartFailure { NoProgram, NotStarted };
HV_EXPORT const char* describe(StartFailure failure);

// The main program: "Handvane" in the suite's home, else beside the running program (a home
// filled from the installation holds no programs). Empty when neither exists.
HV_EXPORT std::string mainProgramPath();

// Starts the main program with "-f <type>", preceded by "-hide" when hide is set (the launcher
// window then stays hidden), without waiting for it. No failure when it started.
HV_EXPORT std::optional<StartFailure> startModule(ModuleType type, bool hide = false);
// startModule, telling the user "请重新安装Lumo客户端程序！" (caption "Lumo") when the program
// cannot be started. True when it started.
HV_EXPORT bool startModuleOrTell(ModuleType type, bool hide = false);

}  // namespace hv::modkit
