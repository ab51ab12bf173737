#pragma once
// The main program's command line: what a start (or a later start handing its line over) asks
// the running launcher to do. Pure parsing; carrying it out is the Launcher's business.
//
//   [-hide] [-f|-F text|image|flash|music] [file] [ -U:tag]
//
// The rules are positional and deliberately literal (a path that contains "-f" reads as a type
// option; a path with a blank is cut at the blank), because the web site and the other modules
// build these lines and rely on exactly this reading.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hv::launcher {

// The launcher's module names (GBK) and the file extensions each handles.
struct ModuleKind {
  std::string name;        // "Lumo字", ...
  std::string typeWord;    // "text", ...
  std::string extensions;  // ";TXT;"
};
// In the order files are matched: animation, text, music, image.
const std::vector<ModuleKind>& moduleKinds();

struct CommandLine {
  std::string tag;          // the " -U:" value, "" when absent
  bool hide = false;        // "-hide" somewhere on the line
  bool typeOption = false;  // "-f"/"-F" was present (whether or not its word matched)
  std::string handoffFile;  // the whole line, when it names a ".hdv" hand-off file
  std::string file;         // the file part given to the module
  std::string module;       // the module to launch (GBK name), "" for none
};

CommandLine parseCommandLine(std::string_view line);

}  // namespace hv::launcher
