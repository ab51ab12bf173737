// A Smart Messaging ringing-tone body.
#include <cstddef>
#include <cstdint>

#include "service-server/phone/decode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string problem;
  hv::phone::decodeNokiaRingtone({data, size}, &problem);
  return 0;
}
