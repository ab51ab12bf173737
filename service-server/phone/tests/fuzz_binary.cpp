// Short messages as the service stores them, cut from the input at 0xFF 0xFE pairs; decoded as a
// series the way the virtual phone does.
#include <cstddef>
#include <cstdint>

#include "service-server/phone/decode.h"
#include "service-server/phone/media.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<hv::phone::Bytes> uds(1);
  for (size_t i = 0; i < size; ++i) {
    if (i + 1 < size && data[i] == 0xFF && data[i + 1] == 0xFE) {
      uds.emplace_back();
      ++i;
      continue;
    }
    uds.back().push_back(data[i]);
  }
  for (const auto& item : hv::phone::decodeBinary(uds)) {
    if (item.bitmap.width > 0) hv::phone::encodePng(item.bitmap, 2);
    if (!item.melody.notes.empty()) hv::phone::renderWav(item.melody, 2);
  }
  return 0;
}
