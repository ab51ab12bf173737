// Skin files of any content: the reader never crashes and never yields an invalid entry.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "main/skin.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto skin = hv::launcher::parseSkin(text, "/nonexistent/SKIN/f.skin");
  for (const auto& e : skin.entries) {
    if (e.type.empty() || e.name.empty() || e.rect0.allZero()) std::abort();
  }
  return 0;
}
