// A BMP file (the Siemens object), an OTA bitmap and an Alcatel column bitmap from the same bytes.
#include <cstddef>
#include <cstdint>

#include "service-server/phone/decode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  hv::phone::decodeBmp1({data, size});
  hv::phone::decodeOtaBitmap({data, size});
  hv::phone::decodeColumnBitmap({data, size});
  return 0;
}
