// Any bytes through the WAVE reader: no read outside the buffer, and what it takes back writes
// back to the same samples.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "modules/music/core/tone.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  int rate = 0;
  const auto samples = hv::ringport::wavSamples(bytes, &rate);
  if (!samples.empty() && hv::ringport::wavSamples(hv::ringport::wavBytes(samples)) != samples) {
    std::abort();
  }
  return 0;
}
