// Command lines of any bytes: the parser never crashes and names only known modules.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "main/cmdline.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  const auto c = hv::launcher::parseCommandLine(line);
  bool known = c.module.empty();
  for (const auto& k : hv::launcher::moduleKinds()) known = known || k.name == c.module;
  if (!known || c.file.size() > line.size()) std::abort();
  return 0;
}
