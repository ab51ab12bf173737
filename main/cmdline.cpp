#include "main/cmdline.h"

#include "main/text.h"
#include "platform/gbk.h"
#include "utils/function.h"

namespace hv::launcher {

const std::vector<ModuleKind>& moduleKinds() {
  static const auto* kinds = new std::vector<ModuleKind>{
      {T("Lumo影"), "flash", ";SWF;"},
      {T("Lumo字"), "text", ";TXT;"},
      {T("Lumo音"), "music", ";MID;"},
      {T("Lumo图"), "image", ";JPG;PNG;BMP;GIF;"},
  };
  return *kinds;
}

namespace {

std::string stripQuotes(std::string_view s) {
  if (!s.empty() && s.front() == '"') s.remove_prefix(1);
  if (!s.empty() && s.back() == '"') s.remove_suffix(1);
  return std::string(s);
}

std::string tagOf(const std::string& line) {
  const size_t at = line.find(" -U:");
  if (at == std::string::npos) return {};
  const size_t start = at + 4;
  const size_t end = line.find(' ', start);
  return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// "-F" counts anywhere but at the very start of the line; otherwise the first "-f".
size_t typeOptionAt(const std::string& line) {
  size_t at = line.find("-F");
  if (at == std::string::npos || at == 0) at = line.find("-f");
  return at;
}

std::string moduleForWord(std::string_view word) {
  for (const auto& k : moduleKinds()) {
    if (equalsNoCase(word, k.typeWord)) return k.name;
  }
  return {};
}

std::string moduleForFile(std::string_view file) {
  const std::string key = ";" + upperAscii(CFunction::GetFileExtend(file)) + ";";
  for (const auto& k : moduleKinds()) {
    if (k.extensions.find(key) != std::string::npos) return k.name;
  }
  return {};
}

}  // namespace

CommandLine parseCommandLine(std::string_view raw) {
  CommandLine c;
  const std::string line = stripQuotes(trimBlanks(raw));
  c.tag = tagOf(line);
  c.hide = line.find("-hide") != std::string::npos;
  if (const size_t at = typeOptionAt(line); at != std::string::npos) {
    c.typeOption = true;
    c.module = moduleForWord(trimBlanks(std::string_view(line).substr(at + 2)));
    return c;
  }
  if (upperAscii(CFunction::GetFileExtend(line)) == "HDV") {
    c.handoffFile = line;
    return c;
  }
  c.file = std::string(trimBlanks(std::string_view(line).substr(0, line.find(' '))));
  c.module = moduleForFile(c.file);
  return c;
}

}  // namespace hv::launcher
