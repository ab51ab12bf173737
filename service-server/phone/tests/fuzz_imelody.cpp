// An iMelody text.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "service-server/phone/decode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string problem;
  hv::phone::decodeIMelody({reinterpret_cast<const char*>(data), size}, &problem);
  return 0;
}
