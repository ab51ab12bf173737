// Any bytes must parse as a profile, and what it prints must parse back to the same values.
#include <cstdint>
#include <string>

#include "platform/profile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  hv::Profile p = hv::Profile::parse(text);
  hv::Profile again = hv::Profile::parse(p.text());
  for (const auto& s : p.sections())
    for (const auto& k : p.keys(s))
      if (p.get(s, k) != again.get(s, k)) __builtin_trap();
  p.set("Fuzz", "key", "value");
  if (hv::Profile::parse(p.text()).get("fuzz", "KEY") != "value") __builtin_trap();
  return 0;
}
